// The base of every job executor: binds an executor to one host job and runs one job
// run in a fixed order (password, activity, precondition and condition, start event,
// pre-action, the executor's own work, post-action, closing event). The job thread
// constructs an executor, calls execute() once and destroys it; other job commands
// construct one to call a single hook (remove, update, rollback, ...).
#ifndef JOB_JOB_EXECUTOR_T_H
#define JOB_JOB_EXECUTOR_T_H

#include "job_engine/execute_script.h"
#include "job_engine/job.h"
#include "job_engine/job_activity.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_target.h"
#include "job_engine/job_types.h"
#include "yolt/check.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_time.h>

#include <string>

// Source: the class of the definition's source object; Options: that of its options
// object; Event_Handler: the host's job event handler, built from the job.
template <typename Source, typename Options, typename Event_Handler>
class Job_Executor_T {
 public:
  explicit Job_Executor_T(Job& job)
      : job_(job),
        def_(*job.definition()),
        tgt_(def_.target()),
        act_(job.activity()),
        evt_handler_(job),
        src_(dynamic_cast<Source*>(def_.source())),
        opts_(dynamic_cast<Options*>(def_.options())) {}

  virtual ~Job_Executor_T() {}
  Job_Executor_T(const Job_Executor_T&) = delete;
  Job_Executor_T& operator=(const Job_Executor_T&) = delete;

  // Hooks of the other job commands; true on success (the defaults do nothing).
  virtual bool remove() { return true; }
  virtual bool setup_ondemand() { return true; }
  virtual bool remove_ondemand() { return true; }
  virtual bool update(Job_Definition_var) { return true; }
  virtual bool rollback() { return true; }

  // One job run; `opts` are the start command's options or null. False when the run
  // started and did not succeed (or could not start for want of a parsed source); true
  // when it succeeded or ended before starting (inactive: state skipped; precondition or
  // condition unmet: state idle). The outcome is reported through the job events.
  bool execute(const Action_Options* opts) {
    if (!check_source()) {
      evt_handler_.handle_failure(-1, nullptr);
      return false;
    }
    if (!def_.backup_protection_password().empty()) {
      const int code = check_password();
      if (code != 0) {
        evt_handler_.handle_failure(code, nullptr);
        return false;
      }
    }
    if (!is_active(opts)) {
      act_.last_run_time = ACE_OS::time();
      act_.state = JOB_STATE_SKIPPED;
      return true;
    }
    if (!execute_precondition() || !check_condition()) {
      act_.start_time = ACE_OS::time();
      act_.last_run_time = act_.start_time;
      act_.state = JOB_STATE_IDLE;
      job_.sync(nullptr);
      return true;
    }
    evt_handler_.handle_start_job();
    const bool pre_action = execute_pre_action();
    const bool work = pre_action && execute_i(opts);
    // What failed first is the job's failure: a post-action that fails after it is
    // logged, its failure not made the job's message.
    failed_before_post_action_ = !work;
    bool post_action = true;
    Job_State closing = JOB_STATE_NONE;
    if (work || def_.run_post_action_always()) {
      const Job_State before = act_.state;
      post_action = execute_post_action();
      closing = closing_state(before);
    } else {
      closing = act_.state;
    }
    if (pre_action && work && post_action) {
      evt_handler_.handle_success();
      return true;
    }
    send_unsuccessful(closing);
    return false;
  }

  // Runs the definition's precondition script (its output is not logged); true when it
  // succeeded or there is none. The host logs what became of a failed script; the line
  // here says which script it was.
  bool execute_precondition() {
    if (execute_script(def_.precondition(), false, nullptr)) return true;
    ACE_ERROR((LM_ERROR, "The precondition script failed: the job does not run.\n"));
    return false;
  }

 protected:
  // The executor's own work; true on success.
  virtual bool execute_i(const Action_Options* opts) = 0;

  // Runs the pre-action script into the job log. True when it succeeded (or its failure
  // is to be ignored) and the job is still running afterwards: a job stopped, paused or
  // switched meanwhile does not go on to its work.
  virtual bool execute_pre_action() {
    const bool ok =
        run_job_script("pre-action", def_.pre_action(), def_.ignore_pre_action_failure());
    return ok && act_.state == JOB_STATE_RUNNING;
  }

  // Runs the post-action script into the job log, in state completing. True when there
  // is none, it succeeded, or its failure is to be ignored.
  virtual bool execute_post_action() {
    if (def_.post_action().empty()) return true;
    if (act_.state != JOB_STATE_COMPLETING) job_.state(JOB_STATE_COMPLETING);
    return run_job_script("post-action", def_.post_action(), def_.ignore_post_action_failure());
  }

  // Gives the run's failure event `text` as its message, unless something that failed
  // earlier gave one: the executor's own work says why it failed where no line it
  // logged alone would.
  void set_failure_message(const std::string& text) {
    if (failure_.empty()) failure_ = text;
  }

  virtual bool check_condition() { return true; }
  virtual bool is_active(const Action_Options*) { return true; }
  // 0 when the backup-protection password is accepted, else the failure code.
  virtual int check_password() { return 0; }

  Job& job_;
  Job_Definition& def_;
  Job_Target& tgt_;
  Job_Activity& act_;
  Event_Handler evt_handler_;
  Source* src_;
  Options* opts_;

 private:
  bool check_source() const {
    YOLT_CHECK_NULL(src_, false);
    return true;
  }

  // The state that picks the closing event after a post-action: the post-action moves a
  // pausing or cancelling job to completing, which must not turn it into a failure.
  Job_State closing_state(Job_State before_post_action) const {
    const Job_State now = act_.state;
    if (now == JOB_STATE_COMPLETING &&
        (before_post_action == JOB_STATE_PAUSING || before_post_action == JOB_STATE_CANCELING))
      return before_post_action;
    return now;
  }

  // Runs one of the definition's scripts into the job log. True when it succeeded, there
  // is none, or its failure is to be ignored (then logged as a warning). Otherwise the
  // failure, naming the script by its role, is logged as an error and becomes the job's
  // failure message unless something failed before. The host logs what became of the
  // script; neither line shows its text, which may hold a password.
  bool run_job_script(const char* role, const std::string& script, bool ignore_failure) {
    if (execute_script(script, false, job_.log_msg_callback())) return true;
    const std::string text = std::string("The ") + role + " script failed";
    if (ignore_failure) {
      ACE_ERROR((LM_WARNING, "%s; the job goes on as the definition asks.\n", text.c_str()));
      return true;
    }
    ACE_ERROR((LM_ERROR, "%s.\n", text.c_str()));
    if (!failed_before_post_action_) set_failure_message(text);
    return false;
  }

  void send_unsuccessful(Job_State state) {
    if (state == JOB_STATE_PAUSING)
      evt_handler_.handle_paused();
    else if (state == JOB_STATE_CANCELING)
      evt_handler_.handle_canceled();
    else if (!failure_.empty())
      evt_handler_.handle_failure(-1, "%s", failure_.c_str());
    else
      evt_handler_.handle_failure(-1, nullptr);
  }

  std::string failure_;  // why a script or the work failed the run; "" when none said
  bool failed_before_post_action_ = false;  // the pre-action or the work failed
};

#endif  // JOB_JOB_EXECUTOR_T_H
