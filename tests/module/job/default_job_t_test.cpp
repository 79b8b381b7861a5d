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
#include <vector>

namespace {

using test::Test_Params;

const ACE_Time_Value patience(60);

using Gate = test::Latch;

// What the fake executors did and are to answer; one per test.
struct Probe {
  std::mutex mutex;
  std::vector<std::string> calls;  // in order, e.g. "execute:1", "remove"
  bool saw_null_opts = false;
  Action_Options seen_opts;
  ACE_thread_t execute_thread = ACE_OS::NULL_thread;
  bool cancel_seen = false;
  std::string updated_name;
  bool hook_result = true;
  bool work_result = true;
  bool throw_in_work = false;
  bool throw_in_hooks = false;
  bool hold_execute = false;
  bool hold_rollback = false;
  Gate execute_entered, execute_release;
  Gate rollback_entered, rollback_release, rollback_done;

  void record(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back(call);
  }
  std::vector<std::string> recorded() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
};

std::unique_ptr<Probe> probe;

template <int Kind>
class Fake_Executor : public Job_Executor_T<Test_Params, Test_Params, Job_Event_Handler> {
 public:
  explicit Fake_Executor(Job& job) : Job_Executor_T(job) {}

  bool remove() override { return hook("remove"); }
  bool setup_ondemand() override { return hook("setup_ondemand"); }
  bool remove_ondemand() override { return hook("remove_ondemand"); }
  bool update(Job_Definition_var def) override {
    {
      std::lock_guard<std::mutex> lock(probe->mutex);
      probe->updated_name = def->name();
    }
    return hook("update");
  }
  bool rollback() override {
    probe->rollback_entered.open();
    if (probe->hold_rollback) probe->rollback_release.wait();
    const bool result = hook("rollback");
    probe->rollback_done.open();
    return result;
  }

 protected:
  bool execute_i(const Action_Options* opts) override {
    {
      std::lock_guard<std::mutex> lock(probe->mutex);
      probe->calls.push_back("execute:" + std::to_string(Kind));
      probe->saw_null_opts = opts == nullptr;
      if (opts != nullptr) probe->seen_opts = *opts;
      probe->execute_thread = ACE_OS::thr_self();
    }
    probe->execute_entered.open();
    if (probe->hold_execute) probe->execute_release.wait();
    const bool canceled =
        ACE_Thread_Manager::instance()->testcancel(ACE_OS::thr_self()) != 0;
    std::lock_guard<std::mutex> lock(probe->mutex);
    probe->cancel_seen = canceled;
    if (probe->throw_in_work) throw std::runtime_error("work blew up");
    return probe->work_result && act_.state == JOB_STATE_RUNNING;
  }

 private:
  bool hook(const char* name) {
    probe->record(name);
    std::lock_guard<std::mutex> lock(probe->mutex);
    if (probe->throw_in_hooks) throw std::runtime_error(std::string(name) + " blew up");
    return probe->hook_result;
  }
};

using Backup_Job = Controllable_Job_T<Fake_Executor<1>>;
using Restore_Job = Controllable_Job_T<Fake_Executor<2>>;
using Plain_Job = Default_Job_T<Fake_Executor<1>>;
using Creator = Default_Job_Creator_T<Backup_Job, Restore_Job>;

// A job that tells when it is destroyed.
class Watched_Job : public Backup_Job {
 public:
  Watched_Job(Job_Definition_var def, Gate& destroyed) : Backup_Job(def), destroyed_(destroyed) {}
  ~Watched_Job() override { destroyed_.open(); }

 private:
  Gate& destroyed_;
};

class Default_Job_T_Test : public ::testing::Test {
 protected:
  void SetUp() override { probe = std::make_unique<Probe>(); }
  void TearDown() override {
    // Every job and rollback thread has ended before the next test's probe.
    ACE_Thread_Manager::instance()->wait();
    probe.reset();
  }

