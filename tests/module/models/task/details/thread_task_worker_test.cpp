#include "models/task/details/thread_task_worker.h"

#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace {

using test::Latch;
using task_test::make_task;
using task_test::Test_Task;
using Pool = Thread_Task_Worker<Test_Task>;
using Error = Task_Base::Error;
const Error OK = Task_Base::CODE_SUCCESS, FAILED = Task_Base::CODE_FAILED;

// "name:error" of every completion, in callback order; checks the result is stored first.
struct Completions {
  std::mutex mutex;
  std::vector<std::string> seen;
  Task_Worker<Test_Task>::Callback callback(Pool& pool) {
    return [this, &pool](std::shared_ptr<Test_Task>& t) {
      const bool ran = t->name().rfind("dropped", 0) != 0;  // a dropped task never ran
      EXPECT_TRUE(!ran || (Task_Base::STATE_RUNNING == t->state() && &pool == t->worker()));
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(t->name() + ":" + std::to_string(t->error()));
    };
  }
  std::vector<std::string> get() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }
};

std::string done(const char* name, Error e) { return std::string(name) + ":" + std::to_string(e); }

// True once the pool's queue is deactivated: the moment a destructor or a failed stop
// starts ending the pool (a peek at a non-empty queue then fails with ESHUTDOWN).
bool deactivated(Pool& pool) {
  return task_test::eventually([&] {
    ACE_Time_Value no_wait = ACE_Time_Value::zero;
    std::shared_ptr<Test_Task>* head = nullptr;
    return pool.msg_queue()->peek_dequeue_head(head, &no_wait) == -1 && errno == ESHUTDOWN;
  });
}

// Queue order, results stored before the callback, a task throwing what is no exception
// class failed without ending the thread (the scheduler tests throw std ones); a task
// enqueued after stop() is dropped, not run. Many threads: the scheduler's stress tests.
TEST(Thread_Task_Worker, RunsEachTaskOnceAndStopsAfterTheLast) {
  test::Log_Capture log;
  Completions c;
  Pool pool;
  pool.register_callback(c.callback(pool));
  const std::pair<const char*, Test_Task::Body> tasks[] = {
      {"failed", [](Test_Task&) { return FAILED; }},
      {"other", [](Test_Task&) -> Error { throw 42; }},
      {"ok", nullptr}};
  for (const auto& t : tasks) ASSERT_TRUE(pool.enqueue(make_task(t.first, "", t.second)));
  ASSERT_EQ(0, pool.activate(1));
  EXPECT_EQ(0, pool.stop());
  EXPECT_EQ(0u, pool.thr_count());
  const std::vector<std::string> expected = {done("failed", FAILED), done("other", FAILED),
                                             done("ok", OK)};
  EXPECT_EQ(expected, c.get());
  EXPECT_TRUE(log.contains("Task threw an exception, id: 0, name: other.", LM_ERROR));
  auto late = make_task("late");
  ASSERT_TRUE(pool.enqueue(late));
  pool.clear();
  EXPECT_EQ(FAILED, late->error());
  EXPECT_EQ(3u, c.get().size());
}

// While one task runs, the pool is ended (destroyed, or stopped without room for its end
// marker): the running task finishes, the queued ones are failed without running. A pool
// ended idle or never activated does the same.
TEST(Thread_Task_Worker, EndingWhileATaskRunsDropsTheQueuedOnes) {
  for (bool destroy : {true, false}) {
    SCOPED_TRACE(destroy);
    test::Log_Capture log;
    Completions c;
    Latch started;
    auto pool = std::make_unique<Pool>();
    Pool* raw = pool.get();
    pool->register_callback(c.callback(*raw));
    ASSERT_TRUE(pool->enqueue(make_task("running", "", [&](Test_Task&) {
      started.count_down();
      EXPECT_TRUE(deactivated(*raw));
      return OK;
    })));
    ASSERT_EQ(0, pool->activate(1));
    ASSERT_TRUE(started.wait());
    for (const char* n : {"dropped1", "dropped2"})
      ASSERT_TRUE(pool->enqueue(make_task(n, "", [&](Test_Task&) -> Error { throw n; })));
    if (destroy) pool.reset();
    if (!destroy) {
      pool->msg_queue()->deactivate();  // the marker cannot be queued
      EXPECT_EQ(-1, pool->stop());
      EXPECT_EQ(0u, pool->thr_count());
      EXPECT_TRUE(log.contains("Dropping task, id: 0, name: dropped1, count: 0.", LM_ERROR));
    }
    const std::vector<std::string> ended = {done("running", OK), done("dropped1", FAILED),
                                            done("dropped2", FAILED)};
    EXPECT_EQ(std::vector<std::string>(ended.begin(), ended.begin() + (destroy ? 1 : 3)), c.get());
  }
  Pool dead;
  dead.msg_queue()->deactivate();
  EXPECT_FALSE(dead.enqueue(make_task("t")));
  auto never = make_task("never");
  { Pool idle; ASSERT_EQ(0, idle.activate(3)); }  // the destructor must wake and join them
  { Pool pool; ASSERT_TRUE(pool.enqueue(never)); }  // never activated: dropped, not run
  EXPECT_EQ(FAILED, never->error());
}

}  // namespace
