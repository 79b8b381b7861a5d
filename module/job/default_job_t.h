// Adapts an executor class to the host's job: start runs the executor on a detached job
// thread; abort, remove, update, rollback and on-demand set-up each construct a
// short-lived executor for one operation. The job object itself keeps no executor.
#ifndef JOB_DEFAULT_JOB_T_H
#define JOB_DEFAULT_JOB_T_H

#include "job_engine/job.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_event_handler.h"
#include "job_engine/job_schedule.h"
#include "job_engine/job_types.h"
#include "runtime/uuid.h"
#include "yolt/check.h"
#include "yolt/memory.h"
#include "yolt/thread_helper.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_Thread.h>
#include <ace/Thread_Manager.h>

#include <cstring>
#include <exception>
#include <memory>
#include <mutex>

// The steps of a job start that can fail.
enum class Job_Start_Step { RUN_OPTIONS, SPAWN };

// Fault hook for tests: when set, it is asked before each step of a start, and a true
// answer fails that step as the allocator or the thread manager would. Null otherwise.
inline bool (*job_start_fault)(Job_Start_Step step) = nullptr;

// Executor: a Job_Executor_T subclass constructible from Job&.
template <typename Executor>
class Default_Job_T : public Job {
 public:
  explicit Default_Job_T(Job_Definition_var def) : Job(def), thr_id_(ACE_OS::NULL_thread) {}
  ~Default_Job_T() override {}

  int handle_exception(ACE_HANDLE) override { return 0; }

 protected:
  // Thread flags of the job and rollback threads: detached (0x40), own LWP (0x2).
  static constexpr long thread_flags = 0x400042;

  // What the job thread is given: this job, held for the whole run, and a copy of the
  // start command's options.
  struct Run_Options {
    Job_var hold;
    void* job = nullptr;
    Action_Options opts;
  };

  // Spawns the detached job thread; 0, or -1 when it could not be started (then the
  // thread's hold on this job is released at once). Safe against a concurrent abort.
  int start_i(const Action_Options* opts) override {
    std::unique_ptr<Run_Options> opt;
    if (!start_fails(Job_Start_Step::RUN_OPTIONS)) opt = make_unique_nothrow<Run_Options>();
    YOLT_CHECK_NULL(opt, -1);
    opt->hold = Job_var(this);
    opt->job = this;
    if (opts != nullptr) opt->opts = *opts;
    // The id goes through a local so that it is published here, under the lock, and
    // only for a thread that exists.
    std::lock_guard<std::mutex> lock(thr_mutex_);
    ACE_thread_t tid = ACE_OS::NULL_thread;
    const int rc = start_fails(Job_Start_Step::SPAWN)
                       ? -1
                       : ACE_Thread_Manager::instance()->spawn(&Default_Job_T::run, opt.get(),
                                                               thread_flags, &tid, nullptr,
                                                               ACE_DEFAULT_THREAD_PRIORITY, -1);
    if (rc < 0) return -1;
    opt.release();  // the thread owns it now
    thr_id_ = tid;
    return 0;
  }

  int stop_i(const Action_Options*) override { return -1; }
  int resume_i(const Action_Options*) override { return -1; }

  // Asks the run to cancel: state cancelling, and the job thread marked cancelled in the
  // thread manager (nothing is interrupted). The state setter's result.
  // An abort that meets a start still spawning waits for it and reaches the new thread.
  int abort_i(const Action_Options*) override {
    const int rc = this->state_i(JOB_STATE_CANCELING);
    std::lock_guard<std::mutex> lock(thr_mutex_);
    ACE_Thread_Manager::instance()->cancel(thr_id_, 0);
    return rc;
  }

  // Undoes every on-demand set-up, then the executor's removal; 0 whatever they return.
  int remove_i(bool, const Action_Options*) override {
    const Job_Definition_var def = this->definition();
    for (const Job_Schedule_var& schedule : def->schedules()) {
      if (schedule && schedule->type() == Job_Schedule::TYPE_ONDEMAND)
        with_executor("remove_ondemand", [](Executor& e) { return e.remove_ondemand(); });
    }
    with_executor("remove", [](Executor& e) { return e.remove(); });
    return 0;
  }

