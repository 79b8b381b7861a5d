#include "job/controllable_job_t.h"
#include "job/default_job_creator_t.h"
#include "job/default_job_t.h"
#include "job/job_executor_t.h"

#include "job_engine/job.h"
#include "job_engine/job_event_handler.h"
#include "job_engine/job_schedule.h"
#include "module/job_def/test_params.h"
#include "support/latch.h"
#include "support/log_capture.h"

#include <ace/OS_NS_Thread.h>
#include <ace/Thread_Manager.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace {

using test::event_text;
using test::Test_Params;
using Gate = test::Latch;
const ACE_Time_Value patience(60);

// What the fake executors did and are to answer; a new one per case.
struct Probe {
  std::mutex mutex;
  std::string calls;  // in order, e.g. "execute:1,remove"; a run lists its options' keys
  bool hook_result = true, throws = false;
  bool hold = false;  // execute and rollback wait for `release`
  bool cancel_seen = false;
  ACE_thread_t execute_thread = ACE_OS::NULL_thread;
  Gate entered, release, rollback_done;
};
std::unique_ptr<Probe> probe;

template <int Kind>
class Fake_Executor : public Job_Executor_T<Test_Params, Test_Params, Job_Event_Handler> {
 public:
  explicit Fake_Executor(Job& job) : Job_Executor_T(job) {}
  bool remove() override { return hook("remove"); }
  bool setup_ondemand() override { return hook("setup_ondemand"); }
  bool remove_ondemand() override { return hook("remove_ondemand"); }
  bool update(Job_Definition_var def) override { return hook("update:" + def->name()); }
  bool rollback() override {
    wait_if_held();
    const bool ok = hook("rollback");
    probe->rollback_done.open();
    return ok;
  }

 protected:
  bool execute_i(const Action_Options* opts) override {
    wait_if_held();
    {
      std::lock_guard<std::mutex> lock(probe->mutex);
      probe->execute_thread = ACE_OS::thr_self();
      probe->cancel_seen = ACE_Thread_Manager::instance()->testcancel(ACE_OS::thr_self()) != 0;
    }
    std::string name = "execute:" + std::to_string(Kind);
    for (const auto& option : opts != nullptr ? *opts : Action_Options()) name += "+" + option.first;
    return hook(name) && act_.state == JOB_STATE_RUNNING;
  }

 private:
  static void wait_if_held() {
    probe->entered.open();
    if (probe->hold) probe->release.wait();
  }
  static bool hook(const std::string& name) {
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->calls += (probe->calls.empty() ? "" : ",") + name;
    if (probe->throws) throw std::runtime_error(name + " blew up");
    return probe->hook_result;
  }
};

using Backup_Job = Controllable_Job_T<Fake_Executor<1>>;
using Plain_Job = Default_Job_T<Fake_Executor<1>>;

// A job that tells when it is destroyed.
class Watched_Job : public Backup_Job {
 public:
  Watched_Job(Job_Definition_var def, Gate& destroyed) : Backup_Job(def), destroyed_(destroyed) {}
  ~Watched_Job() override { destroyed_.open(); }

 private:
  Gate& destroyed_;
};

// With `ondemand`, two on-demand schedules with a null and a daily one between them.
Job_Definition_var make_def(const char* name = "", bool ondemand = false,
                            Job_Definition_Type type = JOB_DEFINITION_BACKUP) {
  Job_Definition_var def(new Job_Definition);
  def->set_id(std::string("lifecycle-") + name);
  def->set_name(name);
  def->set_type(type);
  def->set_uid("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
  def->set_source(ACE_Refcounted_Auto_Ptr<Test_Params, ACE_Thread_Mutex>(new Test_Params));
  const Job_Schedule_var ondemand_schedule = std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND);
  if (ondemand)
    for (Job_Schedule_var s : {ondemand_schedule, Job_Schedule_var(), Job_Schedule_var(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_DAILY)), ondemand_schedule})
      def->add_schedule(s);
  return def;
}

class Default_Job_T_Test : public ::testing::Test {
 protected:
  void SetUp() override { probe = std::make_unique<Probe>(); }
  // Every job and rollback thread has ended before the next test's probe.
  void TearDown() override { ACE_Thread_Manager::instance()->wait(); }
};

TEST_F(Default_Job_T_Test, CreatorMakesBackupAndRestoreJobsOnly) {
  using Restore_Job = Controllable_Job_T<Fake_Executor<2>>;
  Default_Job_Creator_T<Backup_Job, Restore_Job> creator;
  EXPECT_NE(dynamic_cast<Backup_Job*>(creator.create(make_def()).get()), nullptr);
  EXPECT_NE(dynamic_cast<Restore_Job*>(creator.create(make_def("", false, JOB_DEFINITION_RESTORE)).get()), nullptr);
  EXPECT_EQ(creator.create(make_def("", false, JOB_DEFINITION_STORAGE)).get(), nullptr);
  EXPECT_EQ(creator.create(Job_Definition_var()).get(), nullptr);
}

