// Progress of a backup or restore run, instance by instance: the executor adds every
// instance, activation makes each unfinished instance's memory-mapped progress record,
// and each report copies what the handlers wrote there into the list handed to the host.
#ifndef TAVROCLOUD_JOB_PROGRESS_REPORTER_H
#define TAVROCLOUD_JOB_PROGRESS_REPORTER_H

#include "job/job_event.h"
#include "job_engine/job_activity.h"
#include "job_engine/job_event_handler.h"
#include "tavrocloud/job/instance_progress_info.h"

#include <ace/Thread_Mutex.h>

#include <ctime>
#include <string>
#include <vector>

namespace tavrocloud {

class Progress_Reporter {
 public:
  Progress_Reporter(Job_Event_Handler& event_handler, const Job_Activity& job_act);
  Progress_Reporter(const Progress_Reporter&) = delete;
  Progress_Reporter& operator=(const Progress_Reporter&) = delete;

  // Adds an instance before activation; false (logged) for an empty id or name or after
  // activation. A finished state gets both times now (0 for skipped).
  bool add(std::string id, std::string name, VM_Job_Progress::VM_State state);
  // Once, after every add: makes a zeroed, pending progress record for every unfinished
  // instance of the run of `def_id`. False when it was already called or a record could
  // not be made (logged).
  bool activate(const std::string& def_id);
  // Sets the start (`start`) or end time of instance `id`; false when there is none.
  // Safe from any thread.
  bool update_time(const std::string& id, time_t time, bool start);
  // Hands every instance's progress to the host; a final report turns every state but
  // completed and skipped into failed. False when the host refused the report.
  bool report(bool final);

 private:
  struct Instance_Mem_Map_Progress_Wrapper {
    Instance_Mem_Map_Handle_ptr handle;
    VM_Job_Progress* job_progress = nullptr;
  };

  static bool is_finished(VM_Job_Progress::VM_State state);

  Job_Event_Handler& event_handler_;
  const Job_Activity& job_act_;
  std::vector<VM_Job_Progress> vm_progresses_;
  std::vector<Instance_Mem_Map_Progress_Wrapper> vm_progress_wrapper_;
  bool activated_ = false;
  // Guards the entries' times (written by workers) against a report reading them.
  ACE_Thread_Mutex lock_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_PROGRESS_REPORTER_H