  int update_i(Job_Definition_var def) override {
    with_executor("update", [&def](Executor& e) { return e.update(def); });
    return 0;
  }

  // Runs the executor's rollback on a detached thread, which holds this job until it
  // ends; 0 once the thread runs, -1 when it could not be started.
  int rollback_i() override {
    Thread_Helper helper(thread_flags, ACE_DEFAULT_THREAD_PRIORITY);
    const Job_var hold(this);
    const int rc = helper.spawn([hold] { static_cast<Default_Job_T*>(hold.get())->run_rollback(); });
    return rc < 0 ? -1 : 0;
  }

  int setup_ondemand_i() override {
    const bool ok = with_executor("setup_ondemand", [](Executor& e) { return e.setup_ondemand(); });
    return ok ? 0 : -1;
  }

  // The job thread's body: announce the thread, record the definition's uid, run the
  // executor once, complete.
  ACE_THR_FUNC_RETURN run_i(const Action_Options* opts) override {
    this->set_job_thread();
    write_uid();
    run_executor(opts);
    this->complete();
    return 0;
  }

  // The job thread's entry; `arg` is the Run_Options, which the thread owns.
  static ACE_THR_FUNC_RETURN run(void* arg) {
    std::unique_ptr<Run_Options> opt(static_cast<Run_Options*>(arg));
    Default_Job_T* const job = static_cast<Default_Job_T*>(opt->job);
    return job->run_i(opt->opts.empty() ? nullptr : &opt->opts);
  }

  ACE_THR_FUNC_RETURN run_rollback() {
    Executor executor(*this);
    executor.rollback();
    return 0;
  }

  ACE_thread_t thr_id_;  // guarded by thr_mutex_
  std::mutex thr_mutex_;

 private:
  static bool start_fails(Job_Start_Step step) {
    return job_start_fault != nullptr && job_start_fault(step);
  }

  // The uid as 16 raw bytes; a uid that is not UUID text leaves the field zeroed.
  void write_uid() {
    unsigned char uid[16] = {};
    const Job_Definition_var def = this->definition();
    if (!uuid_string_to_binary(def->uid().c_str(), uid))
      ACE_ERROR((LM_WARNING, "Job %s: uid \"%s\" is not a UUID.\n", def->id().c_str(),
                 def->uid().c_str()));
    std::memcpy(this->activity().uid, uid, sizeof uid);
  }

  // An exception must not leave the job thread: it is logged and the run is reported
  // failed (event and state), since the executor sent no closing event of its own.
  void run_executor(const Action_Options* opts) {
    try {
      Executor executor(*this);
      executor.execute(opts);
      return;
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Job %s: the run ended with an exception: %s\n",
                 this->definition()->id().c_str(), e.what()));
    } catch (...) {
      ACE_ERROR((LM_ERROR, "Job %s: the run ended with an unknown exception.\n",
                 this->definition()->id().c_str()));
    }
    Job_Event_Handler(*this).handle_failure(-1, nullptr);
  }

  // Runs `op` on a short-lived executor for a command of the host. An exception (from
  // the executor or its construction) must not reach the host: it is logged and counts
  // as a failed operation. What `op` returned, or false.
  template <typename Op>
  bool with_executor(const char* what, Op op) {
    try {
      Executor executor(*this);
      return op(executor);
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Job %s: %s ended with an exception: %s\n",
                 this->definition()->id().c_str(), what, e.what()));
    } catch (...) {
      ACE_ERROR((LM_ERROR, "Job %s: %s ended with an unknown exception.\n",
                 this->definition()->id().c_str(), what));
    }
    return false;
  }
};

#endif  // JOB_DEFAULT_JOB_T_H
