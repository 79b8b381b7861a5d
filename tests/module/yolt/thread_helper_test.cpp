#include "yolt/thread_helper.h"

#include "support/latch.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

constexpr long JOINABLE = THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED;  // 0x410002
constexpr long DETACHED = THR_NEW_LWP | THR_DETACHED | THR_INHERIT_SCHED;  // 0x400042
constexpr std::chrono::seconds PATIENCE{60};

// Waits until every thread of the manager, detached ones included, has left: a detached
// thread must not still be winding down when the process exits.
bool all_threads_gone() {
  ACE_Time_Value patience(60);
  return ACE_Thread_Manager::instance()->wait(&patience, false, false) == 0;
}

using Gate = test::Latch;

// Waits (without sleeping) until the helper's joinable run has finished its callable.
bool finishes(const Thread_Helper& h) {
  const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
  while (h.running()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(Thread_Helper, RefusesWhileRunningAndReapsAFinishedRunOnNextSpawn) {
  Gate gate;
  bool second_ran = false;
  Thread_Helper h(JOINABLE, ACE_DEFAULT_THREAD_PRIORITY);
  ASSERT_GE(h.spawn([&gate] { gate.wait(); }), 0);
  EXPECT_TRUE(h.running());

  {
    test::Log_Capture log;
    EXPECT_EQ(-1, h.spawn([&second_ran] { second_ran = true; }));
    EXPECT_EQ("", log.text());  // the template refuses silently
    EXPECT_EQ(-1, h.spawn());
    EXPECT_TRUE(log.contains("already_running is true", LM_EMERGENCY));
  }
  EXPECT_TRUE(h.running());

  gate.open();
  ASSERT_TRUE(finishes(h));
  EXPECT_TRUE(h.exists());  // finished, not joined yet

  ASSERT_GE(h.spawn([&second_ran] { second_ran = true; }), 0);
  h.join();
  EXPECT_TRUE(second_ran);
}

// Exposes the id of the joinable thread last started.
class Probe_Helper : public Thread_Helper {
 public:
  using Thread_Helper::Thread_Helper;
  ACE_thread_t tid() const { return _tid; }
};

TEST(Thread_Helper, ARunEndingDuringADirectSpawnIsStillReaped) {
  // Hammers spawn() while each short run ends, so that some runs end between the check
  // of the running flag and the start of the next thread: every thread must be joined.
  Probe_Helper h(JOINABLE, ACE_DEFAULT_THREAD_PRIORITY);
  ASSERT_GE(h.spawn([] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
    while (std::chrono::steady_clock::now() < until) {
    }
  }),
            0);
  std::set<ACE_thread_t> ids{h.tid()};
  const u_long mask = ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS);
  ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS);  // the refusals are expected
  for (int i = 0; i < 500; ++i) {
    while (h.spawn() < 0) {
    }
    ids.insert(h.tid());
  }
  ACE_LOG_MSG->priority_mask(mask, ACE_Log_Msg::PROCESS);
  h.join();
  int unreaped = 0;
  for (ACE_thread_t id : ids) unreaped += ACE_Thread_Manager::instance()->join(id) == 0;
  EXPECT_EQ(0, unreaped);
}

TEST(Thread_Helper, DetachedThreadOutlivesItsHelper) {
  Gate gate;
  auto done = std::make_shared<std::promise<int>>();
  std::future<int> result = done->get_future();
  {
    Thread_Helper h(DETACHED, ACE_DEFAULT_THREAD_PRIORITY);
    ASSERT_GE(h.spawn(
                  [&gate, done](int v) {
                    gate.wait();
                    done->set_value(v);
                  },
                  7),
              0);
    EXPECT_FALSE(h.exists());
    EXPECT_FALSE(h.running());
    h.join();  // nothing to join: must not wait for the gate
  }            // nor may the destructor
  gate.open();
  ASSERT_EQ(std::future_status::ready, result.wait_for(PATIENCE));
  EXPECT_EQ(7, result.get());
  EXPECT_TRUE(all_threads_gone());
}

TEST(Thread_Helper, ExceptionFromTheCallableIsLoggedAndEndsTheRun) {
  test::Log_Capture log;
  Thread_Helper h(JOINABLE, ACE_DEFAULT_THREAD_PRIORITY);
  ASSERT_GE(h.spawn([] { throw std::runtime_error("disk on fire"); }), 0);
  ASSERT_TRUE(finishes(h));
  h.join();
  EXPECT_TRUE(log.contains("disk on fire", LM_ERROR));

  int runs = 0;
  ASSERT_GE(h.spawn([&runs] { ++runs; }), 0);
  h.join();
  EXPECT_EQ(1, runs);
}

// While it lives, new threads ask for a stack no system can give, so none can be made.
class Thread_Creation_Blocker {
 public:
  Thread_Creation_Blocker() {
    pthread_getattr_default_np(&previous_);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, size_t(1) << 45);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~Thread_Creation_Blocker() {
    pthread_setattr_default_np(&previous_);
    pthread_attr_destroy(&previous_);
  }

 private:
  pthread_attr_t previous_;
};

TEST(Thread_Helper, RefusedThreadLeavesTheHelperReusable) {
  int runs = 0;
  Thread_Helper h(JOINABLE, ACE_DEFAULT_THREAD_PRIORITY);
  {
    Thread_Creation_Blocker blocker;
    test::Log_Capture log;
    EXPECT_EQ(-1, Thread_Helper(JOINABLE, ACE_DEFAULT_THREAD_PRIORITY).spawn());  // no callable
    EXPECT_LT(h.spawn([&runs] { ++runs; }), 0);
    EXPECT_FALSE(h.running());
    EXPECT_FALSE(h.exists());
    EXPECT_LT(h.spawn(), 0);  // refused again by the system, not as "already running"
    EXPECT_FALSE(log.contains("already_running"));
  }
  ASSERT_GE(h.spawn(), 0);
  h.join();
  EXPECT_EQ(1, runs);
}

// Records the thread its hook ran on.
class Starting_Helper : public Thread_Helper {
 public:
  using Thread_Helper::Thread_Helper;
  std::thread::id hook_thread;

 protected:
  void handle_starting() override { hook_thread = std::this_thread::get_id(); }
};

TEST(Thread_Helper, HandleStartingRunsOnTheNewThreadBeforeSpawnReturns) {
  for (const long flags : {JOINABLE, DETACHED}) {
    Gate gate;
    auto finished = std::make_shared<std::promise<void>>();
    std::future<void> done = finished->get_future();
    Starting_Helper h(flags, ACE_DEFAULT_THREAD_PRIORITY);
    ASSERT_GE(h.spawn([&gate, finished] {
      gate.wait();
      finished->set_value();
    }),
              0);
    // The hook's writes are visible here without any further synchronisation.
    EXPECT_NE(std::thread::id(), h.hook_thread) << flags;
    EXPECT_NE(std::this_thread::get_id(), h.hook_thread) << flags;
    gate.open();
    ASSERT_EQ(std::future_status::ready, done.wait_for(PATIENCE));
    h.join();
    EXPECT_TRUE(all_threads_gone());
  }
}

}  // namespace