  Job_Definition_var make_def(Job_Definition_Type type = JOB_DEFINITION_BACKUP) {
    Job_Definition_var def(new Job_Definition);
    def->set_id(std::string("lifecycle-") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    def->set_type(type);
    def->set_uid("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0");
    def->set_source(ACE_Refcounted_Auto_Ptr<Test_Params, ACE_Thread_Mutex>(new Test_Params));
    return def;
  }

  static std::string events(const Job& job) {
    std::string text;
    for (const Job_Event_Record& e : job.events()) {
      if (!text.empty()) text += ",";
      static const char* const names[] = {"start", "success", "paused", "canceled", "failure"};
      text += names[e.kind];
    }
    return text;
  }
};

TEST_F(Default_Job_T_Test, CreatorMakesBackupAndRestoreJobsOnly) {
  Creator creator;
  EXPECT_EQ(creator.init(0, nullptr), 0);

  Job_var backup = creator.create(make_def(JOB_DEFINITION_BACKUP));
  ASSERT_NE(dynamic_cast<Backup_Job*>(backup.get()), nullptr);
  Job_var restore = creator.create(make_def(JOB_DEFINITION_RESTORE));
  ASSERT_NE(dynamic_cast<Restore_Job*>(restore.get()), nullptr);

  ASSERT_EQ(restore->start(), 0);
  ASSERT_TRUE(restore->wait_complete(patience));
  EXPECT_EQ(probe->recorded(), std::vector<std::string>{"execute:2"});

  EXPECT_EQ(creator.create(make_def(JOB_DEFINITION_STORAGE)).get(), nullptr);
  EXPECT_EQ(creator.create(Job_Definition_var()).get(), nullptr);
  EXPECT_EQ(creator.fini(), 0);
}

TEST_F(Default_Job_T_Test, StartRunsTheExecutorOnItsOwnThreadWithTheOptions) {
  const struct { bool give_options; Action_Options options; bool expect_null; } cases[] = {
      {false, {}, true}, {true, {}, true},
      {true, {{"retry_entries", json_spirit::Value(json_spirit::Array{json_spirit::Value("i-1")})}}, false}};
  for (const auto& c : cases) {
    probe = std::make_unique<Probe>();
    Job_var job(new Backup_Job(make_def()));
    ASSERT_EQ(job->start(c.give_options ? &c.options : nullptr), 0);
    ASSERT_TRUE(job->wait_complete(patience));
    std::lock_guard<std::mutex> lock(probe->mutex);
    EXPECT_EQ(probe->saw_null_opts, c.expect_null);
    EXPECT_TRUE(c.expect_null || probe->seen_opts == c.options);
    EXPECT_FALSE(ACE_OS::thr_equal(probe->execute_thread, ACE_OS::thr_self()));
    EXPECT_EQ(events(*job), "start,success");
    EXPECT_TRUE(job->state() == JOB_STATE_COMPLETED && job->completed_runs() == 1u);
  }
}

TEST_F(Default_Job_T_Test, TheRunWritesTheUidAsSixteenBytes) {
  const struct { const char* uid; unsigned char bytes[16]; } cases[] = {
      {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78, 0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0}},
      {"not-a-uuid", {}}, {"0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0-trailing", {}}};
  test::Log_Capture log;
  for (const auto& c : cases) {
    Job_Definition_var def = make_def();
    def->set_uid(c.uid);
    Job_var job(new Backup_Job(def));
    std::memset(job->activity().uid, 0xAA, 16);
    ASSERT_EQ(job->start(), 0);
    ASSERT_TRUE(job->wait_complete(patience));
    EXPECT_EQ(std::memcmp(job->activity().uid, c.bytes, 16), 0) << c.uid;
  }
  EXPECT_TRUE(log.contains("uid \"not-a-uuid\" is not a UUID", LM_WARNING));
}

TEST_F(Default_Job_T_Test, StateCommandsOnPlainAndControllableJobs) {
  const struct { const char* name; int (*command)(Job&); Job_State controllable_state; } cases[] = {
      {"stop", [](Job& j) { return j.stop(); }, JOB_STATE_CANCELING},
      {"pause", [](Job& j) { return j.pause(); }, JOB_STATE_PAUSING},
      {"resume", [](Job& j) { return j.resume(); }, JOB_STATE_RUNNING},
      {"switch", [](Job& j) { return j.switch_job(); }, JOB_STATE_SWITCHING}};
  for (const auto& c : cases) {
    Job_var plain(new Plain_Job(make_def()));
    plain->activity().state = JOB_STATE_COMPLETED;
    EXPECT_EQ(c.command(*plain), -1) << c.name;
    EXPECT_EQ(plain->state(), JOB_STATE_COMPLETED) << c.name;

    Job_var steered(new Backup_Job(make_def()));
    steered->activity().state = JOB_STATE_COMPLETED;
    EXPECT_EQ(c.command(*steered), 0) << c.name;
    EXPECT_EQ(steered->state(), c.controllable_state) << c.name;
  }
  ACE_Intrusive_Auto_Ptr<Backup_Job> job(new Backup_Job(make_def()));
  EXPECT_EQ(job->abort_i(), 0);
  EXPECT_EQ(job->state(), JOB_STATE_ABORTING);
  EXPECT_EQ(job->abort(), 0);  // the host's abort: with (null) options
  EXPECT_EQ(job->state(), JOB_STATE_CANCELING);
  EXPECT_TRUE(probe->recorded().empty());
}

// An abort with options cancels the job thread; without, it only sets the state.
TEST_F(Default_Job_T_Test, AbortDuringTheRun) {
  for (const bool with_options : {true, false}) {
    probe = std::make_unique<Probe>();
    probe->hold_execute = true;
    ACE_Intrusive_Auto_Ptr<Backup_Job> job(new Backup_Job(make_def()));
    ASSERT_EQ(job->start(), 0);
    ASSERT_TRUE(probe->execute_entered.wait());
    const Action_Options opts{{"force", json_spirit::Value(true)}};
    EXPECT_EQ(with_options ? job->abort(&opts) : job->abort_i(), 0);
    EXPECT_EQ(job->state(), with_options ? JOB_STATE_CANCELING : JOB_STATE_ABORTING);
    probe->execute_release.open();
    ASSERT_TRUE(job->wait_complete(patience));
    EXPECT_EQ(probe->cancel_seen, with_options);
    EXPECT_EQ(events(*job), with_options ? "start,canceled" : "start,failure");
  }
}

TEST_F(Default_Job_T_Test, RemoveUndoesEachOnDemandSetupThenRemoves) {
  probe->hook_result = false;  // failures do not reach the command's result
  Job_Definition_var def = make_def();
  def->add_schedule(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND));
  def->add_schedule(nullptr);
  def->add_schedule(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_DAILY));
  def->add_schedule(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND));
  Job_var job(new Backup_Job(def));
  EXPECT_EQ(job->remove(true, nullptr), 0);
  const std::vector<std::string> expected = {"remove_ondemand", "remove_ondemand", "remove"};
  EXPECT_EQ(probe->recorded(), expected);
}

