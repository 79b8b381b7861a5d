// The set-up half of the restore executor: log-in, options, source entries, restore
// paths and the summary of what is about to be restored.
#include "tavrocloud/job/restore_executor.h"

#include "catalog/restful_catalog_operator.h"
#include "client_io/util.h"
#include "identity/host_manager.h"
#include "json_spirit/extract.h"
#include "tavrocloud/common/utils.h"
#include "tavrocloud/job/instance_restore_handler.h"
#include "tavrocloud/job/job_run.h"
#include "yolt/check.h"
#include "yolt/posix_time_format.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_time.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <set>

namespace tavrocloud {
namespace {

// Why an entry cannot be restored as it stands; empty when it can. The identifiers
// name progress records, devices and cloud resources, so they must be plain words.
std::string entry_fault(const Restore_Source_Entry& entry, bool restore_vm) {
  if (!is_safe_identifier(entry.instance_src_id)) return "its source instance id is not a plain word";
  if (!entry.instance_tgt_id.empty() && !is_safe_identifier(entry.instance_tgt_id))
    return "its target instance id is not a plain word";
  std::set<std::string> volumes;
  for (const Restore_Source_Entry::Volume& v : entry.volumes) {
    if (!is_safe_identifier(v.id)) return "a volume id is not a plain word";
    // A volume named twice would be restored twice, and a root named twice would
    // build two instances.
    if (!volumes.insert(v.id).second) return "it names volume " + v.id + " twice";
  }
  if (!restore_vm && entry.instance_tgt_id.empty()) return "it names no target instance";
  if (restore_vm && entry.volumes.empty()) return "it names no volume to boot from";
  return std::string();
}

}  // namespace

Restore_Executor::Restore_Executor(Job& job) : Job_Executor_T(job), stop_progress_event_(0, 0) {}

Restore_Executor::~Restore_Executor() = default;

bool Restore_Executor::execute_i(const Action_Options*) {
  YOLT_CHECK_NULL(src_, false);
  YOLT_CHECK_NULL(opts_, false);
  if (!init() || !resolve_params() || !resolve_entries()) return false;
  if (params_.origin_restore) {
    ACE_ERROR((LM_ERROR, "Tavrocloud doesn't support origin restore.\n"));
    return false;
  }
  print_info();
  if (!add_restore_path() || !restore_all_instances()) return false;
  act_.set_storage_size = storage_size_.load();
  act_.set_size = set_size_.load();
  act_.size = source_size_.load();
  return true;
}

bool Restore_Executor::init() {
  if (!log_in(job_, def_.host_id(), login_info_, client_)) return false;
  support_tmp_snapshot_ = support_tmp_snapshot(client_->version());
  return true;
}

bool Restore_Executor::resolve_params() {
  YOLT_CHECK_JSON_OBJECT(opts_->value(), false);
  YOLT_CHECK_NULL(client_, false);
  const json_spirit::Object& opts = opts_->value().get_obj();
  Base_Params& base = params_.base;
  json_spirit::extract(opts)("parallel_vms", base.parallel_vms)(
      "parallel_vms_per_host", base.parallel_vms_per_host)(
      "parallel_disks_per_vm", base.parallel_disks_per_vm)("start_vm", params_.start_vm)(
      "original_restore", params_.origin_restore)("duplicate_vm", params_.duplicate_vm);

  base.io_opts.compression_method = COMPR_AUTO;
  set_options_by_host(base.io_opts);
  set_options_by_job_def(base.io_opts, def_, 1);
  set_d2t_access_mode(base.io_opts);

  Instance agent;
  if (!client_->agent_instance_id(base.agent_instance_id) ||
      !client_->query_instance(base.agent_instance_id, agent)) {
    ACE_ERROR((LM_ERROR, "Failed to get tavro agent instance info.\n"));
    return false;
  }
  base.agent_node_id = agent.host_address;

  const Host_Manager& host = Host_Manager::instance();
  base.support_tmp_snapshot = support_tmp_snapshot_;
  base.def_id = def_.id();
  base.host_id = def_.host_id();
  base.resource_uuid = src_->id();
  base.target_device_id = tgt_.device_id();
  base.access_key = host.access_key();
  base.backupd_host = host.websocket_options().host();
  base.backupd_port = host.websocket_options().port();
  base.backupd_ssl = host.websocket_options().ssl();
  base.max_seconds_retry = def_.max_seconds_retry();
  base.login_info = login_info_;
  params_.restore_vm = def_.subtype() == JOB_DEFINITION_SUBTYPE_VM;
  return true;
}

bool Restore_Executor::resolve_entries() {
  std::vector<Restore_Source_Entry> ignored;  // dropped as duplicates of a live instance
  try {
    const json_spirit::Object& src = src_->value().get_obj();
    const json_spirit::Array& entries = json_spirit::object_get_array_or_throw(src, "entries");
    json_spirit::extract(src)("pool_uuid", pool_uuid_);
    params_.base.pool_uuid = pool_uuid_;
    std::set<std::string> sources;
    for (const json_spirit::Value& value : entries) {
      if (value.type() != json_spirit::obj_type) continue;
      Restore_Source_Entry entry;
      const bool loaded = entry.load(value);
      if (loaded && entry.catalog_uuid.empty())
        ACE_ERROR((LM_ERROR, "Refused tavro restore entry of instance %s: its \"catalog_uuid\" is "
                             "empty (give the SET that 'quillon3 catalog list' shows).\n",
                   entry.instance_src_id.c_str()));
      if (!loaded || entry.catalog_uuid.empty()) {
        ACE_ERROR((LM_ERROR, "Invalid tavro job entries.\n"));
        return false;
      }
      const std::string fault = entry_fault(entry, params_.restore_vm);
      if (!fault.empty()) {
        ACE_ERROR((LM_ERROR, "Refused tavro restore entry of instance %s: %s.\n",
                   entry.instance_src_id.c_str(), fault.c_str()));
        return false;
      }
      // Two entries of one instance would share its progress record and history.
      if (!sources.insert(entry.instance_src_id).second) {
        ACE_ERROR((LM_ERROR, "Refused tavro restore entries: instance %s is named twice.\n",
                   entry.instance_src_id.c_str()));
        return false;
      }
      if (params_.restore_vm && !entry.instance_tgt_name.empty()) {
        Instances namesakes;
        const bool taken = client_->query_instances_by_name(entry.instance_tgt_name, namesakes) &&
                           RESTful_Client::filter_instances_by_status(namesakes, TERMINATED, false) &&
                           !namesakes.empty();
        if (taken && params_.duplicate_vm == "ignore") {
          ACE_DEBUG((LM_INFO, "Ignore restore %s, already exist.\n", entry.instance_tgt_name.c_str()));
          ignored.push_back(entry);
          continue;
        }
        if (taken && params_.duplicate_vm == "timestamp")
          entry.instance_tgt_name +=
              std::string("_") + POSIX_Time_Format<16, true>(ACE_OS::time(), "%Y%m%d_%H%M%S").c_str();
      }
      if (!entry.instance_tgt_id.empty()) {
        Instance target;
        if (!client_->query_instance(entry.instance_tgt_id, target)) {
          ACE_ERROR((LM_ERROR, "Failed to query tavro target instance %s.\n",
                     entry.instance_tgt_id.c_str()));
          return false;
        }
        if (entry.target_node_id.empty()) entry.target_node_id = target.host_address;
        if (entry.target_cluster_id.empty()) entry.target_cluster_id = target.availability_zone;
      }
      entries_.push_back(std::move(entry));
    }
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Failed to parse tavro restore source: %s.\n", e.what()));
    return false;
  }
  if (entries_.empty()) {
    // Without these lines the job would end on "no entry" alone, as if the source were empty.
    for (const Restore_Source_Entry& entry : ignored)
      ACE_ERROR((LM_ERROR, "Skipped the restore of tavro instance %s as %s: a live instance of "
                           "that name exists and the options' duplicate_vm is \"ignore\".\n",
                 entry.instance_src_id.c_str(), entry.instance_tgt_name.c_str()));
    ACE_ERROR((LM_ERROR, "Failed to restore tavro instances, no entry.\n"));
    return false;
  }
  const int count = static_cast<int>(std::min<size_t>(entries_.size(), INT_MAX));
  params_.base.parallel_vms = std::min(params_.base.parallel_vms, count);
  params_.base.parallel_vms_per_host = std::min(params_.base.parallel_vms_per_host, count);
  total_instances_ = entries_.size();
  return true;
}

bool Restore_Executor::add_restore_path() {
  const Base_Params& base = params_.base;
  RESTful_Catalog_Operator catalog(base.backupd_host, base.backupd_port, base.backupd_ssl,
                                   base.access_key, -1, base.max_seconds_retry);
  for (const Restore_Source_Entry& entry : entries_) {
    json_spirit::Value val;
    if (!get_restore_view(catalog, base, entry,
                          "Failed to retrieve tavrocloud backup sets, resource_uuid=%s "
                          "instance id=%s start_time=%s.\n",
                          val)) {
      return false;
    }
    Job_Result::Restore_Path_Entry path;
    const json_spirit::Value& set = val.get_array().back();
    const json_spirit::Array* storages = nullptr;
    if (set.type() == json_spirit::obj_type)
      json_spirit::extract(set.get_obj())("storages", storages);
    if (storages != nullptr && !storages->empty() &&
        storages->back().type() == json_spirit::obj_type)
      json_spirit::extract(storages->back().get_obj())("pool_uuid", path.pool_uuid);
    job_.append_result(std::move(path));
  }
  return true;
}

void Restore_Executor::print_info() const {
  for (const Restore_Source_Entry& entry : entries_) {
    ACE_DEBUG((LM_INFO, "\nRestore tavro instance info:\n\tinstance id %s\n\tinstance name %s\n",
               entry.instance_src_id.c_str(), entry.instance_src_name.c_str()));
    for (const Restore_Source_Entry::Volume& v : entry.volumes)
      ACE_DEBUG((LM_INFO,
                 "\nRestore tavro volume info:\n\tvolume id %s\n\tvolume name %s\n\tsize %d\n\n",
                 v.id.c_str(), v.name.c_str(), static_cast<int>(v.size)));
  }
  ACE_DEBUG((LM_INFO,
             "\nJob Definition:\n\tid %s\n\ttype %s\n\tsubtype %s\n\tmax seconds retry %d\n\t"
             "resumption buffer size %B\n\tmax rate limit %B\n",
             def_.id().c_str(), job_definition_type_to_string(def_.type(), 0),
             job_def_subtype_to_string(def_.subtype(), 0), static_cast<int>(def_.max_seconds_retry()),
             def_.resumption_buffer_size(), static_cast<size_t>(def_.max_rate_limit())));
  const Base_Params& base = params_.base;
  ACE_DEBUG((LM_INFO,
             "\nJob Params:\n\tparallel vms %d\n\tparallel vms per host %d\n\tparallel disks per "
             "vm %d\n\tsupport tmp snapshot %d\n\tagent instance id %s\n",
             base.parallel_vms, base.parallel_vms_per_host, base.parallel_disks_per_vm,
             base.support_tmp_snapshot ? 1 : 0, base.agent_instance_id.c_str()));
}

}  // namespace tavrocloud
