// Preparation and result of one instance backup: the records, the instance and its
// volumes as the cloud knows them, the power rule, the reserved-space check, the result
// object and the alerts.
#include "tavrocloud/job/instance_backup_handler.h"

#include "json_spirit/assign.h"
#include "pool/compression.h"
#include "runtime/filenamify.h"
#include "runtime/path_t.h"
#include "runtime/uuid.h"
#include "tavrocloud/common/tavrocloud_node.h"
#include "tavrocloud/common/tavrocloud_storage.h"
#include "yolt/check.h"
#include "yolt/countdown.h"
#include "yolt/posix_time_format.h"
#include "yolt/scoped_deleter.h"
#include "yolt/string_sprintf.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_time.h>

#include <algorithm>
#include <set>

namespace tavrocloud {

namespace {

const char* const TMP_SNAPSHOT_STORAGES[] = {"ceph", "tavrohps", "tavroeds", "san", "localvg"};
const char* const POWER_CYCLE_STORAGES[] = {"nfs_raw", "localfs"};

// How long an instance found "stopping" is waited for, in seconds.
enum { STOPPING_WAIT_TIMEOUT = 1800, STOPPING_FIRST_WAIT = 2, STOPPING_MAX_WAIT = 60 };

template <size_t N>
bool is_one_of(const std::string& word, const char* const (&words)[N]) {
  return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

std::string safe_name(const std::string& text) {
  std::string out;
  return filenamify(text, out, '_');
}

}  // namespace

Instance_Backup_Handler::Instance_Backup_Handler(Job& job, const Backup_Params& params)
    : job_(job),
      params_(params),
      start_time_(ACE_OS::time(nullptr)),
      start_timepoint_(POSIX_Time_Format<32, false>(start_time_, "%Y%m%d%H%M%S").c_str()) {
  uuid_binary(bset_uuid_);
}

Instance_Backup_Handler::~Instance_Backup_Handler() = default;

bool Instance_Backup_Handler::backup(json_spirit::Object& result) {
  bool ok = false;
  auto result_guard = make_deleter([&] { finish(ok, result); });
  const std::string& id = params_.backup_instance.instance_id;
  if (!lock_instance(instance_lock_, id, "backup")) return false;
  if (!init()) {
    ACE_ERROR((LM_ERROR, "Failed to init tavro backup instance %s.\n", id.c_str()));
    return false;
  }
  if (!check_storage()) {
    ACE_ERROR((LM_ERROR, "Failed to check tavro storage.\n"));
    return false;
  }
  if (is_canceled()) {
    cancel_retry();
    ACE_ERROR((LM_ERROR, "Job canceled while tavro backing.\n"));
    return false;
  }
  ACE_DEBUG((LM_DEBUG, "Backup tavro instance id %s, name %s, volume num %d.\n",
             instance_.id.c_str(), instance_.name.c_str(),
             static_cast<int>(params_.backup_instance.backup_vols.size())));
  const bool uploaded =
      params_.base.support_tmp_snapshot ? backup_with_tmp_snapshot() : backup_legacy();
  ok = uploaded && save_catalog();
  if (!ok) remove_uploaded_images();
  return ok;
}

void Instance_Backup_Handler::finish(bool succeeded, json_spirit::Object& result) {
  if (progress_.get() != nullptr) {
    progress_->set_state(succeeded ? VM_Job_Progress::STATE_COMPLETED
                                   : VM_Job_Progress::STATE_FAILED);
  }
  const Task_Base::Error code = succeeded ? Task_Base::CODE_SUCCESS
                                : retry_.load() ? Task_Base::CODE_FAILED_RETRY
                                                : Task_Base::CODE_FAILED;
  json_spirit::insert(result)("storage_size", total_storage_size_.load())(
      "set_size", source_size_)("source_size", source_size_)(
      "instance_id", params_.backup_instance.instance_id)(
      "instance_name", params_.backup_instance.instance_name)("succeed", succeeded)(
      "code", static_cast<int>(code));
  if (client_ && restart_instance(instance_)) power_on();
}

void Instance_Backup_Handler::power_on() {
  Instance current;
  if (!client_->query_instance(instance_.id, current) || current.status == RUNNING) return;
  if (!client_->start_instance(instance_.id)) {
    alert_instance(5);
    ACE_ERROR((LM_ERROR, "Failed to power on tavro instance:%s.\n", instance_.id.c_str()));
  }
}

bool Instance_Backup_Handler::init() {
  YOLT_CHECK_EMPTY(params_.base.def_id, false);
  YOLT_CHECK_EMPTY(params_.backup_instance.instance_id, false);
  if (!open_records() || !read_instance()) return false;
  // From here on a failure is the cloud's or the pool's and is worth another run.
  retry_ = true;
  if (!build_volumes()) return false;
  check_tmp_snapshot_support();
  return power_off();
}

bool Instance_Backup_Handler::open_records() {
  const std::string& def_id = params_.base.def_id;
  if (job_act_.open(def_id.c_str(), false, true, 0750) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to open activity object of job %s.\n", def_id.c_str()));
    return false;
  }
  YOLT_CHECK_NULL(job_act_, false);
  YOLT_CHECK_EQ(job_act_.get(), MAP_FAILED, false);
  if (open_progress_record(progress_, def_id, params_.backup_instance.instance_id, false) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to open progress object of job %s for tavrocloud  instance %s.\n",
               def_id.c_str(), params_.backup_instance.instance_id.c_str()));
    return false;
  }
  YOLT_CHECK_NULL(progress_, false);
  YOLT_CHECK_EQ(progress_.get(), MAP_FAILED, false);
  progress_->reset();
  progress_->set_state(VM_Job_Progress::STATE_RUNNING);
  return true;
}

