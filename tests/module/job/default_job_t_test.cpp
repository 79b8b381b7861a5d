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
  std::string calls;  // in order, e.g. "execute,remove"; a run lists its options' keys
  bool hook_result = true, throws = false;
  bool hold = false;  // execute and rollback wait for `release`
  bool cancel_seen = false;
  ACE_thread_t execute_thread = ACE_OS::NULL_thread;
  Gate entered, release, rollback_done;
};
std::unique_ptr<Probe> probe;

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
    std::string name = "execute";
    if (opts != nullptr)
      for (const auto& option : *opts) name += "+" + option.first;
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
    if (probe->throws) throw std::runtime_error("blew up");
    return probe->hook_result;
  }
};

using Backup_Job = Controllable_Job_T<Fake_Executor>;
using Plain_Job = Default_Job_T<Fake_Executor>;

// A job that tells when it is destroyed.
class Watched_Job : public Backup_Job {
 public:
  Watched_Job(Job_Definition_var def, Gate& destroyed)
      : Backup_Job(def), destroyed_(destroyed) {}
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
  if (!ondemand) return def;
  const Job_Schedule_var on_demand = std::make_shared<Job_Schedule>(Job_Schedule::TYPE_ONDEMAND);
  const Job_Schedule_var daily = std::make_shared<Job_Schedule>(Job_Schedule::TYPE_DAILY);
  for (Job_Schedule_var s : {on_demand, Job_Schedule_var(), daily, on_demand}) def->add_schedule(s);
  return def;
}

class Default_Job_T_Test : public ::testing::Test {
 protected:
  void SetUp() override { probe = std::make_unique<Probe>(); }
  // Every job and rollback thread has ended before the next test's probe.
  void TearDown() override { ACE_Thread_Manager::instance()->wait(); }
};

// Backup and restore jobs are made end to end; no other type is.
TEST_F(Default_Job_T_Test, CreatorMakesBackupAndRestoreJobsOnly) {
  Default_Job_Creator_T<Backup_Job, Backup_Job> creator;
  EXPECT_EQ(creator.create(make_def("", false, JOB_DEFINITION_STORAGE)).get(), nullptr);
  EXPECT_EQ(creator.create(Job_Definition_var()).get(), nullptr);
}

// The run gets the start options (none when empty) on a thread of its own, and the uid
// as 16 bytes: zeros, with a warning, for a uid that is not UUID text.
TEST_F(Default_Job_T_Test, StartRunsTheExecutorOnItsOwnThread) {
  const unsigned char bytes[16] = {0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78,
                                   0x87, 0x96, 0xa5, 0xb4, 0xc3, 0xd2, 0xe1, 0xf0};
  const unsigned char zeros[16] = {};
  const json_spirit::Array entries{json_spirit::Value("i-1")};
  const Action_Options none, retry{{"retry_entries", json_spirit::Value(entries)}};
  const struct { const Action_Options* opts; const char *calls, *uid; bool parsed; } cases[] = {
      {nullptr, "execute", "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", true},
      {&none, "execute", "not-a-uuid", false},
      {&retry, "execute+retry_entries", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0-x", false}};
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
    EXPECT_EQ(std::memcmp(job->activity().uid, c.parsed ? bytes : zeros, 16), 0);
    const std::string warning = std::string("uid \"") + c.uid + "\" is not a UUID";
    EXPECT_EQ(log.contains(warning, LM_WARNING), !c.parsed);
    EXPECT_EQ(probe->calls, c.calls);
    EXPECT_FALSE(ACE_OS::thr_equal(probe->execute_thread, ACE_OS::thr_self()));
  }
}

// The commands of the table below; a start waits for the run to end.
int start(Job& j) { return j.start() == 0 && j.wait_complete(patience) ? 0 : -9; }
int remove(Job& j) { return j.remove(true, nullptr); }
int update(Job& j) { return j.update(make_def("next")); }
int setup(Job& j) { return j.setup_ondemand(); }
int update_to_nothing_on_demand(Job& j) { return j.update(make_def()) + j.setup_ondemand(); }
int steer_a_plain_job(Job&) {
  Job_var plain(new Plain_Job(make_def()));
  return plain->stop() + plain->pause() + plain->resume() + plain->switch_job();
}

// One row per command on a completed job: the probe's answer, the command, and what came
// of it: "result|executor calls in order|events|job state", and the hook a logged
// exception names. Failed or throwing hooks stay in the module; the steering commands
// only set the state the executor polls, and a plain job refuses them.
TEST_F(Default_Job_T_Test, CommandsAndTheirFailures) {
  enum Answer { YES, NO, THROWS };
  const std::string removes = "remove_ondemand,remove_ondemand,remove";
  using Command = int (*)(Job&);
  const struct { Answer answer; Command run; std::string outcome; const char* logged; } rows[] = {
      {THROWS, start, "0|execute|start,failure:-1|error", "the run"},
      {NO, remove, "0|" + removes + "||completed", ""},  // undoes each on-demand set-up
      {THROWS, remove, "0|" + removes + "||completed", "remove_ondemand"},
      {NO, update, "0|update:next||completed", ""},
      {THROWS, update, "0|update:next||completed", "update"},
      {YES, setup, "0|setup_ondemand||completed", ""},
      {NO, setup, "-1|setup_ondemand||completed", ""},
      {THROWS, setup, "-1|setup_ondemand||completed", "setup_ondemand"},
      {YES, update_to_nothing_on_demand, "0|update:||completed", ""},
      {YES, [](Job& j) { return j.pause(); }, "0|||pausing", ""},
      {YES, [](Job& j) { return j.resume(); }, "0|||running", ""},
      {YES, [](Job& j) { return j.switch_job(); }, "0|||switching", ""},
      {YES, [](Job& j) { return j.abort(); }, "0|||canceling", ""},  // the host's, no options
      {YES, steer_a_plain_job, "-4|||completed", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.outcome);
    probe = std::make_unique<Probe>();
    probe->hook_result = row.answer == YES;
    probe->throws = row.answer == THROWS;
    test::Log_Capture log;
    Job_var job(new Backup_Job(make_def("job", true)));
    job->activity().state = JOB_STATE_COMPLETED;
    const int result = row.run(*job);
    EXPECT_EQ(std::to_string(result) + "|" + probe->calls + "|" + event_text(*job) + "|" +
                  job_state_to_string(job->state()),
              row.outcome);
    const std::string logged = row.logged + std::string(" ended with an exception: blew up");
    EXPECT_TRUE(*row.logged ? log.contains(logged, LM_ERROR) : log.entries().empty()) << log.text();
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
    EXPECT_EQ(meanwhile == ABORT ? job->abort(&opts) : 0, 0);
    EXPECT_EQ(meanwhile == ABORT_STATE_ONLY ? job->abort_i() : 0, 0);
    const Job_State steered = meanwhile == ABORT ? JOB_STATE_CANCELING : JOB_STATE_ABORTING;
    EXPECT_TRUE(meanwhile >= LET_GO || job->state() == steered);
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
