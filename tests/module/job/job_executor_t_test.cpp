#include "job/job_executor_t.h"

#include "job_engine/job.h"
#include "job_engine/job_event_handler.h"
#include "module/job_def/test_params.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <string>

TEST_TEMP_HOME();

namespace {

using test::Test_Params;
using Base_Executor = Job_Executor_T<Test_Params, Test_Params, Job_Event_Handler>;
using Params_Ptr = ACE_Refcounted_Auto_Ptr<Test_Params, ACE_Thread_Mutex>;

// What the probe executor's hooks answer and what they saw.
struct Hooks {
  int password_code = 0, work_calls = 0;
  bool active = true, condition = true, work = true, condition_called = false;
  // The states a command during the pre-action or the work leaves (NONE: none came), and
  // the state after the post-action.
  Job_State state_during_pre_action = JOB_STATE_NONE, state_during_work = JOB_STATE_NONE, state_after_post_action = JOB_STATE_NONE;
  const Action_Options* seen_opts = nullptr;
};

class Probe_Executor : public Base_Executor {
 public:
  Probe_Executor(Job& job, Hooks& hooks) : Base_Executor(job), hooks_(hooks) {}

 protected:
  bool execute_i(const Action_Options* opts) override {
    ++hooks_.work_calls;
    hooks_.seen_opts = opts;
    if (hooks_.state_during_work != JOB_STATE_NONE) act_.state = hooks_.state_during_work;
    return hooks_.work;
  }
  // A command that arrives while the script runs shows as the state it leaves.
  bool execute_pre_action() override {
    if (hooks_.state_during_pre_action != JOB_STATE_NONE) act_.state = hooks_.state_during_pre_action;
    return Base_Executor::execute_pre_action();
  }
  bool execute_post_action() override {
    const bool ok = Base_Executor::execute_post_action();
    hooks_.state_after_post_action = act_.state;
    return ok;
  }
  bool check_condition() override { return hooks_.condition_called = true, hooks_.condition; }
  bool is_active(const Action_Options*) override { return hooks_.active; }
  int check_password() override { return hooks_.password_code; }

