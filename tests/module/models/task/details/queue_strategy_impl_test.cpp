// The composite queue strategy. How it asks and tells its sub-strategies is driven by the
// scheduler's stress test (owner and retry limits together, more tasks than a
// sub-strategy's own default limits would let in).
#include "models/task/details/queue_strategy_impl.h"

#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

namespace {

TEST(Queue_Strategy_Impl, RefusesANullSubStrategy) {
  test::Log_Capture log;
  Queue_Strategy_Impl<task_test::Test_Task> s;
  EXPECT_FALSE(s.add_strategy(nullptr));
  EXPECT_TRUE(log.contains("strategy is NULL:", LM_EMERGENCY));
}

}  // namespace
