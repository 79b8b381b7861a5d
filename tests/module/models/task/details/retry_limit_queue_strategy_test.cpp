#include "models/task/details/retry_limit_queue_strategy.h"

#include "models/task/details/queue_strategy_impl.h"
#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using task_test::make_task;
using Strategy = Queue_Strategy_Impl<task_test::Test_Task>;

std::unique_ptr<Strategy> with_retry(unsigned limit, unsigned interval) {
  auto retry = std::make_unique<Retry_Limit_Queue_Strategy<task_test::Test_Task>>();
  retry->reset(limit, interval);
  auto s = std::make_unique<Strategy>();
  s->add_strategy(std::move(retry));
  return s;
}

// Each pass the task is offered, runs and asks again: the first enqueue plus `limit`.
TEST(Retry_Limit_Queue_Strategy, AcceptsTheFirstEnqueueAndLimitRetries) {
  for (unsigned limit : {0u, 1u, 3u}) {
    auto s = with_retry(limit, 0);
    auto t = make_task("t");
    unsigned accepted = 0;
    for (; s->enqueue_able(t) && accepted <= limit; ++accepted) {
      s->notify_enqueued(t);
      ASSERT_TRUE(s->dequeue_able(t) && s->call_able(t));
      s->notify_dequeued(t);
      s->notify_finished(t);
    }
    EXPECT_EQ(limit + 1, accepted) << limit;
    EXPECT_EQ(limit + 1, t->enqueued_count()) << limit;
  }
}

TEST(Retry_Limit_Queue_Strategy, IntervalCountsFromTheEndOfThePreviousRun) {
  using Row = std::pair<time_t, bool>;  // now, callable
  const std::pair<unsigned, std::vector<Row>> cases[] = {
      {0, {{1000, true}}}, {10, {{1000, false}, {1009, false}, {1010, true}, {5000, true}, {999, false}}}};
  for (const auto& c : cases) {
    auto s = with_retry(3, c.first);
    std::atomic<time_t> now{1000};
    s->clock([&now] { return now.load(); });
    auto t = make_task("t");
    EXPECT_TRUE(s->call_able(t)) << "a task that never ran starts at once";
    s->notify_enqueued(t);
    s->notify_dequeued(t);
    s->notify_finished(t);
    EXPECT_EQ(1000, t->last_finished_time());
    for (const Row& r : c.second) {
      now = r.first;
      EXPECT_EQ(r.second, s->call_able(t)) << c.first << " at " << r.first;
    }
  }
}

}  // namespace