 private:
  Hooks& hooks_;
};

// Which of the scripts' echoes reached the job log.
std::string script_output(const Job& job) {
  std::string text;
  for (const char* echo : {"cond-ran", "pre-ran", "post-ran"})
    for (const Job_Log_Line& line : job.log_lines())
      if (line.text.find(echo) != std::string::npos) text += (text.empty() ? "" : " ") + std::string(echo);
  return text;
}

// One row per path through the run: the definition and hooks it sets (the precondition
// and post-action echo by default), then the events, final state, result, work calls,
// the script output in the job log and whether the condition was asked.
using Arrange = void (*)(Job_Definition&, Hooks&);
struct Case { const char* name; Arrange arrange; const char* events; Job_State final_state; bool result; int work_calls; const char* output; bool condition_called; };
const Job_State CANCELING = JOB_STATE_CANCELING, PAUSING = JOB_STATE_PAUSING;
const char* const FAIL_POST = "echo post-ran; exit 1";
const Case cases[] = {
    {"success", [](Job_Definition&, Hooks&) {}, "start,success", JOB_STATE_COMPLETED, true, 1, "post-ran", true},
    {"source unparsed", [](Job_Definition& d, Hooks&) { d.set_source(Params_Ptr()); }, "failure:-1", JOB_STATE_ERROR, false, 0, "", false},
    {"password refused", [](Job_Definition& d, Hooks& h) { d.set_backup_protection_password("pw"), h.password_code = 5; }, "failure:5", JOB_STATE_ERROR, false, 0, "", false},
    {"no password, no check", [](Job_Definition&, Hooks& h) { h.password_code = 5; }, "start,success", JOB_STATE_COMPLETED, true, 1, "post-ran", true},
    {"inactive", [](Job_Definition&, Hooks& h) { h.active = false; }, "", JOB_STATE_SKIPPED, true, 0, "", false},
    {"precondition fails", [](Job_Definition& d, Hooks&) { d.set_precondition("exit 1"); }, "", JOB_STATE_IDLE, true, 0, "", false},
    {"condition unmet", [](Job_Definition&, Hooks& h) { h.condition = false; }, "", JOB_STATE_IDLE, true, 0, "", true},
    {"pre-action fails", [](Job_Definition& d, Hooks&) { d.set_pre_action("echo pre-ran; exit 2"); }, "start,failure:-1", JOB_STATE_ERROR, false, 0, "pre-ran", true},
    {"pre-action failure ignored", [](Job_Definition& d, Hooks&) { d.set_pre_action("exit 2"), d.set_ignore_pre_action_failure(true); }, "start,success", JOB_STATE_COMPLETED, true, 1, "post-ran", true},
    {"stop during pre-action, post always", [](Job_Definition& d, Hooks& h) { d.set_pre_action("true"), d.set_run_post_action_always(true), h.state_during_pre_action = CANCELING; }, "start,canceled", JOB_STATE_CANCELED, false, 0, "post-ran", true},
    {"stop during an empty pre-action", [](Job_Definition&, Hooks& h) { h.state_during_pre_action = CANCELING; }, "start,canceled", JOB_STATE_CANCELED, false, 0, "", true},
    {"pause during pre-action", [](Job_Definition&, Hooks& h) { h.state_during_pre_action = PAUSING; }, "start,paused", JOB_STATE_PAUSED, false, 0, "", true},
    {"switch during pre-action", [](Job_Definition&, Hooks& h) { h.state_during_pre_action = JOB_STATE_SWITCHING; }, "start,failure:-1", JOB_STATE_ERROR, false, 0, "", true},
    {"work fails", [](Job_Definition&, Hooks& h) { h.work = false; }, "start,failure:-1", JOB_STATE_ERROR, false, 1, "", true},
    {"work fails, post always", [](Job_Definition& d, Hooks& h) { h.work = false, d.set_run_post_action_always(true); }, "start,failure:-1", JOB_STATE_ERROR, false, 1, "post-ran", true},
    {"work stopped", [](Job_Definition&, Hooks& h) { h.work = false, h.state_during_work = CANCELING; }, "start,canceled", JOB_STATE_CANCELED, false, 1, "", true},
    {"work stopped, post always and failing", [](Job_Definition& d, Hooks& h) { h.work = false, h.state_during_work = CANCELING, d.set_run_post_action_always(true), d.set_post_action(FAIL_POST); }, "start,canceled", JOB_STATE_CANCELED, false, 1, "post-ran", true},
    {"work paused, post always", [](Job_Definition& d, Hooks& h) { h.work = false, h.state_during_work = PAUSING, d.set_run_post_action_always(true); }, "start,paused", JOB_STATE_PAUSED, false, 1, "post-ran", true},
    {"work succeeds although stopped", [](Job_Definition&, Hooks& h) { h.state_during_work = CANCELING; }, "start,success", JOB_STATE_COMPLETED, true, 1, "post-ran", true},
    {"post-action fails", [](Job_Definition& d, Hooks&) { d.set_post_action(FAIL_POST); }, "start,failure:-1", JOB_STATE_ERROR, false, 1, "post-ran", true},
    {"post-action failure ignored", [](Job_Definition& d, Hooks&) { d.set_post_action(FAIL_POST), d.set_ignore_post_action_failure(true); }, "start,success", JOB_STATE_COMPLETED, true, 1, "post-ran", true},
    {"empty post-action, post always", [](Job_Definition& d, Hooks&) { d.set_post_action(""), d.set_run_post_action_always(true); }, "start,success", JOB_STATE_COMPLETED, true, 1, "", true},
};

TEST(Job_Executor_T, RunsTheSequenceInOrder) {
  test::Log_Capture log;  // keeps the scripts' failure lines out of the output
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job_Definition_var def(new Job_Definition);
    def->set_id(std::string("exec-") + c.name);
    def->set_type(JOB_DEFINITION_BACKUP);
    def->set_precondition("echo cond-ran");
    def->set_post_action("echo post-ran");
    def->set_source(Params_Ptr(new Test_Params));
    Hooks hooks;
    c.arrange(*def, hooks);
    Job_var job(new Job(def));
    Job_Activity& act = job->activity();
    act.state = JOB_STATE_STARTING;  // as a start command leaves it
    act.start_time = act.last_run_time = 0;
    Action_Options opts{{"k", json_spirit::Value(1)}};
    EXPECT_EQ(Probe_Executor(*job, hooks).execute(&opts), c.result);
    EXPECT_EQ(test::event_text(*job), c.events);
    EXPECT_EQ(job->state(), c.final_state);
    EXPECT_EQ(hooks.work_calls, c.work_calls);
    EXPECT_TRUE(hooks.work_calls == 0 || hooks.seen_opts == &opts);
    EXPECT_EQ(script_output(*job), c.output);
    EXPECT_EQ(hooks.condition_called, c.condition_called);
    // The post-action runs in state completing; an empty one leaves the state alone.
    EXPECT_TRUE(std::string(c.output).find("post") == std::string::npos || hooks.state_after_post_action == JOB_STATE_COMPLETING);
    EXPECT_TRUE(*def->post_action().c_str() || hooks.state_after_post_action == JOB_STATE_RUNNING);
    EXPECT_TRUE(c.final_state != JOB_STATE_SKIPPED || (act.start_time == 0 && act.last_run_time != 0));
    EXPECT_TRUE(c.final_state != JOB_STATE_IDLE || (act.start_time != 0 && act.start_time == act.last_run_time));
  }
}

}  // namespace
