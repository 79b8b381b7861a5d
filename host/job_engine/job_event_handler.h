// The events of a job run: an executor announces the start, the outcome (success,
// paused, cancelled, failure) and the per-instance progress through a handler built on
// its job. The handler records each one in the job and moves the activity record's
// state and times along.
#ifndef HOST_JOB_ENGINE_JOB_EVENT_HANDLER_H
#define HOST_JOB_ENGINE_JOB_EVENT_HANDLER_H

#include "job/job_event.h"
#include "job_engine/job.h"
#include "job_engine/job_types.h"

#include <vector>

class Job_Event_Handler {
 public:
  // Seconds between job notifications and between progress reports.
  enum { DEFAULT_JOB_NOTIFY_INTERVAL = 5, DEFAULT_JOB_NOTIFY_PROGRESS_INTERVAL = 10 };

  explicit Job_Event_Handler(Job& job);
  virtual ~Job_Event_Handler();
  Job_Event_Handler(const Job_Event_Handler&) = delete;
  Job_Event_Handler& operator=(const Job_Event_Handler&) = delete;

  // The run has started: start time now, state running. A stop, pause, abort or switch
  // that arrived while the run was starting is kept rather than overwritten. 0.
  virtual int handle_start_job();
  // Outcomes: each records the event, stores the end time and sets the state to
  // completed, paused, canceled or error. 0.
  virtual int handle_success();
  virtual int handle_paused();
  virtual int handle_canceled();
  // `format` is a printf format for the failure text, or null for none.
  virtual int handle_failure(int code, const char* format, ...);
  // Records one progress report of every instance of the run; 0 (-1 would mean the
  // report could not be delivered).
  virtual int handle_vm_progress(const std::vector<VM_Job_Progress>& progresses, Job_State state,
                                 bool final);

 protected:
  int finish(Job_Event_Record::Kind kind, Job_State state, int code, std::string message);

  Job& job_;
};

#endif  // HOST_JOB_ENGINE_JOB_EVENT_HANDLER_H
