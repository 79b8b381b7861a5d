#include "tavrocloud/job/progress_reporter.h"

#include "yolt/check.h"

#include <ace/Guard_T.h>
#include <ace/OS_NS_time.h>

#include <utility>

namespace tavrocloud {

Progress_Reporter::Progress_Reporter(Job_Event_Handler& event_handler,
                                     const Job_Activity& job_act)
    : event_handler_(event_handler), job_act_(job_act) {}

bool Progress_Reporter::is_finished(VM_Job_Progress::VM_State state) {
  return state == VM_Job_Progress::STATE_COMPLETED || state == VM_Job_Progress::STATE_FAILED ||
         state == VM_Job_Progress::STATE_SKIPPED;
}

bool Progress_Reporter::add(std::string id, std::string name, VM_Job_Progress::VM_State state) {
  // Activation hands out pointers into the list, so it must not grow afterwards, even
  // when every instance was finished and no record was made.
  YOLT_CHECK_FALSE(vm_progress_wrapper_.empty(), false);
  const bool not_activated = !activated_;
  YOLT_CHECK_FALSE(not_activated, false);
  const std::string& instance_id = id;
  const std::string& instance_name = name;
  YOLT_CHECK_EMPTY(instance_id, false);
  YOLT_CHECK_EMPTY(instance_name, false);
  VM_Job_Progress progress;
  progress.uuid = std::move(id);
  progress.name = std::move(name);
  progress.state = state;
  if (is_finished(state) && state != VM_Job_Progress::STATE_SKIPPED) {
    progress.start_time = progress.end_time = ACE_OS::time(nullptr);
  }
  vm_progresses_.push_back(std::move(progress));
  return true;
}

bool Progress_Reporter::activate(const std::string& def_id) {
  YOLT_CHECK_FALSE(vm_progress_wrapper_.empty(), false);
  const bool not_activated = !activated_;
  YOLT_CHECK_FALSE(not_activated, false);
  activated_ = true;
  vm_progress_wrapper_.reserve(vm_progresses_.size());
  for (VM_Job_Progress& progress : vm_progresses_) {
    if (is_finished(progress.state)) continue;
    Instance_Mem_Map_Progress_Wrapper wrapper;
    wrapper.handle = std::make_unique<Instance_Mem_Map_Handle>();
    if (open_progress_record(*wrapper.handle, def_id, progress.uuid, true) != 0) return false;
    Instance_Progress_Info* const handle = wrapper.handle->get();
    YOLT_CHECK_NULL(handle, false);
    handle->set_state(VM_Job_Progress::STATE_PENDING);
    handle->reset();
    wrapper.job_progress = &progress;
    vm_progress_wrapper_.push_back(std::move(wrapper));
  }
  return true;
}

bool Progress_Reporter::update_time(const std::string& id, time_t time, bool start) {
  YOLT_CHECK_EMPTY(id, false);
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, false);
  for (VM_Job_Progress& progress : vm_progresses_) {
    if (progress.uuid != id) continue;
    (start ? progress.start_time : progress.end_time) = time;
    return true;
  }
  return false;
}

bool Progress_Reporter::report(bool final) {
  ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, lock_, false);
  for (const Instance_Mem_Map_Progress_Wrapper& wrapper : vm_progress_wrapper_) {
    const Instance_Progress_Info* const record = wrapper.handle ? wrapper.handle->get() : nullptr;
    if (wrapper.job_progress == nullptr || record == nullptr) continue;
    VM_Job_Progress& progress = *wrapper.job_progress;
    progress.total_bytes = record->total_size.load();
    progress.processed_bytes = record->processed_size.load();
    progress.virtual_disk_count = static_cast<int32_t>(record->total_volume_num.load());
    progress.processed_virtual_disk_count =
        static_cast<int32_t>(record->processed_volume_num.load());
    VM_Job_Progress::VM_State state = record->get_state();
    if (final && state != VM_Job_Progress::STATE_COMPLETED &&
        state != VM_Job_Progress::STATE_SKIPPED) {
      state = VM_Job_Progress::STATE_FAILED;
    }
    progress.state = state;
  }
  return event_handler_.handle_vm_progress(vm_progresses_, job_act_.state.load(), final) != -1;
}

}  // namespace tavrocloud
