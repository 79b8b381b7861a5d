// The job engine's job object: one per job definition. The host issues commands
// (start, stop, pause, ...) through the public operations; a module's job class
// overrides the command slots (start_i, stop_i, ...) and runs its executor on a job
// thread, which reports back through set_job_thread(), the job events, the results and
// complete(). Jobs are shared by intrusive reference count (Job_var) and must be made
// on the heap and held by a Job_var.
#ifndef HOST_JOB_ENGINE_JOB_H
#define HOST_JOB_ENGINE_JOB_H

#include "job/job_event.h"
#include "job_engine/job_activity.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_result.h"
#include "job_engine/job_types.h"
#include "job_engine/run_lock.h"
#include "json/value.h"

#include <ace/Event_Handler.h>
#include <ace/Intrusive_Auto_Ptr.h>
#include <ace/Log_Msg_Callback.h>
#include <ace/Log_Priority.h>
#include <ace/OS_NS_Thread.h>
#include <ace/Time_Value.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Job;
using Job_var = ACE_Intrusive_Auto_Ptr<Job>;

// One job event as the job keeps it.
struct Job_Event_Record {
  enum Kind { START, SUCCESS, PAUSED, CANCELED, FAILURE };
  Kind kind;
  int code;             // the failure code; 0 for the other kinds
  std::string message;  // the failure text; "" when none was given
  time_t time;
};

// One handle_vm_progress call.
struct Job_Progress_Record {
  std::vector<VM_Job_Progress> progresses;
  Job_State state;
  bool final;
};

// One write_job_alert call.
struct Job_Alert_Record {
  int level;
  unsigned long id;
  unsigned long extra;
  json_spirit::Value args;  // an array of arguments, or null
  int flag;
  std::string text;  // the console's text of the alert (job_alert_catalog.h)
};

// One line of the job's log.
struct Job_Log_Line {
  ACE_Log_Priority priority;
  std::string text;
};

class Job : public ACE_Event_Handler {
 public:
  // A job for `def` (a null definition is replaced by an empty one, logged). Maps the
  // activity record of the definition's id, creating it; when the id is empty or the
  // mapping fails (logged) the job keeps a private record that no handle can see.
  explicit Job(Job_Definition_var def);
  ~Job() override;
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // ---- commands, as the host issues them: 0 (or more) on success, -1 on failure ----

  // Starts a run: takes the definition's run lock (run_lock.h), sets the state to
  // starting, gives the activity record a fresh run id and calls start_i. Refused (-1,
  // logged, the activity record untouched, start_i not called) while an earlier run of
  // this job has not called complete(), or while another job, in this process or
  // another one of this home, runs the same definition id. The lock is held until the
  // run calls complete().
  int start(const Action_Options* opts = nullptr);
  int stop(const Action_Options* opts = nullptr);
  int enable(const Action_Options* opts = nullptr);
  int disable(const Action_Options* opts = nullptr);
  int pause(const Action_Options* opts = nullptr);
  int resume(const Action_Options* opts = nullptr);
  int abort(const Action_Options* opts = nullptr);
  int switch_job(const Action_Options* opts = nullptr);
  int remove(bool purge = false, const Action_Options* opts = nullptr);
  // Calls update_i; on success the job uses `def` from then on. A run or command that
  // is going on keeps the definition it started with (replaced definitions are kept
  // until the job goes).
  int update(Job_Definition_var def);
  int rollback();
  // 0 when the definition may be replaced while the job is in `state`, else -1.
  int can_update(Job_State state);
  int setup_ondemand();

  // True from a successful start until the run calls complete().
  bool live() const;
  // Waits up to `timeout` until no run is live and the thread of the last run has left
  // the thread manager; true when both happened. A job thread is detached and still
  // runs the thread manager's exit after complete(): a caller that goes on to unload
  // the module or end the process must not overtake it.
  bool wait_complete(const ACE_Time_Value& timeout) const;
  // Runs that called complete() so far.
  unsigned long completed_runs() const;

  // ---- for the job's own threads (the module's job class and executors) ----