TEST_F(Default_Job_T_Test, UpdateAndOnDemandSetupUseAShortLivedExecutor) {
  probe->hook_result = false;
  Job_Definition_var def = make_def();
  def->add_schedule(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND));
  Job_var job(new Backup_Job(def));
  Job_Definition_var next = make_def();
  next->set_name("next");
  EXPECT_EQ(job->update(next), 0);
  EXPECT_EQ(job->definition()->name(), "next");

  EXPECT_EQ(job->setup_ondemand(), 0);  // `next` has no on-demand schedule
  Job_Definition_var ondemand = make_def();
  ondemand->add_schedule(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND));
  ASSERT_EQ(job->update(ondemand), 0);
  EXPECT_EQ(job->setup_ondemand(), -1);
  probe->hook_result = true;
  EXPECT_EQ(job->setup_ondemand(), 0);
  const std::vector<std::string> expected = {"update", "update", "setup_ondemand",
                                             "setup_ondemand"};
  EXPECT_EQ(probe->recorded(), expected);
}

// The job thread and the rollback thread (rollback returns at once) each keep a job the
// host let go of alive until they end.
TEST_F(Default_Job_T_Test, ItsThreadsKeepAReleasedJobAlive) {
  for (const bool rollback : {false, true}) {
    probe = std::make_unique<Probe>();
    probe->hold_execute = probe->hold_rollback = true;
    Gate destroyed;
    Job_var job(new Watched_Job(make_def(), destroyed));
    ASSERT_EQ(rollback ? job->rollback() : job->start(), 0);
    ASSERT_TRUE((rollback ? probe->rollback_entered : probe->execute_entered).wait());
    job = Job_var();
    EXPECT_FALSE(destroyed.is_open());
    (rollback ? probe->rollback_release : probe->execute_release).open();
    EXPECT_TRUE(destroyed.wait());
    EXPECT_EQ(rollback, probe->rollback_done.is_open());
  }
}

