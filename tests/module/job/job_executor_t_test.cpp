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

// What the probe executor's hooks answer and what they saw.
struct Hooks {
  int password_code = 0;
  bool active = true;
  bool condition = true;
  Job_State state_during_pre_action = JOB_STATE_NONE;  // NONE: leave the state alone
  bool work = true;
  Job_State state_during_work = JOB_STATE_NONE;
  int work_calls = 0;
  bool condition_called = false;
  const Action_Options* seen_opts = nullptr;
  Job_State state_after_post_action = JOB_STATE_NONE;
  bool post_action_called = false;
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
    if (hooks_.state_during_pre_action != JOB_STATE_NONE)
      act_.state = hooks_.state_during_pre_action;
    return Base_Executor::execute_pre_action();
  }
  bool execute_post_action() override {
    hooks_.post_action_called = true;
    const bool ok = Base_Executor::execute_post_action();
    hooks_.state_after_post_action = act_.state;
    return ok;
  }
  bool check_condition() override {
    hooks_.condition_called = true;
    return hooks_.condition;
  }
  bool is_active(const Action_Options*) override { return hooks_.active; }
  int check_password() override { return hooks_.password_code; }

 private:
  Hooks& hooks_;
};

// The default hooks of the base, untouched.
class Plain_Executor : public Base_Executor {
 public:
  using Base_Executor::Base_Executor;

 protected:
  bool execute_i(const Action_Options*) override { return true; }
};

std::string event_text(const Job& job) {
  static const char* const names[] = {"start", "success", "paused", "canceled", "failure"};
  std::string text;
  for (const Job_Event_Record& e : job.events()) {
    text += (text.empty() ? "" : ",") + std::string(names[e.kind]);
    if (e.kind == Job_Event_Record::FAILURE) text += ":" + std::to_string(e.code);
  }
  return text;
}

bool job_log_has(const Job& job, const std::string& needle) {
  for (const Job_Log_Line& line : job.log_lines())
    if (line.text.find(needle) != std::string::npos) return true;
  return false;
}

struct Definition_Setup {
  const char* password = "";
  const char* precondition = "";
  const char* pre_action = "";
  bool ignore_pre_failure = false;
  const char* post_action = "echo post-ran";
  bool ignore_post_failure = false;
  bool post_always = false;
};


Job_var make_job(const std::string& id, const Definition_Setup& setup, bool with_source = true) {
  Job_Definition_var def(new Job_Definition);
  def->set_id(id);
  def->set_type(JOB_DEFINITION_BACKUP);
  def->set_backup_protection_password(setup.password);
  def->set_precondition(setup.precondition);
  def->set_pre_action(setup.pre_action);
  def->set_ignore_pre_action_failure(setup.ignore_pre_failure);
  def->set_post_action(setup.post_action);
  def->set_ignore_post_action_failure(setup.ignore_post_failure);
  def->set_run_post_action_always(setup.post_always);
  if (with_source) {
    def->set_source(ACE_Refcounted_Auto_Ptr<Test_Params, ACE_Thread_Mutex>(new Test_Params));
    def->set_options(ACE_Refcounted_Auto_Ptr<Test_Params, ACE_Thread_Mutex>(new Test_Params));
  }
  Job_var job(new Job(def));
  Job_Activity& act = job->activity();
  act.state = JOB_STATE_STARTING;  // as a start command leaves it
  act.start_time = 0;
  act.last_run_time = 0;
  return job;
}

