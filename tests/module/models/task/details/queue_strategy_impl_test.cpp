// The composite queue strategy and the owner limit, the sub-strategy it is asked through.
#include "models/task/details/queue_strategy_impl.h"
#include "models/task/details/owner_limit_queue_strategy.h"

#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

using task_test::make_task;
using task_test::Test_Task;
using Strategy = Queue_Strategy_Impl<Test_Task>;
using task_ptr = std::shared_ptr<Test_Task>;

// A sub-strategy that answers as told and records every hook call as "name.hook ".
class Recording_Strategy : public Queue_Strategy<Test_Task> {
 public:
  Recording_Strategy(std::string name, std::string& calls, bool answer)
      : name_(std::move(name)), calls_(calls), answer_(answer) {}

 protected:
  bool enqueue_able_i(const task_ptr&) override { return record("enqueue_able"); }
  bool dequeue_able_i(const task_ptr&) override { return record("dequeue_able"); }
  bool call_able_i(const task_ptr&) override { return record("call_able"); }
  void notify_break_i(const task_ptr&) override { record("break"); }
  void notify_enqueued_i(const task_ptr&) override { record("enqueued"); }
  void notify_dequeued_i(const task_ptr&) override { record("dequeued"); }
  void notify_finished_i(const task_ptr&) override { record("finished"); }

 private:
  bool record(const char* hook) {
    calls_ += name_ + "." + hook + " ";
    return answer_;
  }
  std::string name_;
  std::string& calls_;
  bool answer_;
};

// Only the composite's two limits hold: waiting tasks count against the enqueue limit,
// handed-out ones against the dequeue limit until they finish.
TEST(Queue_Strategy_Impl, EnqueueAndDequeueLimits) {
  Strategy s;
  s.reset_enqueue_limit(2);
  s.reset_dequeue_limit(2);
  auto a = make_task("a"), b = make_task("b"), c = make_task("c");
  s.notify_enqueued(a);
  s.notify_enqueued(b);
  EXPECT_FALSE(s.enqueue_able(c));
  s.notify_dequeued(a);
  ASSERT_TRUE(s.enqueue_able(c));
  s.notify_enqueued(c);
  s.notify_dequeued(b);
  EXPECT_FALSE(s.dequeue_able(c));
  s.notify_finished(a);
  EXPECT_TRUE(s.dequeue_able(c));
}

TEST(Queue_Strategy_Impl, AsksSubStrategiesInOrderAndStopsAtTheFirstNo) {
  std::string calls;
  Strategy s;
  test::Log_Capture log;
  EXPECT_FALSE(s.add_strategy(nullptr));
  EXPECT_TRUE(log.contains("strategy is NULL:", LM_EMERGENCY));
  auto yes = std::make_unique<Recording_Strategy>("yes", calls, true);
  yes->reset_enqueue_limit(0);  // a sub-strategy's own limits are not in force
  ASSERT_TRUE(s.add_strategy(std::move(yes)));
  ASSERT_TRUE(s.add_strategy(std::make_unique<Recording_Strategy>("no", calls, false)));
  ASSERT_TRUE(s.add_strategy(std::make_unique<Recording_Strategy>("late", calls, true)));
  auto t = make_task("t");
  EXPECT_FALSE(s.enqueue_able(t) || s.dequeue_able(t) || s.call_able(t));
  s.notify_enqueued(t);
  s.notify_dequeued(t);
  s.notify_finished(t);
  s.notify_break(t);
  EXPECT_EQ("yes.enqueue_able no.enqueue_able yes.dequeue_able no.dequeue_able yes.call_able "
            "no.call_able yes.enqueued no.enqueued late.enqueued yes.dequeued no.dequeued "
            "late.dequeued yes.finished no.finished late.finished yes.break no.break late.break ",
            calls);
  s.reset_enqueue_limit(0);
  calls.clear();
  EXPECT_FALSE(s.enqueue_able(t));
  EXPECT_EQ("", calls) << "no hook is asked once the limit is reached";
}

// An owner at its limit holds back only itself; huge limits never block.
TEST(Owner_Limit_Queue_Strategy, AnOwnerAtItsLimitHoldsBackOnlyItself) {
  for (unsigned limit : {1u, 2u, 5u, unsigned(INT_MAX), 2147483648u, UINT_MAX}) {
    SCOPED_TRACE(limit);
    auto owner_limit = std::make_unique<Owner_Limit_Queue_Strategy<Test_Task>>();
    owner_limit->reset(limit);
    Strategy s;
    s.add_strategy(std::move(owner_limit));
    std::shared_ptr<Test_Task> last;
    for (unsigned i = 0; i < std::min(limit, 5u); ++i) {
      ASSERT_TRUE(s.dequeue_able(make_task("next", "host-a")));
      last = make_task("t", "host-a");
      s.notify_enqueued(last);
      s.notify_dequeued(last);
    }
    EXPECT_EQ(limit > 5, s.dequeue_able(make_task("next", "host-a")));
    // Other owners, and no owner, are not held back; waiting is not limited.
    EXPECT_TRUE(s.dequeue_able(make_task("next", "host-b")) && s.dequeue_able(make_task("next")));
    EXPECT_TRUE(s.enqueue_able(make_task("next", "host-a")));
    s.notify_finished(last);
    EXPECT_TRUE(s.dequeue_able(make_task("next", "host-a")));
  }
}

}  // namespace
