// The run half of the restore executor: one scheduler task per entry, the progress
// thread, and the folding of every instance's result into the totals and the history.
#include "tavrocloud/job/restore_executor.h"

#include "json_spirit/extract.h"
#include "models/task/thread_task_scheduler.h"
#include "tavrocloud/job/instance_restore_handler.h"
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

}  // namespace

bool Restore_Executor::is_canceled() const {
  const Job_State state = act_.state.load();
  return state == JOB_STATE_CANCELING || state == JOB_STATE_CANCELED;
}

bool Restore_Executor::restore_all_instances() {
  if (is_canceled()) {
    ACE_DEBUG((LM_INFO, "Job canceled while tavro restoring.\n"));
    return false;
  }
  Thread_Task_Scheduler<Restore_Source_Entry> scheduler(TASK_QUEUE_CAPACITY);
  if (!scheduler.register_stop_callback([this] { return is_canceled(); }) ||
      !scheduler.enable_owner_limit(
          static_cast<uint32_t>(std::max(0, params_.base.parallel_vms_per_host))) ||
      !scheduler.enable_retry(3, 0))
    return false;

  progress_reporter_ = std::make_unique<Progress_Reporter>(evt_handler_, act_);
  for (const Restore_Source_Entry& entry : entries_) {
    if (!queue_pending(*progress_reporter_, scheduler, entry, entry.target_node_id,
                       entry.instance_src_id, entry.instance_src_name, "entry"))
      return false;
  }
  if (!activate_reporter(*progress_reporter_, def_.id())) return false;

  Progress_Thread progress(job_, *progress_reporter_, stop_progress_event_);
  if (!run_tasks(scheduler, job_, params_.base.parallel_vms,
                 [this](const std::shared_ptr<Restore_Source_Entry>& entry) {
                   return restore_instance(entry);
                 },
                 "Failed to activate scheduler.\n", "Failed to wait scheduler.\n"))
    return false;
  ACE_DEBUG((LM_INFO, "Tavrocloud instance restore result (succeeded/total): %d/%d.\n",
             static_cast<int>(succeed_instances_.load()), static_cast<int>(total_instances_)));
  {
    std::lock_guard<std::mutex> lock(history_lock_);
    job_.set_result("tavrocloud", instance_histories_.dump());
    job_.set_result(RESTORED_RESULT_KEY, restored_);
  }
  return succeed_instances_.load() == total_instances_;
}

Task_Base::Error Restore_Executor::restore_instance(
    const std::shared_ptr<Restore_Source_Entry>& entry) {
  YOLT_CHECK_NULL(client_, Task_Base::CODE_FAILED);
  YOLT_CHECK_NULL(src_, Task_Base::CODE_FAILED);
  YOLT_CHECK_NULL(progress_reporter_, Task_Base::CODE_FAILED);
  YOLT_CHECK_NULL(entry, Task_Base::CODE_FAILED);
  Restore_Params params = params_;
  params.entry = *entry;

  json_spirit::Object result;
  const time_t start = ACE_OS::time();
  result["start_time"] = json_spirit::Value(static_cast<long long>(start));
  progress_reporter_->update_time(entry->instance_src_id, start, true);
  auto fold = make_deleter([this, &result] { handle_instance_result(result); });

  bool ok = false;
  try {
    Instance_Restore_Handler handler(job_, params);
    ok = handler.restore(result);
  } catch (const std::exception& e) {
    // Nothing may leave a worker thread; the result then lacks its keys.
    ACE_ERROR((LM_ERROR, "Restore of tavro instance %s ended with an exception: %s.\n",
               entry->instance_src_id.c_str(), e.what()));
  }
  if (!ok) return Task_Base::CODE_FAILED;
  ++succeed_instances_;
  return Task_Base::CODE_SUCCESS;
}

bool Restore_Executor::handle_instance_result(const json_spirit::Object& result) {
  unsigned long storage_size = 0, source_size = 0, set_size = 0;
  std::string instance_id, instance_name;
  long start_time = 0;
  bool succeed = false;
  try {
    json_spirit::extract_or_throw(result)("storage_size", storage_size)(
        "source_size", source_size)("set_size", set_size)("instance_id", instance_id)(
        "instance_name", instance_name)("start_time", start_time)("succeed", succeed);
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Unrecognized Tavrocloud instance restore response: %s.\n", e.what()));
    return false;
  }
  storage_size_ += storage_size;
  source_size_ += source_size;
  set_size_ += set_size;
  const time_t end = ACE_OS::time();
  {
    std::lock_guard<std::mutex> lock(history_lock_);
    Instance_History& history = instance_histories_[instance_id];
    history.instance_name = instance_name;
    history.set_size = set_size;
    history.source_size = source_size;
    history.storage_size = storage_size;
    history.state = succeed ? VM_History_State::COMPLETED : VM_History_State::FAILED;
    history.start_time = history_time(static_cast<time_t>(start_time));
    history.end_time = history_time(end);
  }
  if (progress_reporter_ != nullptr) progress_reporter_->update_time(instance_id, end, false);
  record_restored(instance_id, result);
  return true;
}

void Restore_Executor::record_restored(const std::string& instance_id,
                                       const json_spirit::Object& result) {
  const auto made = result.find("restored");
  if (made == result.end() || made->second.type() != json_spirit::obj_type) return;
  json_spirit::Object facts = made->second.get_obj();
  facts["uuid"] = instance_id;
  std::lock_guard<std::mutex> lock(history_lock_);
  restored_.push_back(std::move(facts));
}

}  // namespace tavrocloud
