// The run half of the backup executor: one scheduler task per instance, the progress
// thread, and the folding of every instance's result into the totals and the history.
#include "tavrocloud/job/backup_executor.h"

#include "job_engine/job_alert.h"
#include "json_spirit/extract.h"
#include "models/task/thread_task_scheduler.h"
#include "tavrocloud/job/instance_backup_handler.h"
#include "tavrocloud/job/job_run.h"
#include "yolt/check.h"
#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_time.h>

#include <algorithm>
#include <climits>
#include <exception>

namespace tavrocloud {

namespace {

enum { TASK_QUEUE_CAPACITY = 1024 };

uint32_t to_u32(size_t n) { return static_cast<uint32_t>(std::min<size_t>(n, UINT32_MAX)); }

Task_Base::Error to_task_code(int code) {
  switch (code) {
    case Task_Base::CODE_SUCCESS:
    case Task_Base::CODE_FAILED_RETRY:
      return static_cast<Task_Base::Error>(code);
    default:
      return Task_Base::CODE_FAILED;
  }
}

}  // namespace

bool Backup_Executor::is_canceled() const {
  const Job_State state = act_.state.load();
  return state == JOB_STATE_CANCELING || state == JOB_STATE_CANCELED || state == JOB_STATE_ERROR;
}

bool Backup_Executor::do_full_backup() {
  if (is_canceled()) {
    ACE_ERROR((LM_ERROR, "Job canceled while tavro backing.\n"));
    return false;
  }
  Thread_Task_Scheduler<Instance_Backup_Info> scheduler(TASK_QUEUE_CAPACITY);
  if (!scheduler.register_stop_callback([this] { return is_canceled(); }) ||
      !scheduler.enable_retry(to_u32(def_.retry_count()), to_u32(def_.retry_interval())) ||
      // A negative limit is refused like 0, never read as a huge one.
      !scheduler.enable_owner_limit(
          static_cast<uint32_t>(std::max(params_.base.parallel_vms_per_host, 0))))
    return false;

  progress_reporter_ = std::make_unique<Progress_Reporter>(evt_handler_, act_);
  const bool retry_run = !retry_entries_.empty();
  for (const Instance_Backup_Info& info : backup_instances_) {
    Instance_History& history = instance_histories_[info.instance_id];
    history.instance_name = info.instance_name;
    history.retry = retry_run;
    if (retry_run && retry_entries_.count(info.instance_id) == 0) {
      progress_reporter_->add(info.instance_id, info.instance_name, VM_Job_Progress::STATE_SKIPPED);
      history.state = VM_History_State::SKIPPED;
      ++skipped_instances_;
      ++succeed_instances_;
      ACE_DEBUG((LM_INFO, "Tavrocloud instance %s is skipped.\n", info.instance_name.c_str()));
      continue;
    }
    if (!queue_pending(*progress_reporter_, scheduler, info, info.host_address,
                       info.instance_id, info.instance_name, "instance"))
      return false;
  }
  if (!activate_reporter(*progress_reporter_, def_.id())) return false;

  Progress_Thread progress(job_, *progress_reporter_, stop_progress_event_);
  if (!run_tasks(scheduler, job_, params_.base.parallel_vms,
                 [this](const Instance_Backup_Info_var& info) { return backup_instance(info); },
                 "Failed to activate tavro scheduler.\n", "Failed to wait tavro scheduler.\n"))
    return false;

  const uint64_t succeeded = succeed_instances_.load();
  ACE_DEBUG((LM_INFO, "Tavrocloud instance backup result (succeeded/total): %d/%d.\n",
             static_cast<int>(succeeded), static_cast<int>(total_instances_)));
  job_.set_result("tavrocloud", instance_histories_.dump());
  if (succeeded == 0 || succeeded >= total_instances_)
    return succeed_instances_.load() == total_instances_;
  if (!is_canceled()) {
    const auto failed = static_cast<unsigned long long>(total_instances_ - succeeded);
    alert(ALERT_INSTANCES_NOT_BACKED_UP,
          json_spirit::Value(json_spirit::Array{json_spirit::Value(failed)}));
    return true;
  }
  ACE_ERROR((LM_ERROR, "Job canceled while tavro backing.\n"));
  return false;
}

Task_Base::Error Backup_Executor::backup_instance(const Instance_Backup_Info_var& inst_var) {
  YOLT_CHECK_NULL(inst_var, Task_Base::CODE_FAILED);
  YOLT_CHECK_NULL(progress_reporter_, Task_Base::CODE_FAILED);
  const time_t start = ACE_OS::time();
  json_spirit::Object result;
  result["start_time"] = json_spirit::Value(static_cast<long long>(start));
  progress_reporter_->update_time(inst_var->instance_id, start, true);

  bool ok = false;
  try {
    Backup_Params params = params_;
    params.backup_instance = *inst_var;
    Instance_Backup_Handler handler(job_, params);
    ok = handler.backup(result);
  } catch (const std::exception& e) {
    // Nothing may leave a worker thread; the result then lacks its keys and fails below.
    ACE_ERROR((LM_ERROR, "Backup of tavro instance %s ended with an exception: %s.\n",
               inst_var->instance_id.c_str(), e.what()));
    ok = false;
  }
  const Task_Base::Error code = handle_instance_result(ok, result);
  if (code == Task_Base::CODE_SUCCESS) ++succeed_instances_;
  return code;
}

Task_Base::Error Backup_Executor::handle_instance_result(bool succeeded,
                                                         const json_spirit::Object& result) {
  uint64_t storage_size = 0;
  uint64_t source_size = 0;
  uint64_t set_size = 0;
  std::string instance_id;
  std::string instance_name;
  int64_t start_time = 0;
  int code = Task_Base::CODE_FAILED;
  try {
    json_spirit::extract_or_throw(result)("storage_size", storage_size)(
        "source_size", source_size)("set_size", set_size)("instance_id", instance_id)(
        "instance_name", instance_name)("start_time", start_time)("code", code);
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Unrecognized tavrocloud instance backup response: %s.\n", e.what()));
    return Task_Base::CODE_FAILED;
  }
  // A failed run's sizes are not part of any backup set; a retried instance would
  // otherwise be counted once per run.
  if (succeeded) {
    storage_size_ += storage_size;
    source_size_ += source_size;
    set_size_ += set_size;
  }
  const time_t end = ACE_OS::time();
  if (progress_reporter_) progress_reporter_->update_time(instance_id, end, false);

  Instance_History& history = instance_histories_[instance_id];
  history.instance_name = instance_name;
  history.set_size = set_size;
  history.source_size = source_size;
  history.storage_size = storage_size;
  history.state = succeeded ? VM_History_State::COMPLETED : VM_History_State::FAILED;
  history.start_time = history_time(static_cast<time_t>(start_time));
  history.end_time = history_time(end);
  return to_task_code(code);
}

}  // namespace tavrocloud