  // Set the activity state; 0. state_i serves the commands, state the executors.
  int state_i(Job_State state);
  int state(Job_State state);
  Job_State state() const;
  // Writes the activity record back to its file; 0, or -1 when that fails.
  int sync(const Action_Options* opts);
  // First call of the job thread: records the thread and routes its logs to the job log.
  void set_job_thread();
  // Last call of the job thread: the run is over (wakes wait_complete). Also stops
  // routing the calling thread's logs to this job.
  void complete();
  Job_Definition_var definition() const;
  Job_Activity& activity() { return *act_; }
  const Job_Activity& activity() const { return *act_; }
  // The job log, for execute_script's output.
  ACE_Log_Msg_Callback* log_msg_callback();
  // Routes the calling thread's ACE log records to the job log as well; the thread must
  // not log after the job is gone (complete() undoes it for the job thread).
  void set_thread_log_msg_callback();
  // Stores `value` under `key` in the job's result (a later value replaces it).
  void set_result(const std::string& key, const json_spirit::Value& value);
  void append_result(Job_Result::Restore_Path_Entry&& entry);

  // ---- what the job recorded ----
  json_spirit::Object result() const;
  std::vector<Job_Result::Restore_Path_Entry> restore_paths() const;
  std::vector<Job_Event_Record> events() const;
  // The latest progress calls (at most max_progress_records) and how many there were.
  std::vector<Job_Progress_Record> progress() const;
  size_t progress_calls() const;
  std::vector<Job_Alert_Record> alerts() const;
  // The latest lines of the job log (at most max_log_lines).
  std::vector<Job_Log_Line> log_lines() const;

  // Recorders for Job_Event_Handler and write_job_alert.
  void record_event(Job_Event_Record event);
  void record_progress(Job_Progress_Record progress);
  void record_alert(Job_Alert_Record alert);

  static constexpr size_t max_progress_records = 256;
  static constexpr size_t max_log_lines = 10000;

  // Reference counting behind Job_var; the last release deletes the job.
  static void intrusive_add_ref(Job* job);
  static void intrusive_remove_ref(Job* job);

 protected:
  // Command slots. The host's defaults: start, stop, pause, resume, abort, switch,
  // rollback and on-demand set-up are not supported (-1); enable and disable set the
  // idle and disabled states; remove and update accept (0); run_i completes at once.
  virtual int setup_ondemand_by_job();
  virtual int start_i(const Action_Options* opts);
  virtual int stop_i(const Action_Options* opts);
  virtual int enable_i(const Action_Options* opts);
  virtual int disable_i(const Action_Options* opts);
  virtual int pause_i(const Action_Options* opts);
  virtual int resume_i(const Action_Options* opts);
  virtual int abort_i(const Action_Options* opts);
  virtual int switch_i(const Action_Options* opts);
  virtual int remove_i(bool purge, const Action_Options* opts);
  virtual int update_i(Job_Definition_var def);
  virtual int rollback_i();
  virtual int can_update_i(Job_State state);
  virtual int setup_ondemand_i();
  virtual ACE_THR_FUNC_RETURN run_i(const Action_Options* opts);

 private:
  class Log_Sink;

  void open_activity();
  bool take_run_lock();

  std::atomic<long> refs_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable completed_;
  Job_Definition_var def_;
  std::vector<Job_Definition_var> replaced_defs_;
  Job_Activity_Handle activity_handle_;
  std::unique_ptr<Job_Activity> private_activity_;
  Job_Activity* act_ = nullptr;
  bool live_ = false;
  Run_Lock run_lock_;  // held while live_ (a job with a private record takes none)
  unsigned long completed_runs_ = 0;
  ACE_thread_t job_thread_ = ACE_OS::NULL_thread;
  // The thread-manager group of the last job thread (-1: none, or not the manager's).
  int job_thread_group_ = -1;
  std::unique_ptr<Log_Sink> log_;
  json_spirit::Object result_;
  std::vector<Job_Result::Restore_Path_Entry> restore_paths_;
  std::vector<Job_Event_Record> events_;
  std::deque<Job_Progress_Record> progress_;
  size_t progress_calls_ = 0;
  std::vector<Job_Alert_Record> alerts_;
};

#endif  // HOST_JOB_ENGINE_JOB_H
