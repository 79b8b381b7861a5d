#include "tavrocloud/job/backup_executor.h"

#include "client_io/util.h"
#include "identity/host_manager.h"
#include "job_engine/job_alert.h"
#include "json/json_dump.h"
#include "json_spirit/extract.h"
#include "json_spirit/json_pointer.h"
#include "pool/compression.h"
#include "pool/pool_info.h"
#include "tavrocloud/common/utils.h"
#include "tavrocloud/job/job_run.h"
#include "yolt/check.h"
#include "yolt/string_sprintf.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <iterator>
#include <set>
#include <utility>

namespace tavrocloud {

namespace {

const char VIRTUAL_MACHINE[] = "VirtualMachine";

json_spirit::Value string_args(std::initializer_list<std::string> args) {
  json_spirit::Array a;
  for (const std::string& s : args) a.emplace_back(s);
  return json_spirit::Value(std::move(a));
}

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

bool Backup_Executor::resolve_entries() {
  const json_spirit::Array* entries = nullptr;
  json_spirit::pextract(src_->value())("/entries", entries);
  YOLT_CHECK_NULL_OR_EMPTY(entries, false);

  const json_spirit::Array* exclusion = nullptr;
  if (opts_->value().type() == json_spirit::obj_type)
    json_spirit::extract(opts_->value().get_obj())("exclusion", exclusion);
  if (exclusion != nullptr && !exclusion->empty()) {
    for (const json_spirit::Value& v : *exclusion)
      if (v.type() == json_spirit::str_type) excluded_vm_.add_pattern(v.get_str());
    ACE_DEBUG((LM_INFO, "Tavrocloud VM exclusion list: %s\n",
               JSON_Dump(json_spirit::Value(*exclusion)).c_str()));
  }

  Instances found;
  for (const json_spirit::Value& entry : *entries) {
    if (entry.type() != json_spirit::obj_type) continue;
    if (!resolve_entry(entry.get_obj(), found)) return false;
  }
  select_instances(found);
  total_instances_ = backup_instances_.size();
  ACE_DEBUG((LM_DEBUG, "There are %d tavro instance ready for backup.\n",
             static_cast<int>(total_instances_)));
  return total_instances_ > 0;
}

bool Backup_Executor::resolve_entry(const json_spirit::Object& entry, Instances& found) {
  const std::string* id = nullptr;
  const std::string* name = nullptr;
  const std::string* type = nullptr;
  const json_spirit::Array* volumes = nullptr;
  json_spirit::extract(entry)("id", id)("name", name)("type", type)("volumes", volumes);
  YOLT_CHECK_NULL_OR_EMPTY(id, false);
  YOLT_CHECK_NULL(name, false);
  YOLT_CHECK_NULL_OR_EMPTY(type, false);

  if (volumes != nullptr) {
    for (const json_spirit::Value& v : *volumes) {
      const std::string* vol_id = nullptr;
      if (v.type() == json_spirit::obj_type) json_spirit::extract(v.get_obj())("vol_id", vol_id);
      if (vol_id != nullptr) volume_selections_[*id].push_back(*vol_id);
    }
  }

  Instances listed;
  bool ok = false;
  if (*type == "Cloud") {
    ok = client_->query_instances(listed);
  } else if (*type == "Cluster") {
    ok = client_->query_cluster_instances(*id, listed);
  } else if (*type == "Node") {
    ok = client_->query_node_instances(*id, listed);
  } else if (*type == "Storage") {
    ok = client_->query_storage_instances(*id, listed);
  } else if (*type == "Instance") {
    Instance one;
    ok = client_->query_instance(*id, one);
    if (ok) listed.push_back(std::move(one));
  } else {
    ACE_ERROR((LM_ERROR,
               "Unknown tavro entry type '%s' in backup source, entry id: %s, job_uuid: %s, "
               "name: %s.\n",
               type->c_str(), id->c_str(), def_.id().c_str(), def_.name().c_str()));
    return true;
  }
  if (!ok) {
    alert(7, string_args({*id, *name, *type}));
    ACE_ERROR((LM_ERROR, "Failed to query tavro instance by entry id %s.\n", id->c_str()));
    return true;
  }
  std::move(listed.begin(), listed.end(), std::back_inserter(found));
  return true;
}

void Backup_Executor::select_instances(const Instances& found) {
  std::set<std::string> selected;
  for (const Instance& inst : found) {
    if (inst.id == agent_instance_id_ || inst.status == TERMINATED || inst.name.empty()) {
      ACE_DEBUG((LM_DEBUG, "Skip backup tavro instance %s, name %s, status %d.\n",
                 inst.id.c_str(), inst.name.c_str(), static_cast<int>(inst.status)));
      if (inst.name.empty()) alert(11, string_args({inst.id}));
      continue;
    }
    if (excluded_vm_.match(inst.name)) {
      ACE_DEBUG((LM_WARNING, "Instance (id=%s, name=%s) is excluded from backup.\n",
                 inst.id.c_str(), inst.name.c_str()));
      continue;
    }
    // Two entries may reach one instance (its node and its storage, say): backing it up
    // twice in one run would race two handlers over the same volumes.
    if (!selected.insert(inst.id).second) {
      ACE_DEBUG((LM_DEBUG, "Tavrocloud instance %s is named by several source entries, "
                           "backed up once.\n", inst.id.c_str()));
      continue;
    }
    Instance_Backup_Info info;
    info.instance_id = inst.id;
    info.instance_name = inst.name;
    info.storage_id = inst.storage_id;
    info.host_address = inst.host_address;
    info.status = inst.status;
    info.availability_zone = inst.availability_zone;
    auto selection = volume_selections_.find(inst.id);
    if (selection != volume_selections_.end() && !selection->second.empty())
      info.backup_vol_ids = std::move(selection->second);
    backup_instances_.push_back(std::move(info));
  }
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
  io_opts.compression_method =
      compression != nullptr ? compression_name_to_value(*compression, -1) : COMPR_AUTO;
  if (io_opts.compression_method == COMPR_NONE) io_opts.compression_method = COMPR_AUTO;

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
