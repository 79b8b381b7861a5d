#include "models/task/details/task_strategy_scheduler.h"

#include "models/task/details/queue_strategy_impl.h"
#include "models/task/details/retry_limit_queue_strategy.h"
#include "models/task/details/thread_task_worker.h"
#include "module/models/task/task_test_util.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using task_test::Condition;
using task_test::make_task;
using task_test::Summary;
using task_test::summaries;
using task_test::Test_Task;
using Scheduler = Task_Strategy_Scheduler<Test_Task, Thread_Task_Worker<Test_Task>,
                                          Queue_Strategy_Impl<Test_Task>>;

// Order in which task bodies started.
struct Run_Order {
  std::mutex mutex;
  std::vector<std::string> names;
  Test_Task::Body record(Task_Base::Error result = Task_Base::CODE_SUCCESS) {
    return [this, result](Test_Task& t) {
      std::lock_guard<std::mutex> lock(mutex);
      names.push_back(t.name());
      return result;
    };
  }
};

// Starts `pool_threads` workers (with `dequeue_limit` tasks handed out at most) and the
// dispatcher.
void start(Scheduler& s, int pool_threads, int dequeue_limit) {
  s.strategy().reset_dequeue_limit(dequeue_limit);
  ASSERT_EQ(0, s.worker().activate(static_cast<uint64_t>(pool_threads)));
  ASSERT_EQ(0, s.activate());
}

TEST(Task_Strategy_Scheduler, APassServesOwnersInTextOrderWhateverTheirIds) {
  test::Log_Capture log;
  Run_Order order;
  Scheduler s;
  ASSERT_TRUE(s.enqueue_task(make_task("of-zeta", "zeta", order.record())));
  ASSERT_TRUE(s.enqueue_task(make_task("of-beta", "beta", order.record())));
  ASSERT_TRUE(s.enqueue_task(make_task("of-alpha", "alpha", order.record())));
  // One pool thread runs the handed-out tasks in hand-over order; one pass hands all three.
  start(s, 1, 3);
  ASSERT_EQ(0, s.wait());
  EXPECT_EQ((std::vector<std::string>{"of-alpha", "of-beta", "of-zeta"}), order.names);
  EXPECT_TRUE(log.contains("Enqueueing task, id: 3, name: of-alpha, owner: alpha, count: 1.",
                           LM_DEBUG));
  EXPECT_EQ((std::vector<Summary>{Summary{3, 3, 0, 0}}), summaries(log));
}

TEST(Task_Strategy_Scheduler, WithinOneOwnerTheSmallestIdRunsFirst) {
  test::Log_Capture log;
  Run_Order order;
  Scheduler s;
  for (const char* n : {"first", "second", "third"})
    ASSERT_TRUE(s.enqueue_task(make_task(n, "host", order.record())));
  start(s, 1, 1);
  ASSERT_EQ(0, s.wait());
  EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), order.names);
}

TEST(Task_Strategy_Scheduler, APassReleasesAtMostOneTaskPerOwner) {
  test::Log_Capture log;
  Scheduler s;
  for (const char* n : {"a1", "a2", "a3"}) ASSERT_TRUE(s.enqueue_task(make_task(n, "a")));
  for (const char* n : {"b1", "b2"}) ASSERT_TRUE(s.enqueue_task(make_task(n, "b")));
  // The pool has no thread: what the passes hand over stays in its queue, which the stop
  // predicate (asked at the start of every pass) reads. The third pass stops the run.
  std::vector<size_t> handed_over;  // written on the dispatcher thread, read after wait()
  s.register_stop_callback([&] {
    handed_over.push_back(s.worker().msg_queue()->message_count());
    return handed_over.size() == 3;
  });
  s.dispatch_interval(std::chrono::milliseconds(1));
  ASSERT_EQ(0, s.activate());
  ASSERT_EQ(0, s.wait());
  EXPECT_EQ((std::vector<size_t>{0, 2, 4}), handed_over);
  // The four tasks the stopped pool never ran are dropped and counted failed; a3 never
  // left its owner queue and stays pending.
  EXPECT_EQ(4u, log.count("Dropping task, id: "));
  EXPECT_EQ((std::vector<Summary>{Summary{5, 0, 4, 1}}), summaries(log));
  EXPECT_EQ(0, s.strategy().task_dequeued_count());
}

TEST(Task_Strategy_Scheduler_Slow, UnsignalledPassesComeEveryTwoToThreeSeconds) {
  test::Log_Capture log;
  Scheduler s;
  ASSERT_TRUE(s.enqueue_task(make_task("held", "a")));
  // The pool has no thread, so no completion wakes the dispatcher: only its own interval
  // does, counted from the current whole second.
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
    EXPECT_GE(passes[i] - passes[i - 1], std::chrono::milliseconds(1900)) << i;
    EXPECT_LE(passes[i] - passes[i - 1], std::chrono::milliseconds(3500)) << i;
  }
}

