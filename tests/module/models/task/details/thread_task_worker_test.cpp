#include "models/task/details/thread_task_worker.h"

#include "module/models/task/task_test_util.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using task_test::Latch;
using task_test::make_task;
using task_test::Test_Task;
using Pool = Thread_Task_Worker<Test_Task>;
using task_ptr = std::shared_ptr<Test_Task>;

// What the completion callback saw, in callback order.
struct Completions {
  struct Seen {
    std::string name;
    Task_Base::Error error;
    Task_Base::State state;
    Task_Worker<Test_Task>* worker;
  };
  std::mutex mutex;
  std::vector<Seen> seen;

  Task_Worker<Test_Task>::Callback callback() {
    return [this](task_ptr& t) {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back({t->name(), t->error(), t->state(), t->worker()});
    };
  }
  std::vector<std::string> names() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> out;
    for (const auto& s : seen) out.push_back(s.name);
    return out;
  }
};

// Spins (yielding) until the pool's queue has been deactivated: the moment a destructor
// or a failed stop starts ending the pool. The queue still holds entries, so a peek
// answers at once: -1 with ESHUTDOWN exactly when it is deactivated.
bool wait_deactivated(Pool& pool) {
  const auto deadline = std::chrono::steady_clock::now() + task_test::kGenerous;
  for (;;) {
    ACE_Time_Value no_wait = ACE_Time_Value::zero;
    std::shared_ptr<Test_Task>* head = nullptr;
    if (pool.msg_queue()->peek_dequeue_head(head, &no_wait) == -1 && errno == ESHUTDOWN)
      return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
}

TEST(Thread_Task_Worker, RunsInQueueOrderAndStopsAfterTheLastTask) {
  test::Log_Capture log;
  Completions done;
  Pool pool;
  pool.register_callback(done.callback());
  std::vector<std::string> expected;
  for (int i = 1; i <= 5; ++i) {
    auto t = make_task("t" + std::to_string(i));
    t->id(i);
    ASSERT_TRUE(pool.enqueue(t));
    expected.push_back(t->name());
  }
  ASSERT_EQ(0, pool.activate(1));
  EXPECT_EQ(0, pool.stop());
  EXPECT_EQ(expected, done.names());
  EXPECT_EQ(0u, pool.thr_count());
  EXPECT_TRUE(log.contains("Processing task, id: 3, name t3, count: 0.", LM_DEBUG)) << log.text();
}

TEST(Thread_Task_Worker, OneMarkerEndsEveryThreadAndEachTaskRunsOnce) {
  for (int threads : {1, 4}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    test::Log_Capture log;
    Pool pool;
    std::map<std::string, std::atomic<int>> runs;
    for (const char* n : {"a", "b", "c"}) runs[n] = 0;
    for (const char* n : {"a", "b", "c"})
      ASSERT_TRUE(pool.enqueue(make_task(n, "", [&runs](Test_Task& t) {
        ++runs[t.name()];
        return Task_Base::CODE_SUCCESS;
      })));
    ASSERT_EQ(0, pool.activate(static_cast<uint64_t>(threads)));
    EXPECT_EQ(0, pool.stop());
    EXPECT_EQ(0u, pool.thr_count());
    for (auto& r : runs) EXPECT_EQ(1, r.second.load()) << r.first;

    // Nothing runs once stop() has returned: a late task stays queued and is dropped.
    auto late = make_task("late", "", [&runs](Test_Task&) {
      ++runs["a"];
      return Task_Base::CODE_SUCCESS;
    });
    ASSERT_TRUE(pool.enqueue(late));
    pool.clear();
    EXPECT_EQ(Task_Base::CODE_FAILED, late->error());
    EXPECT_EQ(1, runs["a"].load());
  }
}

TEST(Thread_Task_Worker, StoresTheResultBeforeTheCallback) {
  test::Log_Capture log;
  Completions done;
  Pool pool;
  pool.register_callback(done.callback());
  for (auto result : {Task_Base::CODE_FAILED_RETRY, Task_Base::CODE_FAILED, Task_Base::CODE_SUCCESS})
    ASSERT_TRUE(pool.enqueue(make_task("t", "", [result](Test_Task&) { return result; })));
  ASSERT_EQ(0, pool.activate(1));
  ASSERT_EQ(0, pool.stop());
  ASSERT_EQ(3u, done.seen.size());
  EXPECT_EQ(Task_Base::CODE_FAILED_RETRY, done.seen[0].error);
  EXPECT_EQ(Task_Base::CODE_FAILED, done.seen[1].error);
  EXPECT_EQ(Task_Base::CODE_SUCCESS, done.seen[2].error);
  for (const auto& s : done.seen) {
    EXPECT_EQ(Task_Base::STATE_RUNNING, s.state);
    EXPECT_EQ(&pool, s.worker);
  }
}

TEST(Thread_Task_Worker, ATaskThatThrowsFailsAndTheThreadCarriesOn) {
  test::Log_Capture log;
  Completions done;
  Pool pool;
  pool.register_callback(done.callback());
  ASSERT_TRUE(pool.enqueue(make_task("std", "", [](Test_Task&) -> Task_Base::Error {
    throw std::runtime_error("disk on fire");
  })));
  ASSERT_TRUE(pool.enqueue(make_task("other", "", [](Test_Task&) -> Task_Base::Error {
    throw 42;
  })));
  ASSERT_TRUE(pool.enqueue(make_task("after")));
  ASSERT_EQ(0, pool.activate(1));
  ASSERT_EQ(0, pool.stop());
  ASSERT_EQ(3u, done.seen.size());
  EXPECT_EQ(Task_Base::CODE_FAILED, done.seen[0].error);
  EXPECT_EQ(Task_Base::CODE_FAILED, done.seen[1].error);
  EXPECT_EQ(Task_Base::CODE_SUCCESS, done.seen[2].error);
  EXPECT_TRUE(log.contains("Task threw an exception, id: 0, name: std, what: disk on fire.",
                           LM_ERROR))
      << log.text();
  EXPECT_TRUE(log.contains("Task threw an exception, id: 0, name: other.", LM_ERROR));
}

TEST(Thread_Task_Worker, DestructorEndsIdleThreadsAndFailsQueuedTasks) {
  test::Log_Capture log;
  Completions done;
  auto never = make_task("never");
  {
    Pool pool;
    pool.register_callback(done.callback());
    ASSERT_EQ(0, pool.activate(3));
    // Idle threads only: the destructor must wake and join them.
  }
  {
    Pool pool;  // never activated: the queued task is dropped, not run
    pool.register_callback(done.callback());
    ASSERT_TRUE(pool.enqueue(never));
  }
  EXPECT_EQ(Task_Base::CODE_FAILED, never->error());
  EXPECT_TRUE(done.names().empty());
}

TEST(Thread_Task_Worker, DestructorLetsTheRunningTaskFinishAndDropsTheRest) {
  test::Log_Capture log;
  Completions done;
  std::atomic<int> ran_after{0};
  auto pool = std::make_unique<Pool>();
  Pool* raw = pool.get();
  pool->register_callback(done.callback());
  Latch started;
  auto running = make_task("running", "", [&](Test_Task&) {
    started.count_down();
    EXPECT_TRUE(wait_deactivated(*raw));
    return Task_Base::CODE_SUCCESS;
  });
  auto queued1 = make_task("queued1", "", [&](Test_Task&) {
    ++ran_after;
    return Task_Base::CODE_SUCCESS;
  });
  auto queued2 = make_task("queued2", "", [&](Test_Task&) {
    ++ran_after;
    return Task_Base::CODE_SUCCESS;
  });
  ASSERT_TRUE(pool->enqueue(running));
  ASSERT_EQ(0, pool->activate(1));
  ASSERT_TRUE(started.wait());
  ASSERT_TRUE(pool->enqueue(queued1));
  ASSERT_TRUE(pool->enqueue(queued2));
  pool.reset();

  EXPECT_EQ(0, ran_after.load());
  EXPECT_EQ(std::vector<std::string>{"running"}, done.names());
  EXPECT_EQ(Task_Base::CODE_FAILED, queued1->error());
  EXPECT_EQ(Task_Base::CODE_FAILED, queued2->error());
}

TEST(Thread_Task_Worker, StopWithoutRoomForTheMarkerDoesNotHangAndReportsDroppedTasks) {
  test::Log_Capture log;
  Completions done;
  Pool pool;
  pool.register_callback(done.callback());
  std::atomic<int> ran_after{0};
  Latch started;
  ASSERT_TRUE(pool.enqueue(make_task("running", "", [&](Test_Task&) {
    started.count_down();
    EXPECT_TRUE(wait_deactivated(pool));
    return Task_Base::CODE_SUCCESS;
  })));
  ASSERT_EQ(0, pool.activate(1));
  ASSERT_TRUE(started.wait());
  for (const char* n : {"dropped1", "dropped2"})
    ASSERT_TRUE(pool.enqueue(make_task(n, "", [&](Test_Task&) {
      ++ran_after;
      return Task_Base::CODE_SUCCESS;
    })));
  pool.msg_queue()->deactivate();  // the marker cannot be queued

  EXPECT_EQ(-1, pool.stop());
  EXPECT_EQ(0u, pool.thr_count());
  EXPECT_EQ(0, ran_after.load());
  EXPECT_EQ((std::vector<std::string>{"running", "dropped1", "dropped2"}), done.names());
  EXPECT_EQ(Task_Base::CODE_SUCCESS, done.seen[0].error);
  EXPECT_EQ(Task_Base::CODE_FAILED, done.seen[1].error);
  EXPECT_EQ(Task_Base::CODE_FAILED, done.seen[2].error);
  EXPECT_TRUE(log.contains("Dropping task, id: 0, name: dropped1, count: 0.", LM_ERROR))
      << log.text();
}

TEST(Thread_Task_Worker, EnqueueOnADeadQueueFails) {
  Pool pool;
  pool.msg_queue()->deactivate();
  EXPECT_FALSE(pool.enqueue(make_task("t")));
}

}  // namespace
