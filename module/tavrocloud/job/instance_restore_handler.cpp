// The instance restore handler's life: construction, restore() with its result, the
// set-up, the flow and the power state. The catalog, the volumes, the new instance and
// the clean-up are in instance_restore_handler_<step>.cpp.
#include "tavrocloud/job/instance_restore_handler.h"

#include "runtime/http_head.h"
#include "yolt/check.h"
#include "yolt/posix_time_format.h"
#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_time.h>

#include <sys/mman.h>

namespace tavrocloud {

bool is_safe_identifier(const std::string& id) {
  if (id.empty()) return false;
  for (const char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return id != "." && id != "..";
}

Instance_Restore_Handler::Instance_Restore_Handler(Job& job, const Restore_Params& params)
    : job_(job),
      params_(params),
      start_time_(ACE_OS::time()),
      start_timepoint_(POSIX_Time_Format<16, false>(start_time_, "%Y%m%d%H%M%S").c_str()),
      rest_client_(true) {}

Instance_Restore_Handler::~Instance_Restore_Handler() = default;

bool Instance_Restore_Handler::restore(json_spirit::Object& result) {
  const Restore_Source_Entry& entry = params_.entry;
  bool ok = false;
  auto report = make_deleter([this, &result, &ok, &entry] {
    if (progress() != nullptr)
      progress()->set_state(ok ? VM_Job_Progress::STATE_COMPLETED : VM_Job_Progress::STATE_FAILED);
    const uint64_t stored = total_storage_size_.load();
    result["storage_size"] = stored;
    result["set_size"] = stored;
    result["source_size"] = source_size_;
    result["instance_id"] = entry.instance_src_id;
    result["instance_name"] = entry.instance_src_name;
    result["succeed"] = ok;
    if (ok) result["restored"] = restored_facts();
  });
  // The agent's instance is the machine this job runs on: the restored volumes would be
  // attached to it beside the job's own devices, and a restore without start would stop it.
  if (!params_.restore_vm && entry.instance_tgt_id == params_.base.agent_instance_id) {
    ACE_ERROR((LM_ERROR, "Refused to restore onto tavrocloud instance %s: it is the backup "
                         "agent's own instance.\n",
               entry.instance_tgt_id.c_str()));
    return false;
  }
  // A new instance is this run's own; an existing target is the one other jobs work on.
  if (!params_.restore_vm && !lock_instance(instance_lock_, entry.instance_tgt_id, "restore"))
    return false;
  if (!init()) {
    ACE_ERROR((LM_ERROR, "Failed to init restore tavro instance %s.\n",
               entry.instance_src_id.c_str()));
    return false;
  }
  if (is_canceled()) {
    ACE_ERROR((LM_ERROR, "Job canceled while tavro restoring.\n"));
    return false;
  }
  ACE_DEBUG((LM_DEBUG, "Restore tavro instance id %s, name %s, volume num %d.\n",
             entry.instance_src_id.c_str(), entry.instance_src_name.c_str(),
             static_cast<int>(entry.volumes.size())));
  ok = restore_i();
  return ok;
}

bool Instance_Restore_Handler::init() {
  const Base_Params& base = params_.base;
  if (job_act_.open(base.def_id.c_str(), false, true, 0750) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to open activity object of job %s.\n", base.def_id.c_str()));
    return false;
  }
  YOLT_CHECK_NULL(job_act_, false);
  YOLT_CHECK_EQ(job_act_.get(), MAP_FAILED, false);
  if (open_progress_record(progress_, base.def_id, params_.entry.instance_src_id, false) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to open progress object of job %s for tavrocloud  instance %s.\n",
               base.def_id.c_str(), params_.entry.instance_src_id.c_str()));
    return false;
  }
  YOLT_CHECK_NULL(progress_, false);
  YOLT_CHECK_EQ(progress_.get(), MAP_FAILED, false);
  progress()->reset();
  progress()->set_state(VM_Job_Progress::STATE_RUNNING);

  if (client_ == nullptr) {
    auto client = std::make_unique<RESTful_Client>();
    if (!client->login(base.login_info)) {
      add_agent_alert(Error_ID::LEVEL_ERROR, 1, {}, 0);
      ACE_ERROR((LM_ERROR, "Failed to login Tavrocloud.\n"));
      return false;
    }
    client_ = std::move(client);
  }
  rest_client_.reset(base.backupd_host, base.backupd_port, base.backupd_ssl);
  rest_client_.set_http_head(HTTP_HEAD_X_ACCESS_KEY, base.access_key);
  return true;
}

bool Instance_Restore_Handler::is_canceled() const {
  const Job_Activity* act = job_act_.get();
  if (act == nullptr) return false;
  const Job_State state = act->state.load();
  return state == JOB_STATE_CANCELING || state == JOB_STATE_CANCELED || state == JOB_STATE_ERROR;
}

void Instance_Restore_Handler::add_agent_alert(Error_ID::Level level, unsigned long id,
                                               const std::vector<json_spirit::Value>& args,
                                               unsigned long extra) {
  const json_spirit::Value arguments =
      args.empty() ? json_spirit::Value() : json_spirit::Value(json_spirit::Array(args));
  write_job_alert(job_, level, id, extra, arguments, 1);
}

bool Instance_Restore_Handler::restore_i() {
  const std::string& src_id = params_.entry.instance_src_id;
  std::vector<Tavro_Backup_Set> sets;
  if (!load_catalog(sets)) {
    add_agent_alert(Error_ID::LEVEL_ERROR, 2, {json_spirit::Value(src_id)}, 0);
    ACE_ERROR((LM_ERROR, "Failed to get catalogs.\n"));
    return false;
  }
  if (!parse_source_instance(sets)) {
    ACE_ERROR((LM_ERROR, "Failed to parse tavro source instance.\n"));
    return false;
  }
  if (is_canceled()) {
    ACE_ERROR((LM_ERROR, "Job canceled while tavro restoring.\n"));
    return false;
  }

  bool outcome = false;
  auto clean = make_deleter([this, &outcome] {
    if (outcome)
      clean_up();
    else
      clean_up_when_failed();
  });
  outcome = restore_volumes() && attach_data_volumes();
  if (!outcome) {
    ACE_ERROR((LM_ERROR, "Failed to restore instance %s.\n", src_id.c_str()));
    return false;
  }
  set_power_state();
  return true;
}

json_spirit::Object Instance_Restore_Handler::restored_facts() const {
  json_spirit::Array volumes;
  for (const Volume_Restore_Info_var& vol : restore_volumes_) {
    if (params_.restore_vm && vol->is_root) continue;  // the new instance's system disk
    json_spirit::Object v;
    v["id"] = vol->created_vol_id;
    v["device"] = vol->dev_name;
    volumes.push_back(std::move(v));
  }
  json_spirit::Object facts;
  facts["instance_id"] = params_.entry.instance_tgt_id;
  facts["instance_name"] = params_.entry.instance_tgt_name;
  facts["volumes"] = std::move(volumes);
  return facts;
}

void Instance_Restore_Handler::set_power_state() {
  const std::string& id = params_.entry.instance_tgt_id;
  Instance instance;
  if (!client_->query_instance(id, instance)) return;
  if (!params_.start_vm) {
    if (instance.status != STOPPED && instance.status != STOPPING && !client_->stop_instance(id))
      ACE_ERROR((LM_ERROR, "Failed to stop tavro instance id= %s.\n", id.c_str()));
  } else if (instance.status != RUNNING && !client_->start_instance(id)) {
    ACE_ERROR((LM_ERROR, "Failed to start tavro instance id= %s.\n", id.c_str()));
  }
}

}  // namespace tavrocloud