TEST(Task_Strategy_Scheduler, ARetryWaitsForItsIntervalAndIsPutBackWithNewIds) {
  test::Log_Capture log;
  std::atomic<time_t> now{1000};
  std::atomic<int> passes{0};
  Condition changed;
  std::vector<int> run_ids;  // written by the one pool thread, read after wait()
  Scheduler s;
  auto retry = std::make_unique<Retry_Limit_Queue_Strategy<Test_Task>>();
  retry->reset(3, 10);
  s.strategy().add_strategy(std::move(retry));
  s.strategy().clock([&now] { return now.load(); });
  s.dispatch_interval(std::chrono::milliseconds(2));
  s.register_stop_callback([&] {
    ++passes;
    changed.notify();
    return false;
  });
  std::atomic<int> runs{0};
  ASSERT_TRUE(s.enqueue_task(make_task("t", "", [&](Test_Task& t) {
    run_ids.push_back(t.id());
    ++runs;
    changed.notify();
    return runs == 1 ? Task_Base::CODE_FAILED_RETRY : Task_Base::CODE_SUCCESS;
  })));
  start(s, 1, 1);

  ASSERT_TRUE(changed.wait_until([&] { return runs == 1; }));
  const int seen = passes;
  ASSERT_TRUE(changed.wait_until([&] { return passes >= seen + 5; }));
  EXPECT_EQ(1, runs.load()) << "9 seconds and less since the last run: not started";
  now = 1010;
  ASSERT_TRUE(changed.wait_until([&] { return runs == 2; }));
  ASSERT_EQ(0, s.wait());

  ASSERT_EQ(2u, run_ids.size());
  EXPECT_EQ(1, run_ids[0]);
  EXPECT_GT(run_ids[1], 3) << "put back at several passes, each with a new id";
  EXPECT_TRUE(log.contains("Processing task, id: " + std::to_string(run_ids[1]) +
                               ", name t, count: 2.",
                           LM_DEBUG))
      << "a put-back is no acceptance: the count stays 2\n"
      << log.text();
  EXPECT_TRUE(log.contains("Task failed, id: 1, name: t, count: 1, enqueuing again.", LM_DEBUG));
  EXPECT_TRUE(log.contains("Enqueueing task, id: 2, name: t, owner: , count: 2.", LM_DEBUG));
  EXPECT_EQ((std::vector<Summary>{Summary{1, 1, 0, 0}}), summaries(log));
}

TEST(Task_Strategy_Scheduler, AHandOffThePoolRefusesIsDroppedAndTheRunStillEnds) {
  test::Log_Capture log;
  Scheduler s;
  ASSERT_TRUE(s.enqueue_task(make_task("x", "x")));
  ASSERT_TRUE(s.enqueue_task(make_task("y", "y")));
  s.strategy().reset_dequeue_limit(2);
  s.dispatch_interval(std::chrono::milliseconds(5));  // no completion will wake it
  s.worker().msg_queue()->deactivate();  // the pool takes nothing, not even its marker
  ASSERT_EQ(0, s.activate());
  ASSERT_EQ(0, s.wait());
  EXPECT_TRUE(log.contains("Failed to enqueue task to worker, id: 1, name: x, count: 1.",
                           LM_ERROR))
      << log.text();
  EXPECT_EQ((std::vector<Summary>{Summary{2, 0, 0, 2}}), summaries(log));
  EXPECT_EQ(0, s.strategy().task_dequeued_count());
}

TEST(Task_Strategy_Scheduler, AStopPredicateThatThrowsStopsTheRun) {
  test::Log_Capture log;
  std::atomic<int> runs{0};
  Scheduler s;
  s.register_stop_callback([]() -> bool { throw std::runtime_error("job record gone"); });
  for (const char* n : {"a", "b"})
    ASSERT_TRUE(s.enqueue_task(make_task(n, n, [&runs](Test_Task&) {
      ++runs;
      return Task_Base::CODE_SUCCESS;
    })));
  start(s, 1, 1);
  ASSERT_EQ(0, s.wait());
  EXPECT_EQ(0, runs.load());
  EXPECT_TRUE(log.contains("Stop predicate threw an exception, stopping: job record gone.",
                           LM_ERROR));
  EXPECT_EQ((std::vector<Summary>{Summary{2, 0, 0, 2}}), summaries(log));
}

TEST(Task_Strategy_Scheduler, ExitCallbackRunsOnceBeforeTheSummary) {
  test::Log_Capture log;
  std::atomic<int> calls{0};
  std::atomic<size_t> entries_at_call{0};
  Scheduler s;
  s.register_exit_callback([&] {
    ++calls;
    entries_at_call = summaries(log).size();
  });
  ASSERT_TRUE(s.enqueue_task(make_task("t")));
  start(s, 1, 1);
  ASSERT_EQ(0, s.wait());
  EXPECT_EQ(1, calls.load());
  EXPECT_EQ(0u, entries_at_call.load());
  EXPECT_EQ(1u, summaries(log).size());
}

}  // namespace
