#include "models/task/details/owner_limit_queue_strategy.h"

#include "models/task/details/queue_strategy_impl.h"
#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using task_test::make_task;
using Strategy = Queue_Strategy_Impl<task_test::Test_Task>;

// An owner at its limit holds back only itself; huge limits never block.
TEST(Owner_Limit_Queue_Strategy, AnOwnerAtItsLimitHoldsBackOnlyItself) {
  for (unsigned limit : {1u, 2u, 5u, unsigned(INT_MAX), 2147483648u, UINT_MAX}) {
    SCOPED_TRACE(limit);
    auto owner_limit = std::make_unique<Owner_Limit_Queue_Strategy<task_test::Test_Task>>();
    owner_limit->reset(limit);
    Strategy s;
    s.add_strategy(std::move(owner_limit));
    std::shared_ptr<task_test::Test_Task> last;
    for (unsigned i = 0; i < std::min(limit, 5u); ++i) {
      ASSERT_TRUE(s.dequeue_able(make_task("next", "host-a")));
      last = make_task("t", "host-a");
      s.notify_enqueued(last);
      s.notify_dequeued(last);
    }
    EXPECT_EQ(limit > 5, s.dequeue_able(make_task("next", "host-a")));
    // Other owners, and no owner, are not held back; waiting is not limited.
    EXPECT_TRUE(s.dequeue_able(make_task("next", "host-b")) && s.dequeue_able(make_task("next", "")) && s.enqueue_able(make_task("next", "host-a")));
    s.notify_finished(last);
    EXPECT_TRUE(s.dequeue_able(make_task("next", "host-a")));
  }
}

}  // namespace
