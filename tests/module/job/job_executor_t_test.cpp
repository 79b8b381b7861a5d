#include "job/job_executor_t.h"

#include "job_engine/job.h"
#include "job_engine/job_event_handler.h"
#include "module/job_def/test_params.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

TEST_TEMP_HOME();

namespace {

using test::Test_Params;
using Base_Executor = Job_Executor_T<Test_Params, Test_Params, Job_Event_Handler>;
using Params_Ptr = ACE_Refcounted_Auto_Ptr<Test_Params, ACE_Thread_Mutex>;

// An executor whose hooks answer as set and record what they saw.
class Probe_Executor : public Base_Executor {
 public:
  explicit Probe_Executor(Job& job) : Base_Executor(job) {}
  int password_code = 0, work_calls = 0;
  bool active = true, condition = true, work = true, condition_called = false;
  std::string work_says;  // why the work failed, given as the failure message
  // The states a command during the pre-action or the work leaves (NONE: none came).
  Job_State state_during_pre_action = JOB_STATE_NONE, state_during_work = JOB_STATE_NONE;
  Job_State state_after_post_action = JOB_STATE_NONE;

 protected:
  bool execute_i(const Action_Options*) override {
    ++work_calls;
    if (!work_says.empty()) set_failure_message(work_says);
    if (state_during_work != JOB_STATE_NONE) act_.state = state_during_work;
    return work;
  }
  // A command that arrives while the script runs shows as the state it leaves.
  bool execute_pre_action() override {
    if (state_during_pre_action != JOB_STATE_NONE) act_.state = state_during_pre_action;
    return Base_Executor::execute_pre_action();
  }
  bool execute_post_action() override {
    const bool ok = Base_Executor::execute_post_action();
    state_after_post_action = act_.state;
    return ok;
  }
  bool check_condition() override {
    condition_called = true;
    return condition;
  }
  bool is_active(const Action_Options*) override { return active; }
  int check_password() override { return password_code; }
};

// Applies each word of `setup` to the definition or the hooks.
void arrange(const std::string& setup, Job_Definition& def, Probe_Executor& h) {
  std::istringstream words(setup);
  for (std::string w; words >> w;) {
    if (w == "password") def.set_backup_protection_password("pw");
    if (w == "refused") h.password_code = 5;
    if (w == "inactive") h.active = false;
    if (w == "precondition-fails") def.set_precondition("exit 1");
    if (w == "unmet") h.condition = false;
    if (w == "pre-fails") def.set_pre_action("echo pre-ran; exit 2");
    if (w == "ignore-pre") def.set_ignore_pre_action_failure(true);
    if (w == "pre-stop") h.state_during_pre_action = JOB_STATE_CANCELING;
    if (w == "pre-pause") h.state_during_pre_action = JOB_STATE_PAUSING;
    if (w == "pre-switch") h.state_during_pre_action = JOB_STATE_SWITCHING;
    if (w == "work-fails") h.work = false;
    if (w == "work-says") h.work = false, h.work_says = "nothing to back up";
    if (w == "work-stop") h.state_during_work = JOB_STATE_CANCELING;
    if (w == "work-pause") h.state_during_work = JOB_STATE_PAUSING;
    if (w == "no-post") def.set_post_action("");
    if (w == "post-fails") def.set_post_action("echo post-ran; exit 1");
    if (w == "post-killed") def.set_post_action("echo post-ran; kill -9 $$");
    if (w == "ignore-post") def.set_ignore_post_action_failure(true);
    if (w == "post-always") def.set_run_post_action_always(true);
  }
}

// What a run did: the final state, the events, the work calls, the scripts' echoes that
// reached the job log, whether the condition was asked, the failure message and the
// lines logged as errors.
std::string outcome(const Job& job, const Probe_Executor& hooks, const test::Log_Capture& log) {
  std::string text = job_state_to_string(job.state());
  text += " " + test::event_text(job) + " " + std::to_string(hooks.work_calls);
  for (const char* echo : {"cond-ran", "pre-ran", "post-ran"})
    for (const Job_Log_Line& line : job.log_lines())
      if (line.text.find(echo) != std::string::npos) text += std::string(" ") + echo;
  text += hooks.condition_called ? " cond" : "";
  const std::vector<Job_Event_Record> events = job.events();
  const std::string message = events.empty() ? "" : events.back().message;
  if (!message.empty()) text += " [" + message + "]";
  std::string errors;
  for (const test::Log_Entry& e : log.entries())
    if (e.priority == LM_ERROR) errors += (errors.empty() ? "" : " | ") + e.text;
  return errors.empty() ? text : text + " errors: " + errors;
}

// One row per path through the run: the setup words (the precondition and post-action
// echo unless changed) and the outcome.
const std::pair<const char*, const char*> cases[] = {
    {"", "completed start,success 1 post-ran cond"},
    {"no-source", "error failure:-1 0"},
    {"password refused", "error failure:5 0"},
    {"refused", "completed start,success 1 post-ran cond"},  // no password: not checked
    {"inactive", "skipped  0"},
    {"precondition-fails",
     "idle  0 errors: The job's script exited with status 1.\n | "
     "The precondition script failed: the job does not run.\n"},
    {"unmet", "idle  0 cond"},
    {"pre-fails",
     "error start,failure:-1 0 pre-ran cond [The pre-action script failed] errors: "
     "The job's script exited with status 2.\n | The pre-action script failed.\n"},
    {"pre-fails ignore-pre",
     "completed start,success 1 pre-ran post-ran cond errors: "
     "The job's script exited with status 2.\n"},
    {"pre-fails pre-stop post-always",
     "canceled start,canceled 0 pre-ran post-ran cond errors: "
     "The job's script exited with status 2.\n | The pre-action script failed.\n"},
    {"pre-stop", "canceled start,canceled 0 cond"},
    {"pre-pause", "paused start,paused 0 cond"},
    {"pre-switch", "error start,failure:-1 0 cond"},
    {"work-fails post-always", "error start,failure:-1 1 post-ran cond"},
    {"work-says post-always post-fails",
     "error start,failure:-1 1 post-ran cond [nothing to back up] errors: "
     "The job's script exited with status 1.\n | The post-action script failed.\n"},
    {"work-fails work-stop post-always post-fails",
     "canceled start,canceled 1 post-ran cond errors: "
     "The job's script exited with status 1.\n | The post-action script failed.\n"},
    {"work-fails work-pause post-always", "paused start,paused 1 post-ran cond"},
    {"work-stop", "completed start,success 1 post-ran cond"},
    {"post-fails",
     "error start,failure:-1 1 post-ran cond [The post-action script failed] errors: "
     "The job's script exited with status 1.\n | The post-action script failed.\n"},
    // The work failed first: its failure stays the job's, the post-action's is logged.
    {"work-fails post-always post-killed",
     "error start,failure:-1 1 post-ran cond errors: "
     "The job's script was killed by signal 9 (Killed).\n | The post-action script failed.\n"},
    {"pre-fails post-always post-fails",
     "error start,failure:-1 0 pre-ran post-ran cond [The pre-action script failed] errors: "
     "The job's script exited with status 2.\n | The pre-action script failed.\n | "
     "The job's script exited with status 1.\n | The post-action script failed.\n"},
    {"post-fails ignore-post",
     "completed start,success 1 post-ran cond errors: The job's script exited with status 1.\n"},
    {"no-post post-always", "completed start,success 1 cond"},
};

TEST(Job_Executor_T, RunsTheSequenceInOrder) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    test::Log_Capture log;  // keeps the scripts' failure lines out of the output
    Job_Definition_var def(new Job_Definition);
    def->set_id("exec");
    def->set_type(JOB_DEFINITION_BACKUP);
    def->set_precondition("echo cond-ran");
    def->set_post_action("echo post-ran");
    def->set_source(Params_Ptr(std::string(c.first) == "no-source" ? nullptr : new Test_Params));
    Job_var job(new Job(def));
    Probe_Executor hooks(*job);
    arrange(c.first, *def, hooks);
    Job_Activity& act = job->activity();
    act.state = JOB_STATE_STARTING;  // as a start command leaves it
    act.start_time = act.last_run_time = 0;
    Action_Options opts{{"k", json_spirit::Value(1)}};
    const bool result = hooks.execute(&opts);
    EXPECT_EQ(outcome(*job, hooks, log), c.second);
    // A script's text may hold a password: no line shows it.
    EXPECT_FALSE(log.contains("echo") || log.contains("kill -9") || log.contains("exit "))
        << log.text();
    const Job_State state = job->state();  // true: succeeded or never started
    EXPECT_EQ(result, state == JOB_STATE_COMPLETED || state == JOB_STATE_SKIPPED ||
                          state == JOB_STATE_IDLE);
    // The post-action runs in state completing; an empty one leaves the state alone.
    const Job_State after_post = hooks.state_after_post_action;
    const bool post_ran = std::string(c.second).find("post-ran") != std::string::npos;
    EXPECT_TRUE(!post_ran || after_post == JOB_STATE_COMPLETING);
    EXPECT_TRUE(!def->post_action().empty() || after_post == JOB_STATE_RUNNING);
    const bool stamped = act.last_run_time != 0;
    EXPECT_TRUE(state != JOB_STATE_SKIPPED || (act.start_time == 0 && stamped));
    EXPECT_TRUE(state != JOB_STATE_IDLE || (stamped && act.start_time == act.last_run_time));
  }
}

}  // namespace