bool Instance_Backup_Handler::read_instance() {
  const std::string& id = params_.backup_instance.instance_id;
  client_ = std::make_unique<RESTful_Client>();
  if (!client_->login(params_.base.login_info)) {
    add_agent_alert(Error_ID::LEVEL_ERROR, 1, {}, 0);
    ACE_ERROR((LM_ERROR, "Failed to login Tavrocloud.\n"));
    return false;
  }
  if (!client_->query_instance_detail(id, instance_)) {
    ACE_ERROR((LM_ERROR, "Failed to query instance id %s from tavrocloud.\n", id.c_str()));
    return false;
  }
  Node node;
  if (!client_->query_node(instance_.host_address, node)) {
    ACE_ERROR((LM_ERROR, "Failed to query node %s from tavrocloud.\n",
               instance_.host_address.c_str()));
    return false;
  }
  params_.backup_instance.node_name = node.name;
  return true;
}

bool Instance_Backup_Handler::build_volumes() {
  Instance_Backup_Info& info = params_.backup_instance;
  const std::string safe_instance_id = safe_name(info.instance_id);
  std::list<std::string>& selection = info.backup_vol_ids;
  const bool selected = !selection.empty();
  for (const Volume& volume : instance_.volumes) {
    if (selected) {
      auto it = std::find(selection.begin(), selection.end(), volume.id);
      if (it == selection.end()) continue;
      selection.erase(it);
    }
    if (!fill_volume(volume, safe_instance_id)) return false;
  }
  for (const std::string& missing : selection) {
    ACE_ERROR((LM_ERROR, "Failed to backup tavro volume %s, volume not found\n", missing.c_str()));
    ACE_ERROR((LM_ERROR, "The tavro instance %s has no volume %s.\n", info.instance_id.c_str(),
               missing.c_str()));
  }
  // Like every failure once the instance is read, a missing volume asks for another run.
  if (!selection.empty()) return false;
  source_size_ = 0;
  for (const Volume_Backup_Info& v : info.backup_vols) source_size_ += v.size << 30;
  return true;
}

bool Instance_Backup_Handler::fill_volume(const Volume& volume,
                                          const std::string& safe_instance_id) {
  Volume_Backup_Info v;
  v.vol_id = volume.id;
  v.vol_name = volume.name;
  v.is_root = volume.is_root;
  v.availability_zone = volume.availability_zone;
  v.storage_id = volume.storage_id;
  Storage storage;
  if (!client_->query_storage(v.storage_id, storage)) {
    ACE_ERROR((LM_ERROR, "Failed to query storage %s from tavrocloud.\n", v.storage_id.c_str()));
    return false;
  }
  v.storage_name = storage.name;
  v.storage_type = storage.type;
  // A negative size from the cloud is no size; the upload's own check then refuses it.
  v.size = volume.size > 0 ? static_cast<uint64_t>(volume.size) : 0;
  v.src_dev_name = volume.volume_attachment.device;
  const std::string job_id = uuid_binary_to_string(job_act_->id);
  // The instance's directory takes the safe form of its id, like every name below it.
  v.storage_file_path = yolt::Path_T<char>(job_id.c_str(), safe_instance_id.c_str(), '/', false).str();
  v.storage_file_name =
      string_sprintf("%s-%s-%s-%s%s", "Quillon3", safe_instance_id.c_str(),
                     safe_name(v.vol_id).c_str(), start_timepoint_.c_str(),
                     compression_value_to_suffix(params_.base.io_opts.compression_method));
  params_.backup_instance.backup_vols.push_back(std::move(v));
  return true;
}

void Instance_Backup_Handler::check_tmp_snapshot_support() {
  for (const Volume_Backup_Info& v : params_.backup_instance.backup_vols) {
    std::string type;
    if (!storage_type(v.storage_id, type) || is_one_of(type, TMP_SNAPSHOT_STORAGES)) continue;
    ACE_DEBUG((LM_DEBUG, "Volume don't support tmp snapshot, rollback to legacy back up.\n"));
    params_.base.support_tmp_snapshot = false;
    return;
  }
}