// The run gets the start options (none when empty) on a thread of its own, and the uid
// as 16 bytes: zeros, with a warning, for a uid that is not UUID text.
TEST_F(Default_Job_T_Test, StartRunsTheExecutorOnItsOwnThread) {
  const Action_Options none, retry{{"retry_entries", json_spirit::Value(json_spirit::Array{json_spirit::Value("i-1")})}};
  const struct { const Action_Options* opts; const char* calls, *uid; unsigned char bytes[16]; } cases[] = {
      {nullptr, "execute:1", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0}},
      {&none, "execute:1", "not-a-uuid", {}}, {&retry, "execute:1+retry_entries", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0-trailing", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.uid);
    probe = std::make_unique<Probe>();
    test::Log_Capture log;
    Job_Definition_var def = make_def();
    def->set_uid(c.uid);
    Job_var job(new Backup_Job(def));
    std::memset(job->activity().uid, 0xAA, 16);
    ASSERT_EQ(job->start(c.opts), 0);
    ASSERT_TRUE(job->wait_complete(patience));
    EXPECT_EQ(std::memcmp(job->activity().uid, c.bytes, 16), 0);
    EXPECT_EQ(log.contains(std::string("uid \"") + c.uid + "\" is not a UUID", LM_WARNING), c.bytes[0] == 0);
    EXPECT_EQ(event_text(*job), "start,success");
    EXPECT_EQ(job->completed_runs(), 1u);
    EXPECT_EQ(probe->calls, c.calls);
    EXPECT_FALSE(ACE_OS::thr_equal(probe->execute_thread, ACE_OS::thr_self()));
  }
}

