#include "models/task/details/owner_limit_queue_strategy.h"

#include "models/task/details/queue_strategy_impl.h"
#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

using task_test::make_task;
using task_test::Test_Task;
using Strategy = Queue_Strategy_Impl<Test_Task>;
using task_ptr = std::shared_ptr<Test_Task>;

std::unique_ptr<Strategy> with_owner_limit(unsigned int limit) {
  auto owner_limit = std::make_unique<Owner_Limit_Queue_Strategy<Test_Task>>();
  owner_limit->reset(limit);
  auto s = std::make_unique<Strategy>();
  s->add_strategy(std::move(owner_limit));
  return s;
}

// Hands out one task of `owner` after accepting it.
task_ptr hand_out(Strategy& s, const std::string& owner) {
  auto t = make_task("t", owner);
  s.notify_enqueued(t);
  s.notify_dequeued(t);
  return t;
}

TEST(Owner_Limit_Queue_Strategy, AnOwnerAtItsLimitHoldsBackOnlyItself) {
  for (unsigned int limit : {1u, 2u, 5u}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    auto s = with_owner_limit(limit);
    std::vector<task_ptr> running;
    for (unsigned int i = 0; i < limit; ++i) {
      ASSERT_TRUE(s->dequeue_able(make_task("next", "host-a")));
      running.push_back(hand_out(*s, "host-a"));
    }
    EXPECT_FALSE(s->dequeue_able(make_task("next", "host-a")));
    EXPECT_TRUE(s->dequeue_able(make_task("next", "host-b")));
    EXPECT_TRUE(s->dequeue_able(make_task("next", ""))) << "no owner is an owner of its own";
    EXPECT_TRUE(s->enqueue_able(make_task("next", "host-a"))) << "waiting is not limited";

    s->notify_finished(running.back());
    EXPECT_TRUE(s->dequeue_able(make_task("next", "host-a")));
  }
}

TEST(Owner_Limit_Queue_Strategy, HugeLimitsNeverBlock) {
  for (unsigned int limit : {static_cast<unsigned int>(INT_MAX), 2147483648u, UINT_MAX}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    auto s = with_owner_limit(limit);
    EXPECT_TRUE(s->dequeue_able(make_task("t", "host-a")));
    hand_out(*s, "host-a");
    EXPECT_TRUE(s->dequeue_able(make_task("t", "host-a")));
  }
}

}  // namespace
