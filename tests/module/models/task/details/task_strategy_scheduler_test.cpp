#include "models/task/details/task_strategy_scheduler.h"

#include "models/task/details/queue_strategy_impl.h"
#include "models/task/details/retry_limit_queue_strategy.h"
#include "models/task/details/thread_task_worker.h"
#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

namespace {

using task_test::eventually;
using task_test::make_task;
using task_test::Summaries;
using task_test::summaries;
using task_test::Test_Task;
using Scheduler = Task_Strategy_Scheduler<Test_Task, Thread_Task_Worker<Test_Task>,
                                          Queue_Strategy_Impl<Test_Task>>;

// Starts `pool_threads` workers (with `dequeue_limit` tasks handed out at most) and the
// dispatcher.
void start(Scheduler& s, int pool_threads, int dequeue_limit) {
  s.strategy().reset_dequeue_limit(dequeue_limit);
  ASSERT_EQ(0, s.worker().activate(static_cast<uint64_t>(pool_threads)));
  ASSERT_EQ(0, s.activate());
}

// A pass serves owners in text order whatever their ids; within an owner the smallest id
// runs first. One pool thread runs the handed-out tasks in hand-over order.
TEST(Task_Strategy_Scheduler, OrderOfAPass) {
  const struct { int dequeue_limit; const char* tasks[3][2]; const char* order; } cases[] = {
      {3, {{"z", "zeta"}, {"b", "beta"}, {"a", "alpha"}}, "a b z "},
      {1, {{"first", "host"}, {"second", "host"}, {"third", "host"}}, "first second third "}};
  for (const auto& c : cases) {
    test::Log_Capture log;
    std::string order;  // written by the one pool thread, read after wait()
    Scheduler s;
    const Test_Task::Body record = [&order](Test_Task& t) {
      order += t.name() + " ";
      return Task_Base::CODE_SUCCESS;
    };
    for (const auto& t : c.tasks) ASSERT_TRUE(s.enqueue_task(make_task(t[0], t[1], record)));
    start(s, 1, c.dequeue_limit);
    ASSERT_EQ(0, s.wait());
    EXPECT_EQ(c.order, order);
  }
}

// The pool has no thread: what the passes hand over stays in its queue, which the stop
// predicate (asked at the start of every pass) reads; the third pass stops the run. The
// four tasks the stopped pool never ran are dropped and counted failed; a3 never left its
// owner queue and stays pending.
TEST(Task_Strategy_Scheduler, APassReleasesAtMostOneTaskPerOwner) {
  test::Log_Capture log;
  Scheduler s;
  for (const char* n : {"a1", "a2", "a3", "b1", "b2"})
    ASSERT_TRUE(s.enqueue_task(make_task(n, std::string(n, 1))));
  std::vector<size_t> handed_over;  // written on the dispatcher thread, read after wait()
  s.register_stop_callback([&] {
    handed_over.push_back(s.worker().msg_queue()->message_count());
    return handed_over.size() == 3;
  });
  s.dispatch_interval(std::chrono::milliseconds(1));
  ASSERT_EQ(0, s.activate());
  ASSERT_EQ(0, s.wait());
  EXPECT_EQ((std::vector<size_t>{0, 2, 4}), handed_over);
  EXPECT_EQ((Summaries{{5, 0, 4, 1}}), summaries(log));
}

// The production pace, once (label slow): with no completion to wake it, the dispatcher
// passes every 3 s counted from the current whole second.
TEST(Task_Strategy_Scheduler_Slow, UnsignalledPassesComeEveryTwoToThreeSeconds) {
  test::Log_Capture log;
  Scheduler s;
  ASSERT_TRUE(s.enqueue_task(make_task("held", "a")));
  using Clock = std::chrono::steady_clock;
  std::vector<Clock::time_point> passes;  // written on the dispatcher thread, read after wait()
  s.register_stop_callback([&] {
    passes.push_back(Clock::now());
    return passes.size() == 3;
  });
  ASSERT_EQ(0, s.activate());
  ASSERT_EQ(0, s.wait());
  ASSERT_EQ(3u, passes.size());
  for (size_t i = 1; i < passes.size(); ++i) {
    const auto gap = passes[i] - passes[i - 1];
    EXPECT_TRUE(gap >= std::chrono::milliseconds(1900) && gap <= std::chrono::seconds(4)) << i;
  }
}

TEST(Task_Strategy_Scheduler, ARetryWaitsForItsIntervalAndIsPutBackWithNewIds) {
  test::Log_Capture log;
  std::atomic<time_t> now{1000};
  std::atomic<int> passes{0}, runs{0};
  std::vector<int> run_ids;  // written by the one pool thread, read after wait()
  Scheduler s;
  auto retry = std::make_unique<Retry_Limit_Queue_Strategy<Test_Task>>();
  retry->reset(3, 10);
  s.strategy().add_strategy(std::move(retry));
  s.strategy().clock([&now] { return now.load(); });
  s.dispatch_interval(std::chrono::milliseconds(2));
  s.register_stop_callback([&] {
    ++passes;
    return false;
  });
  ASSERT_TRUE(s.enqueue_task(make_task("t", "", [&](Test_Task& t) {
    run_ids.push_back(t.id());
    return ++runs == 1 ? Task_Base::CODE_FAILED_RETRY : Task_Base::CODE_SUCCESS;
  })));
  start(s, 1, 1);
  // Not started while less than the interval has passed since the last run ended, nor
  // when the clock went back.
  for (time_t at : {1000, 1009, 999}) {
    now = at;
    const int seen = passes;
    ASSERT_TRUE(eventually([&] { return passes >= seen + 5; }));
    EXPECT_EQ(1, runs.load()) << at;
  }
  now = 1010;
  ASSERT_TRUE(eventually([&] { return runs == 2; }));
  ASSERT_EQ(0, s.wait());
  ASSERT_EQ(2u, run_ids.size());
  EXPECT_GT(run_ids[1], 3) << "put back at several passes, each with a new id";
  EXPECT_TRUE(log.contains("Processing task, id: " + std::to_string(run_ids[1]) +
                           ", name t, count: 2.", LM_DEBUG)) << "a put-back is no acceptance";
  EXPECT_EQ((Summaries{{1, 1, 0, 0}}), summaries(log));
}

// A hand-off the pool refuses, or a stop predicate that throws, ends the run with the
// tasks pending; the exit callback runs once, before the summary.
TEST(Task_Strategy_Scheduler, RunsThatCannotGoOnStillEnd) {
  for (bool throwing_stop : {false, true}) {
    SCOPED_TRACE(throwing_stop);
    test::Log_Capture log;
    std::vector<size_t> at_exit;  // summaries logged, written on the dispatcher thread
    Scheduler s;
    s.register_exit_callback([&] { at_exit.push_back(summaries(log).size()); });
    for (const char* n : {"x", "y"}) ASSERT_TRUE(s.enqueue_task(make_task(n, n)));
    const auto throws = []() -> bool { throw std::runtime_error("job record gone"); };
    if (throwing_stop) s.register_stop_callback(throws);
    s.dispatch_interval(std::chrono::milliseconds(5));  // no completion will wake it
    // Without the throwing stop the pool takes nothing, not even its end marker.
    if (!throwing_stop) s.worker().msg_queue()->deactivate();
    start(s, throwing_stop ? 1 : 0, 2);
    ASSERT_EQ(0, s.wait());
    const char* const logged = throwing_stop
                                   ? "Stop predicate threw an exception, stopping: job record gone."
                                   : "Failed to enqueue task to worker, id: 1, name: x,";
    EXPECT_TRUE(log.contains(logged, LM_ERROR)) << log.text();
    EXPECT_EQ((Summaries{{2, 0, 0, 2}}), summaries(log));  // no task ran
    EXPECT_EQ(0, s.strategy().task_dequeued_count());
    EXPECT_EQ(std::vector<size_t>{0}, at_exit);
  }
}

}  // namespace
