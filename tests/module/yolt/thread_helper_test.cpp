#include "yolt/thread_helper.h"

#include "support/latch.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <set>
#include <thread>

// The detached helper that outlives its thread is the rollback's, tested with the job
// templates.
namespace {

constexpr long JOINABLE = THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED;  // 0x410002
using Gate = test::Latch;

// Exposes the id of the joinable thread last started. (The start hook runs on the new
// thread: the job log routing tests.)
class Probe_Helper : public Thread_Helper {
 public:
  Probe_Helper() : Thread_Helper(JOINABLE, ACE_DEFAULT_THREAD_PRIORITY) {}
  ACE_thread_t tid() const { return _tid; }
};

// A spawn is refused while a run goes on, a finished run is reaped by the next spawn, an
// exception ends the run (logged).
TEST(Thread_Helper, RunsOneAtATime) {
  Gate gate;
  int runs = 0;
  Probe_Helper h;
  ASSERT_GE(h.spawn([&gate] { gate.wait(); }), 0);
  {
    test::Log_Capture log;
    EXPECT_EQ(-1, h.spawn([&runs] { ++runs; }));
    EXPECT_EQ(-1, h.spawn());
    EXPECT_TRUE(log.contains("already_running is true", LM_EMERGENCY));
  }
  gate.open();
  h.join();
  test::Log_Capture log;
  ASSERT_GE(h.spawn([] { throw std::runtime_error("disk on fire"); }), 0);
  h.join();
  EXPECT_TRUE(log.contains("disk on fire", LM_ERROR));
  ASSERT_GE(h.spawn([&runs] { ++runs; }), 0);
  h.join();
  EXPECT_EQ(1, runs);
}

// Hammers spawn() while each short run ends, so that some runs end between the check of
// the running flag and the start of the next thread: every thread must be joined.
TEST(Thread_Helper, ARunEndingDuringADirectSpawnIsStillReaped) {
  Probe_Helper h;
  ASSERT_GE(h.spawn([] {
    for (auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
         std::chrono::steady_clock::now() < until;) {}
  }), 0);
  std::set<ACE_thread_t> ids{h.tid()};
  const u_long mask = ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS);
  ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS);  // the refusals are expected
  for (int i = 0; i < 500; ++i) {
    while (h.spawn() < 0) {}
    ids.insert(h.tid());
  }
  ACE_LOG_MSG->priority_mask(mask, ACE_Log_Msg::PROCESS);
  h.join();
  int unreaped = 0;
  for (ACE_thread_t id : ids) unreaped += ACE_Thread_Manager::instance()->join(id) == 0;
  EXPECT_EQ(0, unreaped);
}

// While new threads ask for a stack no system can give, none can be made: the refused
// spawn leaves the helper reusable.
TEST(Thread_Helper, RefusedThreadLeavesTheHelperReusable) {
  int runs = 0;
  Probe_Helper h;
  pthread_attr_t previous, huge;
  pthread_getattr_default_np(&previous);
  pthread_attr_init(&huge);
  pthread_attr_setstacksize(&huge, size_t(1) << 45);
  pthread_setattr_default_np(&huge);
  {
    test::Log_Capture log;
    EXPECT_EQ(-1, Probe_Helper().spawn());  // no callable
    EXPECT_LT(h.spawn([&runs] { ++runs; }), 0);
    EXPECT_FALSE(h.running() || h.exists());
    EXPECT_LT(h.spawn(), 0);  // refused again by the system, not as "already running"
    EXPECT_FALSE(log.contains("already_running"));
  }
  pthread_setattr_default_np(&previous);
  pthread_attr_destroy(&previous);
  pthread_attr_destroy(&huge);
  ASSERT_GE(h.spawn(), 0);
  h.join();
  EXPECT_EQ(1, runs);
}

}  // namespace
