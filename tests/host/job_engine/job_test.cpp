#include "job_engine/job.h"
#include "job_engine/job_activity.h"
#include "job_engine/job_alert.h"
#include "job_engine/job_alert_catalog.h"
#include "job_engine/job_event_handler.h"
#include "job_engine/job_thread_helper.h"
#include "job_engine/job_types.h"

#include "support/log_capture.h"
#include "support/temp_home.h"

#include <ace/Log_Msg.h>
#include <ace/Thread_Manager.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

TEST_TEMP_HOME();

namespace {

Job_Definition_var make_def(const std::string& id) {
  Job_Definition_var def(new Job_Definition);
  def->set_id(id);
  def->set_type(JOB_DEFINITION_BACKUP);
  return def;
}

// Jobs of one definition and every handle share one activity file; a job without an id
// keeps a private record.
TEST(Job, ActivityRecordIsSharedPerDefinition) {
  Job_var job(new Job(make_def("shared-1")));
  job->activity().state = JOB_STATE_PAUSING;
  Job_Activity_Handle handle;
  ASSERT_EQ(handle.open("shared-1", false, true, 0750), 0);
  EXPECT_EQ(handle->state, JOB_STATE_PAUSING);
  handle->state = JOB_STATE_CANCELING;
  EXPECT_EQ(Job_var(new Job(make_def("shared-1")))->state(), JOB_STATE_CANCELING);
  test::Log_Capture log;
  EXPECT_EQ(Job_Activity_Handle().open("no-such-definition", false, true, 0750), -1);
  Job_var private_job(new Job(make_def("")));
  EXPECT_TRUE(log.contains("no shared activity record", LM_ERROR));
  EXPECT_EQ(private_job->state_i(JOB_STATE_RUNNING) + private_job->sync(nullptr), 0);
  EXPECT_EQ(private_job->state(), JOB_STATE_RUNNING);
  EXPECT_EQ(Job_var(new Job(Job_Definition_var()))->definition()->id(), "");
}

// Each event sets its state and time and is recorded; the start leaves a pending
// command's state alone. (Success, pause and cancel are driven by the job executor's runs.)
TEST(Job_Event_Handler, EventsSetTheStateAndAreRecorded) {
  using H = Job_Event_Handler;
  using E = Job_Event_Record;
  const auto start = [](H& h) { return h.handle_start_job(); };
  const auto fail_text = [](H& h) { return h.handle_failure(5, "bad %s %d", "password", 7); };
  const struct { int (*send)(H&); Job_State from, to; E::Kind kind; int code; const char* message; }
      cases[] = {{start, JOB_STATE_STARTING, JOB_STATE_RUNNING, E::START, 0, ""},
                 {start, JOB_STATE_COMPLETED, JOB_STATE_RUNNING, E::START, 0, ""},
                 {start, JOB_STATE_PAUSING, JOB_STATE_PAUSING, E::START, 0, ""},
                 {fail_text, JOB_STATE_RUNNING, JOB_STATE_ERROR, E::FAILURE, 5, "bad password 7"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " from " + std::to_string(c.from));
    Job_var job(new Job(make_def("events")));
    job->activity().state = c.from;
    job->activity().start_time = job->activity().last_run_time = 0;
    H events(*job);
    EXPECT_EQ(c.send(events), 0);
    EXPECT_EQ(job->state(), c.to);
    const Job_Activity& activity = job->activity();
    EXPECT_NE(c.kind == E::START ? activity.start_time : activity.last_run_time, 0);
    const auto recorded = job->events();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_TRUE(recorded[0].kind == c.kind && recorded[0].code == c.code);
    EXPECT_EQ(recorded[0].message, c.message);
  }
}

TEST(Job_Event_Handler, ProgressReportsAreRecordedUpToACap) {
  Job_var job(new Job(make_def("events-progress")));
  Job_Event_Handler events(*job);
  VM_Job_Progress vm;
  vm.state = VM_Job_Progress::STATE_RUNNING;
  for (size_t i = 0; i < Job::max_progress_records + 10; ++i)
    events.handle_vm_progress({vm}, JOB_STATE_RUNNING, false);
  vm.state = VM_Job_Progress::STATE_COMPLETED;
  EXPECT_EQ(events.handle_vm_progress({vm, vm}, JOB_STATE_CANCELING, true), 0);
  EXPECT_EQ(job->progress_calls(), Job::max_progress_records + 11);
  const auto kept = job->progress();
  ASSERT_EQ(kept.size(), Job::max_progress_records);
  EXPECT_TRUE(kept.back().final && kept.back().state == JOB_STATE_CANCELING);
  EXPECT_EQ(kept.back().progresses.size(), 2u);
}

// Alerts are recorded and logged with their catalog text, the arguments in place.
TEST(Job, AlertsAreRecordedAndLogged) {
  using json_spirit::Array;
  using json_spirit::Value;
  test::Log_Capture log;
  Job_var job(new Job(make_def("alerts")));
  const Value args(Array{Value("c-1"), Value("east"), Value("Cluster")});
  EXPECT_EQ(write_job_alert(*job, Error_ID::LEVEL_ERROR, 7, 0, args, 1), 0);
  EXPECT_EQ(write_job_alert(static_cast<Job*>(nullptr), 7, 14, 0, Value(), 1), -1);
  const std::string entry_skipped =
      "Source entry east (type Cluster, id c-1) was not found or could not be listed; it was "
      "skipped.";
  EXPECT_EQ(job->alerts().at(0).text, entry_skipped);
  const char logged[] = R"(Job alerts raised alert 7 (level 7): ["c-1","east","Cluster"]: Sou)";
  EXPECT_TRUE(log.contains(logged, LM_ERROR));
  // An argument more than the text shows changes nothing.
  const Value more(Array{Value("c-1"), Value("east"), Value("Cluster"), Value("busy")});
  EXPECT_EQ(job_alert_text(3, Value()) + "|" + job_alert_text(99, Value(Array{Value(1)})) + "|" +
                job_alert_text(7, more),
            "Failed to record the backup of instance ? in the catalog.|Alert 99 [1]|" +
                entry_skipped);
}

// The login alert blames the account only when the cloud answered: a login whose last
// record on the raising thread says nothing answered is told as an unreachable cloud.
TEST(Job, ALoginAlertSaysWhenTheCloudWasNotReached) {
  const struct {
    const char* what;
    const char* logged_before;  // on the thread, just before the alert
    unsigned long alert;
    std::string text;
  } rows[] = {
      {"nobody listening",
       "Failed to log in to cloud 127.0.0.1:9, the cloud could not be reached: Failed to "
       "connect (Connection refused).\n",
       1, "Failed to log in: cannot reach the cloud."},
      {"keys refused",
       "Failed to log in to cloud 127.0.0.1:9, it refused the keys (HTTP 401), msg: no.\n", 1,
       "Failed to log in to the cloud with the job's account."},
      {"another alert after an unreachable cloud", "the cloud could not be reached: x.\n", 8,
       "Failed to create a temporary snapshot of instance i-a."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    test::Log_Capture log;
    Job_var job(new Job(make_def("login-alerts")));
    ACE_ERROR((LM_ERROR, "%s", row.logged_before));
    const json_spirit::Value args =
        row.alert == 1 ? json_spirit::Value() : json_spirit::Value(json_spirit::Array{"i-a"});
    write_job_alert(*job, Error_ID::LEVEL_ERROR, row.alert, 0, args, 1);
    EXPECT_EQ(row.text, job->alerts().at(0).text);
  }
}

// A job whose start neither spawns nor completes: the test plays the job thread.
class Manual_Job : public Job {
 public:
  using Job::Job;
  int start_result = 0, starts = 0;

 protected:
  int start_i(const Action_Options*) override {
    ++starts;
    return start_result;
  }
};

TEST(Job, SecondStartIsRefusedWhileARunIsLive) {
  test::Log_Capture log;
  ACE_Intrusive_Auto_Ptr<Manual_Job> job(new Manual_Job(make_def("manual-start")));
  job->activity().state = JOB_STATE_COMPLETED;
  std::memset(job->activity().id, 0, 16);
  ASSERT_EQ(job->start(), 0);
  EXPECT_TRUE(job->live() && job->state() == JOB_STATE_STARTING);
  const unsigned char zero[16] = {};
  EXPECT_NE(std::memcmp(job->activity().id, zero, 16), 0);
  EXPECT_FALSE(job->wait_complete(ACE_Time_Value(0, 1000)));
  EXPECT_EQ(job->start(), -1);
  EXPECT_EQ(job->starts, 1);
  EXPECT_TRUE(log.contains("Job manual-start is still running; start refused.", LM_ERROR));
  job->complete();
  EXPECT_TRUE(job->wait_complete(ACE_Time_Value(30)));
  EXPECT_EQ(job->start(), 0);
  job->complete();
  // A start that fails leaves no live run and the state it found.
  job->start_result = -1;
  job->activity().state = JOB_STATE_CANCELED;
  EXPECT_EQ(job->start(), -1);
  EXPECT_TRUE(!job->live() && job->state() == JOB_STATE_CANCELED);
  // A definition is switched only when given and while no run goes on (the switch itself
  // is driven by the default job's command table).
  EXPECT_EQ(job->update(Job_Definition_var()), -1);
  EXPECT_TRUE(job->can_update(JOB_STATE_RUNNING) == -1 && !job->can_update(JOB_STATE_COMPLETED));
}

// Another job of the same definition (in this process or another one of the home)
// shares the activity record: its start is refused and writes nothing there.
TEST(Job, StartIsRefusedWhileAnotherJobRunsTheDefinition) {
  test::Log_Capture log;
  ACE_Intrusive_Auto_Ptr<Manual_Job> first(new Manual_Job(make_def("one-definition")));
  ACE_Intrusive_Auto_Ptr<Manual_Job> second(new Manual_Job(make_def("one-definition")));
  ASSERT_EQ(first->start(), 0);
  first->state(JOB_STATE_RUNNING);
  unsigned char run_id[16];
  std::memcpy(run_id, first->activity().id, sizeof run_id);
  EXPECT_EQ(second->start(), -1);
  EXPECT_EQ(second->starts, 0);
  EXPECT_FALSE(second->live());
  EXPECT_EQ(second->state(), JOB_STATE_RUNNING);
  EXPECT_EQ(std::memcmp(second->activity().id, run_id, sizeof run_id), 0);
  EXPECT_TRUE(log.contains("Job one-definition is already running on this host; start refused.",
                           LM_ERROR));
  // The lock goes with the run; a start failing in start_i lets it go too.
  first->complete();
  second->start_result = -1;
  EXPECT_EQ(second->start(), -1);
  EXPECT_EQ(first->start(), 0);
  first->complete();
  // Jobs of other definitions, and jobs without a shared record, never wait on each other.
  ACE_Intrusive_Auto_Ptr<Manual_Job> other(new Manual_Job(make_def("other-definition")));
  ACE_Intrusive_Auto_Ptr<Manual_Job> private_a(new Manual_Job(make_def("")));
  ACE_Intrusive_Auto_Ptr<Manual_Job> private_b(new Manual_Job(make_def("")));
  EXPECT_EQ(first->start() + other->start() + private_a->start() + private_b->start(), 0);
  for (Manual_Job* job : {first.get(), other.get(), private_a.get(), private_b.get()})
    job->complete();
}

// A detached job thread goes on after complete() (its own clean-up, then the thread
// manager's exit): whoever waited for the run must not overtake it.
class Detached_Job : public Job {
 public:
  using Job::Job;
  std::atomic<bool> thread_done{false};

 protected:
  int start_i(const Action_Options*) override {
    return ACE_Thread_Manager::instance()->spawn(&Detached_Job::run, this,
                                                 THR_NEW_LWP | THR_DETACHED) < 0 ? -1 : 0;
  }

 private:
  static ACE_THR_FUNC_RETURN run(void* arg) {
    Detached_Job* const job = static_cast<Detached_Job*>(arg);
    job->set_job_thread();
    job->complete();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    job->thread_done = true;
    return 0;
  }
};

TEST(Job, WaitCompleteOutlastsTheDetachedJobThread) {
  ACE_Intrusive_Auto_Ptr<Detached_Job> job(new Detached_Job(make_def("detached")));
  for (int run = 0; run < 2; ++run) {
    job->thread_done = false;
    ASSERT_EQ(job->start(), 0);
    EXPECT_TRUE(job->wait_complete(ACE_Time_Value(30)));
    EXPECT_TRUE(job->thread_done.load()) << run;
  }
}

// The job thread's and its helper threads' logs reach the job log until complete(); the
// ordinary log still gets everything.
TEST(Job, ThreadLogsReachTheJobLogUntilComplete) {
  test::Log_Capture log;
  Job_var job(new Job(make_def("log-routing")));
  {
    Job_Thread_Helper helper(job.get(), 0x410002, ACE_DEFAULT_THREAD_PRIORITY);
    ASSERT_GE(helper.spawn([] { ACE_DEBUG((LM_NOTICE, "from the progress thread\n")); }), 0);
    helper.join();
  }
  job->set_job_thread();
  ACE_DEBUG((LM_INFO, "routed line %d\n", 1));
  job->complete();
  ACE_DEBUG((LM_INFO, "not routed\n"));
  std::string lines;
  for (const auto& l : job->log_lines()) lines += std::to_string(l.priority) + " " + l.text;
  EXPECT_EQ(lines, std::to_string(LM_NOTICE) + " from the progress thread\n" +
                       std::to_string(LM_INFO) + " routed line 1\n");
  EXPECT_TRUE(log.contains("not routed"));
}

}  // namespace