bool Instance_Backup_Handler::power_off() {
  const std::string& id = instance_.id;
  if (instance_.status == STOPPING) {
    // Its volumes are only consistent once it has stopped.
    for (const auto& tick : countdown(STOPPING_WAIT_TIMEOUT, STOPPING_FIRST_WAIT,
                                      STOPPING_MAX_WAIT, false)) {
      (void)tick;
      // A cancelled job must not sit out an instance that never stops.
      if (is_canceled()) {
        cancel_retry();
        ACE_ERROR((LM_ERROR, "Job canceled while tavro backing.\n"));
        return false;
      }
      Instance current;
      if (!client_->query_instance(id, current)) return false;
      if (current.status == STOPPED) return true;
      if (current.status != STOPPING) break;
    }
    ACE_ERROR((LM_ERROR, "Tavro instance %s did not stop.\n", id.c_str()));
    return false;
  }
  if (instance_.status == STOPPED) return true;
  const std::string why = power_cycle_reason(instance_);
  if (why.empty()) return true;
  // Users must learn that a backup stops their instance, and why, before it happens.
  ACE_DEBUG((LM_WARNING,
             "Powering off tavro instance %s (%s) for its backup, on again afterwards: %s.\n",
             id.c_str(), instance_.name.c_str(), why.c_str()));
  if (!client_->stop_instance(id)) {
    alert_instance(4);
    ACE_ERROR((LM_ERROR, "Failed to power off tavro instance:%s.\n", id.c_str()));
    return false;
  }
  return true;
}

bool Instance_Backup_Handler::storage_type(const std::string& storage_id, std::string& type) {
  Storage storage;
  if (!client_->query_storage(storage_id, storage)) return false;
  type = storage.type;
  return true;
}

bool Instance_Backup_Handler::restart_instance(const Instance& instance) {
  return !power_cycle_reason(instance).empty();
}

std::string Instance_Backup_Handler::power_cycle_reason(const Instance& instance) {
  if (params_.restart_vm) return "the job's option restart_vm asks for it";
  if (params_.base.support_tmp_snapshot) return std::string();
  // Without temporary snapshots these storages are read consistently only at rest.
  const auto at_rest = [](const std::string& what, const std::string& storage,
                          const std::string& type) {
    return what + " lies on " + type + " storage " + storage +
           ", which is read without temporary snapshots only while the instance is off";
  };
  std::string type;
  if (storage_type(instance.storage_id, type) && is_one_of(type, POWER_CYCLE_STORAGES))
    return at_rest("it", instance.storage_id, type);
  for (const Volume& v : instance_.volumes) {
    if (storage_type(v.storage_id, type) && is_one_of(type, POWER_CYCLE_STORAGES))
      return at_rest("its volume " + v.id, v.storage_id, type);
  }
  return std::string();
}

bool Instance_Backup_Handler::check_storage() {
  if (params_.storage_reserved_bytes == 0 && params_.storage_reserved_percent == 0) return true;
  std::set<std::string> checked;
  for (const Volume& v : instance_.volumes) {
    if (!checked.insert(v.storage_id).second) continue;
    Storage s;
    if (!client_->query_storage(v.storage_id, s)) {
      ACE_ERROR((LM_ERROR, "Failed to query storage %s from Tavrocloud.\n", v.storage_id.c_str()));
      return false;
    }
    if (s.space_max <= 0) continue;
    // In 64 bits: a reserve of many GiB must not wrap around and pass.
    const int64_t reserved_gibs = static_cast<int64_t>(params_.storage_reserved_bytes >> 30);
    if (s.space_max < reserved_gibs + s.space_used) {
      add_agent_alert(Error_ID::LEVEL_ERROR, 6, {json_spirit::Value(s.name)}, 0);
      ACE_ERROR((LM_ERROR, "Failed to check reserved tavro storage, reserved gibs: %Q.\n",
                 static_cast<ACE_UINT64>(reserved_gibs)));
      return false;
    }
    const int64_t free_gibs = static_cast<int64_t>(s.space_max) - s.space_used;
    if (100 * free_gibs <= static_cast<int64_t>(s.space_max) * params_.storage_reserved_percent) {
      add_agent_alert(Error_ID::LEVEL_ERROR, 6, {json_spirit::Value(s.name)}, 0);
      ACE_ERROR((LM_ERROR, "Failed to check reserved tavro storage, reserved percent: %d.\n",
                 params_.storage_reserved_percent));
      return false;
    }
  }
  return true;
}

bool Instance_Backup_Handler::is_canceled() const {
  const Job_Activity* const act = job_act_.get();
  if (act == nullptr) return false;
  const Job_State state = act->state.load();
  return state == JOB_STATE_CANCELING || state == JOB_STATE_CANCELED || state == JOB_STATE_ERROR;
}

void Instance_Backup_Handler::cancel_retry() { retry_ = false; }

void Instance_Backup_Handler::alert_instance(unsigned long id) {
  add_agent_alert(Error_ID::LEVEL_ERROR, id,
                  {json_spirit::Value(params_.backup_instance.instance_id)}, 0);
}

void Instance_Backup_Handler::add_agent_alert(Error_ID::Level level, unsigned long id,
                                              const std::vector<json_spirit::Value>& args,
                                              unsigned long extra) {
  ACE_GUARD(ACE_Thread_Mutex, guard, alert_mutex_);
  const json_spirit::Value value =
      args.empty() ? json_spirit::Value() : json_spirit::Value(json_spirit::Array(args));
  write_job_alert(job_, level, id, extra, value, 1);
}

}  // namespace tavrocloud