// One row per command on a completed job: the probe's answers, the command, its result,
// the executor calls in order, the events, the job state and the error logged. Failed or
// throwing hooks stay in the module; the steering commands only set the state the
// executor polls, and a plain job refuses them.
TEST_F(Default_Job_T_Test, CommandsAndTheirFailures) {
  using Command = int (*)(Job&);
  const Command start = [](Job& j) { const int rc = j.start(); return j.wait_complete(patience) ? rc : -9; };
  const Command remove = [](Job& j) { return j.remove(true, nullptr); };
  const Command update = [](Job& j) { return j.update(make_def("next")); };
  const Command setup = [](Job& j) { return j.setup_ondemand(); };
  const Job_State DONE = JOB_STATE_COMPLETED;
  const struct { const char* name; bool hook_result, throws; Command command; int result; const char* calls, *events; Job_State state; const char* logged; } rows[] = {
      {"run throws", true, true, start, 0, "execute:1", "start,failure:-1", JOB_STATE_ERROR, "the run ended with an exception: execute:1 blew up"},
      {"remove undoes each on-demand set-up", false, false, remove, 0, "remove_ondemand,remove_ondemand,remove", "", DONE, ""},
      {"remove throws", true, true, remove, 0, "remove_ondemand,remove_ondemand,remove", "", DONE, "remove_ondemand ended with an exception: remove_ondemand blew up"},
      {"update fails", false, false, update, 0, "update:next", "", DONE, ""},
      {"update throws", true, true, update, 0, "update:next", "", DONE, "update ended with an exception: update:next blew up"},
      {"setup_ondemand", true, false, setup, 0, "setup_ondemand", "", DONE, ""},
      {"setup_ondemand fails", false, false, setup, -1, "setup_ondemand", "", DONE, ""},
      {"setup_ondemand throws", true, true, setup, -1, "setup_ondemand", "", DONE, "setup_ondemand ended with an exception: setup_ondemand blew up"},
      {"nothing on demand to set up", true, false, [](Job& j) { return j.update(make_def()) + j.setup_ondemand(); }, 0, "update:", "", DONE, ""},
      {"stop", true, false, [](Job& j) { return j.stop(); }, 0, "", "", JOB_STATE_CANCELING, ""},
      {"pause", true, false, [](Job& j) { return j.pause(); }, 0, "", "", JOB_STATE_PAUSING, ""},
      {"resume", true, false, [](Job& j) { return j.resume(); }, 0, "", "", JOB_STATE_RUNNING, ""},
      {"switch", true, false, [](Job& j) { return j.switch_job(); }, 0, "", "", JOB_STATE_SWITCHING, ""},
      {"the host's abort, without options", true, false, [](Job& j) { return j.abort(); }, 0, "", "", JOB_STATE_CANCELING, ""},
      {"a plain job refuses steering", true, false, [](Job&) { Job_var p(new Plain_Job(make_def())); return p->stop() + p->pause() + p->resume() + p->switch_job(); }, -4, "", "", DONE, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    probe = std::make_unique<Probe>();
    probe->hook_result = row.hook_result, probe->throws = row.throws;
    test::Log_Capture log;
    Job_var job(new Backup_Job(make_def("job", true)));
    job->activity().state = JOB_STATE_COMPLETED;
    EXPECT_EQ(row.command(*job), row.result);
    EXPECT_EQ(probe->calls, row.calls);
    EXPECT_EQ(event_text(*job), row.events);
    EXPECT_EQ(job->state(), row.state);
    EXPECT_TRUE(*row.logged ? log.contains(row.logged, LM_ERROR) : log.entries().empty()) << log.text();
  }
}

// While a run (or a rollback) is held in the executor: an abort with options cancels the
// job thread, one without only sets the state; a job the host lets go of lives on until
// its thread ends (the rollback command returns at once).
TEST_F(Default_Job_T_Test, WhileARunIsHeld) {
  enum Meanwhile { ABORT, ABORT_STATE_ONLY, LET_GO, LET_GO_OF_A_ROLLBACK };
  for (const Meanwhile meanwhile : {ABORT, ABORT_STATE_ONLY, LET_GO, LET_GO_OF_A_ROLLBACK}) {
    SCOPED_TRACE(meanwhile);
    probe = std::make_unique<Probe>();
    probe->hold = true;
    Gate destroyed;
    ACE_Intrusive_Auto_Ptr<Backup_Job> job(new Watched_Job(make_def(), destroyed));
    ASSERT_EQ(meanwhile == LET_GO_OF_A_ROLLBACK ? job->rollback() : job->start(), 0);
    ASSERT_TRUE(probe->entered.wait());
    const Action_Options opts{{"force", json_spirit::Value(true)}};
    EXPECT_TRUE(meanwhile != ABORT || (job->abort(&opts) == 0 && job->state() == JOB_STATE_CANCELING));
    EXPECT_TRUE(meanwhile != ABORT_STATE_ONLY || (job->abort_i() == 0 && job->state() == JOB_STATE_ABORTING));
    if (meanwhile >= LET_GO) job = ACE_Intrusive_Auto_Ptr<Backup_Job>();
    EXPECT_FALSE(destroyed.is_open());
    probe->release.open();
    if (meanwhile < LET_GO) {
      ASSERT_TRUE(job->wait_complete(patience));
      EXPECT_EQ(probe->cancel_seen, meanwhile == ABORT);
      EXPECT_EQ(event_text(*job), meanwhile == ABORT ? "start,canceled" : "start,failure:-1");
      job = ACE_Intrusive_Auto_Ptr<Backup_Job>();
    }
    EXPECT_TRUE(destroyed.wait());
    EXPECT_EQ(meanwhile == LET_GO_OF_A_ROLLBACK, probe->rollback_done.is_open());
  }
}

TEST_F(Default_Job_T_Test, StartAndAbortMayComeFromAnyTwoThreads) {
  for (int round = 0; round < 20; ++round) {
    Job_var job(new Backup_Job(make_def()));
    const Action_Options opts{{"force", json_spirit::Value(true)}};
    Gate go;
    std::thread aborter([&] {
      go.wait();
      job->abort(&opts);
    });
    go.open();
    const int started = job->start();
    aborter.join();
    if (started == 0) {
      ASSERT_TRUE(job->wait_complete(patience));
    }
  }
}

TEST_F(Default_Job_T_Test, AFailedStartReturnsMinusOneAndLetsGoOfTheJob) {
  for (const Job_Start_Step step : {Job_Start_Step::RUN_OPTIONS, Job_Start_Step::SPAWN}) {
    static Job_Start_Step failing;
    failing = step;
    job_start_fault = [](Job_Start_Step s) { return s == failing; };
    test::Log_Capture log;
    Gate destroyed;
    Job_var job(new Watched_Job(make_def(), destroyed));
    job->activity().state = JOB_STATE_IDLE;
    EXPECT_EQ(job->start(), -1);
    EXPECT_TRUE(!job->live() && job->state() == JOB_STATE_IDLE);
    EXPECT_EQ(log.contains("opt is NULL", LM_EMERGENCY), step == Job_Start_Step::RUN_OPTIONS);
    job = Job_var();
    EXPECT_TRUE(destroyed.is_open());  // nothing holds the job any more
  }
  job_start_fault = nullptr;
  EXPECT_TRUE(probe->calls.empty());
}

}  // namespace