// One row per path through the run: the definition and hooks it sets, then the events,
// final state, result, work calls, whether the post-action ran and the condition was asked.
using Arrange = void (*)(Definition_Setup&, Hooks&);
struct Case {
  const char* name;
  Arrange arrange;
  const char* events;
  Job_State final_state;
  bool result;
  int work_calls;
  bool post_ran, condition_called;
};
const Job_State CANCELING = JOB_STATE_CANCELING, PAUSING = JOB_STATE_PAUSING;
const char* const FAIL_POST = "echo post-ran; exit 1";
const Case cases[] = {
    {"success", [](Definition_Setup&, Hooks&) {}, "start,success", JOB_STATE_COMPLETED, true, 1, true, true},
    {"password refused", [](Definition_Setup& d, Hooks& h) { d.password = "pw", h.password_code = 5; }, "failure:5", JOB_STATE_ERROR, false, 0, false, false},
    {"no password, no check", [](Definition_Setup&, Hooks& h) { h.password_code = 5; }, "start,success", JOB_STATE_COMPLETED, true, 1, true, true},
    {"inactive", [](Definition_Setup&, Hooks& h) { h.active = false; }, "", JOB_STATE_SKIPPED, true, 0, false, false},
    {"precondition fails", [](Definition_Setup& d, Hooks&) { d.precondition = "exit 1"; }, "", JOB_STATE_IDLE, true, 0, false, false},
    {"condition unmet", [](Definition_Setup&, Hooks& h) { h.condition = false; }, "", JOB_STATE_IDLE, true, 0, false, true},
    {"pre-action fails", [](Definition_Setup& d, Hooks&) { d.pre_action = "exit 2"; }, "start,failure:-1", JOB_STATE_ERROR, false, 0, false, true},
    {"pre-action failure ignored", [](Definition_Setup& d, Hooks&) { d.pre_action = "exit 2", d.ignore_pre_failure = true; }, "start,success", JOB_STATE_COMPLETED, true, 1, true, true},
    {"stop during pre-action, post always", [](Definition_Setup& d, Hooks& h) { d.pre_action = "true", d.post_always = true, h.state_during_pre_action = CANCELING; }, "start,canceled", JOB_STATE_CANCELED, false, 0, true, true},
    {"stop during an empty pre-action", [](Definition_Setup&, Hooks& h) { h.state_during_pre_action = CANCELING; }, "start,canceled", JOB_STATE_CANCELED, false, 0, false, true},
    {"pause during pre-action", [](Definition_Setup&, Hooks& h) { h.state_during_pre_action = PAUSING; }, "start,paused", JOB_STATE_PAUSED, false, 0, false, true},
    {"switch during pre-action", [](Definition_Setup&, Hooks& h) { h.state_during_pre_action = JOB_STATE_SWITCHING; }, "start,failure:-1", JOB_STATE_ERROR, false, 0, false, true},
    {"work fails", [](Definition_Setup&, Hooks& h) { h.work = false; }, "start,failure:-1", JOB_STATE_ERROR, false, 1, false, true},
    {"work fails, post always", [](Definition_Setup& d, Hooks& h) { h.work = false, d.post_always = true; }, "start,failure:-1", JOB_STATE_ERROR, false, 1, true, true},
    {"work stopped", [](Definition_Setup&, Hooks& h) { h.work = false, h.state_during_work = CANCELING; }, "start,canceled", JOB_STATE_CANCELED, false, 1, false, true},
    {"work stopped, post always and failing", [](Definition_Setup& d, Hooks& h) { h.work = false, h.state_during_work = CANCELING, d.post_always = true, d.post_action = FAIL_POST; }, "start,canceled", JOB_STATE_CANCELED, false, 1, true, true},
    {"work paused, post always", [](Definition_Setup& d, Hooks& h) { h.work = false, h.state_during_work = PAUSING, d.post_always = true; }, "start,paused", JOB_STATE_PAUSED, false, 1, true, true},
    {"work succeeds although stopped", [](Definition_Setup&, Hooks& h) { h.state_during_work = CANCELING; }, "start,success", JOB_STATE_COMPLETED, true, 1, true, true},
    {"post-action fails", [](Definition_Setup& d, Hooks&) { d.post_action = FAIL_POST; }, "start,failure:-1", JOB_STATE_ERROR, false, 1, true, true},
    {"post-action failure ignored", [](Definition_Setup& d, Hooks&) { d.post_action = FAIL_POST, d.ignore_post_failure = true; }, "start,success", JOB_STATE_COMPLETED, true, 1, true, true},
};

TEST(Job_Executor_T, RunsTheSequenceInOrder) {
  test::Log_Capture log;  // keeps the scripts' failure lines out of the output
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Definition_Setup setup;
    Hooks hooks;
    c.arrange(setup, hooks);
    Job_var job = make_job("exec-" + std::to_string(index++), setup);
    Action_Options opts{{"k", json_spirit::Value(1)}};
    EXPECT_EQ(Probe_Executor(*job, hooks).execute(&opts), c.result);
    EXPECT_EQ(event_text(*job), c.events);
    EXPECT_EQ(job->state(), c.final_state);
    EXPECT_EQ(hooks.work_calls, c.work_calls);
    EXPECT_TRUE(hooks.work_calls == 0 || hooks.seen_opts == &opts);
    EXPECT_EQ(job_log_has(*job, "post-ran"), c.post_ran);
    EXPECT_EQ(hooks.condition_called, c.condition_called);
    EXPECT_TRUE(!c.post_ran || hooks.state_after_post_action == JOB_STATE_COMPLETING);
    const Job_Activity& act = job->activity();
    if (c.final_state == JOB_STATE_SKIPPED) {
      EXPECT_TRUE(act.start_time == 0 && act.last_run_time != 0);
    } else if (c.final_state == JOB_STATE_IDLE) {
      EXPECT_TRUE(act.start_time != 0 && act.start_time == act.last_run_time);
    } else if (std::string(c.events).rfind("start", 0) == 0) {
      EXPECT_TRUE(act.start_time != 0 && act.last_run_time >= act.start_time);
    }
  }
}

// The base's own hooks: no password check, and script output reaches the job log except
// the precondition's; an empty post-action leaves the state and counts as success.
TEST(Job_Executor_T, DefaultHooksAndScriptOutput) {
  Definition_Setup setup;
  setup.password = "secret";
  setup.precondition = "echo from-precondition";
  setup.pre_action = "echo from-pre-action";
  setup.post_action = "echo from-post-action";
  Job_var job = make_job("exec-defaults", setup);
  EXPECT_TRUE(Plain_Executor(*job).execute(nullptr));
  EXPECT_EQ(event_text(*job), "start,success");
  EXPECT_FALSE(job_log_has(*job, "from-precondition"));
  EXPECT_TRUE(job_log_has(*job, "from-pre-action") && job_log_has(*job, "from-post-action"));

  setup = Definition_Setup();
  setup.post_action = "";
  setup.post_always = true;
  Hooks hooks;
  job = make_job("exec-empty-post", setup);
  EXPECT_TRUE(Probe_Executor(*job, hooks).execute(nullptr));
  EXPECT_TRUE(hooks.post_action_called);
  EXPECT_EQ(hooks.state_after_post_action, JOB_STATE_RUNNING);
  EXPECT_EQ(event_text(*job), "start,success");
}

TEST(Job_Executor_T, UnparsedSourceIsReportedAsAFailure) {
  test::Log_Capture log;
  Hooks hooks;
  Job_var job = make_job("exec-no-source", Definition_Setup(), false);
  EXPECT_FALSE(Probe_Executor(*job, hooks).execute(nullptr));
  EXPECT_TRUE(log.contains("src_ is NULL:", LM_EMERGENCY));
  EXPECT_EQ(event_text(*job), "failure:-1");
  EXPECT_EQ(hooks.work_calls, 0);
}

}  // namespace
