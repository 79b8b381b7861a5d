#include "models/task/details/retry_limit_queue_strategy.h"

#include "models/task/details/queue_strategy_impl.h"
#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace {

using task_test::make_task;
using task_test::Test_Task;
using Strategy = Queue_Strategy_Impl<Test_Task>;

std::unique_ptr<Strategy> with_retry(unsigned int limit, unsigned int interval) {
  auto retry = std::make_unique<Retry_Limit_Queue_Strategy<Test_Task>>();
  retry->reset(limit, interval);
  auto s = std::make_unique<Strategy>();
  s->add_strategy(std::move(retry));
  return s;
}

TEST(Retry_Limit_Queue_Strategy, AcceptsTheFirstEnqueueAndLimitRetries) {
  struct Case {
    unsigned int limit;
    unsigned int accepted;  // first enqueue plus retries
  };
  for (const Case& c : {Case{0, 1}, Case{1, 2}, Case{3, 4}}) {
    SCOPED_TRACE("limit " + std::to_string(c.limit));
    auto s = with_retry(c.limit, 0);
    auto t = make_task("t");
    unsigned int accepted = 0;
    // Each pass: the task is offered, runs and asks to be run again.
    while (s->enqueue_able(t)) {
      ASSERT_LE(++accepted, c.accepted);
      s->notify_enqueued(t);
      ASSERT_TRUE(s->dequeue_able(t));
      ASSERT_TRUE(s->call_able(t));
      s->notify_dequeued(t);
      s->notify_finished(t);
    }
    EXPECT_EQ(c.accepted, accepted);
    EXPECT_EQ(c.accepted, t->enqueued_count());
  }
}

TEST(Retry_Limit_Queue_Strategy, IntervalCountsFromTheEndOfThePreviousRun) {
  auto s = with_retry(3, 10);
  std::atomic<time_t> now{1000};
  s->clock([&now] { return now.load(); });
  auto t = make_task("t");

  EXPECT_TRUE(s->call_able(t)) << "a task that never ran starts at once";
  EXPECT_EQ(0, t->last_finished_time());
  s->notify_enqueued(t);
  s->notify_dequeued(t);
  s->notify_finished(t);
  ASSERT_EQ(1000, t->last_finished_time());

  struct Case {
    time_t now;
    bool callable;
  };
  for (const Case& c : {Case{1000, false}, Case{1009, false}, Case{1010, true},
                        Case{5000, true}, Case{999, false}}) {
    now = c.now;
    EXPECT_EQ(c.callable, s->call_able(t)) << "at " << c.now;
  }
}

TEST(Retry_Limit_Queue_Strategy, ZeroIntervalLetsARetryStartAtOnce) {
  auto s = with_retry(3, 0);
  s->clock([] { return time_t{42}; });
  auto t = make_task("t");
  s->notify_enqueued(t);
  s->notify_dequeued(t);
  s->notify_finished(t);
  EXPECT_TRUE(s->call_able(t));
}

}  // namespace
