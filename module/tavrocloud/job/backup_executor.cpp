#include "tavrocloud/job/backup_executor.h"

#include "client_io/util.h"
#include "identity/host_manager.h"
#include "job_engine/job_alert.h"
#include "json_spirit/extract.h"
#include "pool/compression.h"
#include "pool/pool_info.h"
#include "tavrocloud/common/utils.h"
#include "tavrocloud/job/job_run.h"
#include "yolt/check.h"
#include "yolt/string_sprintf.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <climits>

namespace tavrocloud {

namespace {

const char VIRTUAL_MACHINE[] = "VirtualMachine";

}  // namespace

Backup_Executor::Backup_Executor(Job& job) : Job_Executor_T(job), stop_progress_event_(0, 0) {}

Backup_Executor::~Backup_Executor() = default;

void Backup_Executor::alert(unsigned long id, const json_spirit::Value& args) {
  write_job_alert(job_, Error_ID::LEVEL_ERROR, id, 0, args, 1);
}

bool Backup_Executor::execute_i(const Action_Options* opts) {
  YOLT_CHECK_NULL(src_, false);
  YOLT_CHECK_NULL(opts_, false);
  if (!init() || !resolve_entries() || !resolve_params() || !resolve_action_options(opts))
    return false;
  print_info();
  if (def_.subtype() != JOB_DEFINITION_SUBTYPE_FULL) {
    ACE_ERROR((LM_ERROR, "Unsupported tavrocloud backup type %s.\n",
               job_def_subtype_to_string(def_.subtype(), 0)));
    return false;
  }
  if (!do_full_backup()) return false;
  ACE_DEBUG((LM_INFO, "Backup all tavrocloud instances success.\n"));
  act_.set_storage_size = storage_size_.load();
  act_.set_size = set_size_.load();
  act_.size = source_size_.load();
  return true;
}

bool Backup_Executor::init() {
  if (!log_in(job_, def_.host_id(), login_info_, client_)) return false;
  if (!client_->agent_instance_id(agent_instance_id_)) {
    ACE_ERROR((LM_ERROR, "Failed to get tavro agent instance id.\n"));
    return false;
  }
  support_tmp_snapshot_ = support_tmp_snapshot(client_->version());
  return true;
}

bool Backup_Executor::resolve_params() {
  YOLT_CHECK_JSON_OBJECT(opts_->value(), false);
  const json_spirit::Object& opts = opts_->value().get_obj();
  Base_Params& base = params_.base;
  Client_IO_Base::Options& io_opts = base.io_opts;
  io_opts.compression_level = 1;
  const std::string* compression = nullptr;
  json_spirit::extract(opts)("compression", compression)(
      "compression_level", io_opts.compression_level)("parallel_vms", base.parallel_vms)(
      "parallel_vms_per_host", base.parallel_vms_per_host)(
      "parallel_disks_per_vm", base.parallel_disks_per_vm)(
      "storage_reserved_bytes", params_.storage_reserved_bytes)(
      "storage_reserved_percent", params_.storage_reserved_percent)(
      "restart_vm", params_.restart_vm)("reserve_snapshot", params_.reserve_snapshot);

  io_opts.max_seconds_retry = def_.max_seconds_retry();
  const Compression_Method named =
      compression != nullptr ? compression_name_to_value(*compression, -1) : COMPR_AUTO;
  io_opts.compression_method = named == COMPR_NONE ? COMPR_AUTO : named;
  // A name the pool does not know is told in compression_name_to_value's warning.

  if (!get_pool_info(tgt_.id().c_str(), tgt_.device_id().c_str(), pool_info_, false,
                     def_.max_seconds_retry(), nullptr, true, nullptr, nullptr, false)) {
    ACE_ERROR((LM_ERROR, "Failed to get tavro information of storage pool ID=%s, NAME=%s.\n",
               tgt_.id().c_str(), tgt_.name().c_str()));
    return false;
  }
  set_options_by_job_def(io_opts, def_, 1);
  set_d2t_access_mode(io_opts);
  set_options_by_host(io_opts);
  if (!set_options_by_pool(io_opts, pool_info_)) {
    ACE_ERROR((LM_ERROR, "Failed to set tavro IO options by pool.\n"));
    return false;
  }

  const int instances = static_cast<int>(std::min<size_t>(backup_instances_.size(), INT_MAX));
  base.parallel_vms = std::min(base.parallel_vms, instances);
  base.parallel_vms_per_host = std::min(base.parallel_vms_per_host, instances);

  const Host_Manager& host = Host_Manager::instance();
  base.agent_instance_id = agent_instance_id_;
  base.support_tmp_snapshot = support_tmp_snapshot_;
  params_.backup_type = def_.subtype();
  base.def_id = def_.id();
  base.def_name = def_.name();
  base.host_id = def_.host_id();
  base.resource_uuid = src_->id();
  base.agent = def_.agent();
  base.pool_uuid = tgt_.id();
  base.target_device_id = tgt_.device_id();
  base.access_key = host.access_key();
  base.backupd_host = host.websocket_options().host();
  base.backupd_port = host.websocket_options().port();
  base.backupd_ssl = host.websocket_options().ssl();
  base.max_seconds_retry = def_.max_seconds_retry();
  base.retry_count = def_.retry_count();
  base.retry_internal = def_.retry_interval();
  base.login_info = login_info_;
  params_.pool_url = string_sprintf("%s/%s/%s", pool_info_.url.c_str(),
                                          def_.host_id().c_str(), def_.id().c_str());
  return true;
}

bool Backup_Executor::resolve_action_options(const Action_Options* opts) {
  if (opts == nullptr) return true;
  auto it = opts->find(ACTION_OPTION_RETRY_ENTRIES);
  if (it == opts->end() || it->second.type() != json_spirit::array_type) return true;
  for (const json_spirit::Value& v : it->second.get_array()) {
    if (v.type() != json_spirit::obj_type) continue;
    const std::string* id = nullptr;
    const std::string* type = nullptr;
    json_spirit::extract(v.get_obj())("id", id)("type", type);
    if (id != nullptr && type != nullptr && *type == VIRTUAL_MACHINE)
      retry_entries_.emplace(*id, v);
  }
  return true;
}

void Backup_Executor::print_info() const {
  for (const Instance_Backup_Info& info : backup_instances_)
    ACE_DEBUG((LM_INFO, "tavro instance id: %s, tavro instance name: %s.\n",
               info.instance_id.c_str(), info.instance_name.c_str()));
  ACE_DEBUG((LM_INFO,
             "\nJob Definition:\n\tid %s\n\ttype %s\n\tsubtype %s\n\tmax seconds retry "
             "%B\n\tretry count %B\n\tretry interval %B\n\tresumption buffer size %B\n",
             def_.id().c_str(), job_definition_type_to_string(def_.type(), 0),
             job_def_subtype_to_string(def_.subtype(), 0), def_.max_seconds_retry(),
             def_.retry_count(), def_.retry_interval(), def_.resumption_buffer_size()));
  const Base_Params& base = params_.base;
  ACE_DEBUG((LM_INFO,
             "\nJob Params:\n\tcompression level %d\n\tcompression method %d\n\tparallel vms "
             "%d\n\tparallel vms per host %d\n\tparallel disks per vm %d\n\tstorage reserved "
             "bytes %Q\n\tstorage reserved percent %d%%\n\tsupport tmp snapshot: %d\n\tagent "
             "instance id: %s\n",
             base.io_opts.compression_level, static_cast<int>(base.io_opts.compression_method),
             base.parallel_vms, base.parallel_vms_per_host, base.parallel_disks_per_vm,
             static_cast<ACE_UINT64>(params_.storage_reserved_bytes),
             params_.storage_reserved_percent, base.support_tmp_snapshot ? 1 : 0,
             base.agent_instance_id.c_str()));
}

}  // namespace tavrocloud