TEST_F(Default_Job_T_Test, ASecondStartWaitsForTheRunToComplete) {
  test::Log_Capture log;
  probe->hold_execute = true;
  Job_var job(new Backup_Job(make_def()));
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(probe->execute_entered.wait());
  EXPECT_EQ(job->start(), -1);
  probe->execute_release.open();
  ASSERT_TRUE(job->wait_complete(patience));
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete(patience));
  const std::vector<std::string> expected = {"execute:1", "execute:1"};
  EXPECT_EQ(probe->recorded(), expected);
  EXPECT_EQ(job->completed_runs(), 2u);
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
    EXPECT_FALSE(job->live());
    EXPECT_EQ(job->state(), JOB_STATE_IDLE);
    EXPECT_EQ(log.contains("opt is NULL", LM_EMERGENCY), step == Job_Start_Step::RUN_OPTIONS);
    job = Job_var();
    EXPECT_TRUE(destroyed.is_open());  // nothing holds the job any more
  }
  job_start_fault = nullptr;
  EXPECT_TRUE(probe->recorded().empty());
}

TEST_F(Default_Job_T_Test, AnExceptionFromTheExecutorEndsTheRunAsAnError) {
  test::Log_Capture log;
  probe->throw_in_work = true;
  Job_var job(new Backup_Job(make_def()));
  ASSERT_EQ(job->start(), 0);
  ASSERT_TRUE(job->wait_complete(patience));
  EXPECT_EQ(job->state(), JOB_STATE_ERROR);
  EXPECT_EQ(events(*job), "start,failure");
  EXPECT_NE(job->activity().last_run_time, 0);
  EXPECT_TRUE(log.contains("the run ended with an exception: work blew up", LM_ERROR));
}

TEST_F(Default_Job_T_Test, AnExceptionFromAShortLivedExecutorStaysInTheModule) {
  // Removal goes on to the executor's own removal after a failed on-demand clean-up.
  const struct { const char* name; int (*command)(Job&, const Job_Definition_var&); int result; const char* logged; std::vector<std::string> calls; } cases[] = {
      {"remove", [](Job& j, const Job_Definition_var&) { return j.remove(false, nullptr); }, 0,
       "remove_ondemand ended with an exception: remove_ondemand blew up",
       {"remove_ondemand", "remove"}},
      {"update", [](Job& j, const Job_Definition_var& d) { return j.update(d); }, 0,
       "update ended with an exception: update blew up", {"update"}},
      {"setup_ondemand", [](Job& j, const Job_Definition_var&) { return j.setup_ondemand(); }, -1,
       "setup_ondemand ended with an exception: setup_ondemand blew up", {"setup_ondemand"}},
  };
  for (const auto& c : cases) {
    probe = std::make_unique<Probe>();
    probe->throw_in_hooks = true;
    test::Log_Capture log;
    Job_Definition_var def = make_def();
    def->add_schedule(std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND));
    Job_var job(new Backup_Job(def));
    EXPECT_EQ(c.command(*job, def), c.result) << c.name;
    EXPECT_TRUE(log.contains(c.logged, LM_ERROR)) << c.name;
    EXPECT_EQ(probe->recorded(), c.calls) << c.name;
  }
}

}  // namespace
