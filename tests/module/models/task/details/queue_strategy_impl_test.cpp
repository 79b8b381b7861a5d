#include "models/task/details/queue_strategy_impl.h"

#include "module/models/task/task_test_util.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <queue>
#include <string>
#include <vector>

namespace {

using task_test::make_task;
using task_test::Test_Task;
using Strategy = Queue_Strategy_Impl<Test_Task>;
using task_ptr = std::shared_ptr<Test_Task>;

// A sub-strategy that answers as told and records every hook call by name.
class Recording_Strategy : public Queue_Strategy<Test_Task> {
 public:
  Recording_Strategy(std::string name, std::vector<std::string>& calls, bool answer)
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
    calls_.push_back(name_ + "." + hook);
    return answer_;
  }
  std::string name_;
  std::vector<std::string>& calls_;
  bool answer_;
};

TEST(Queue_Strategy_Impl, WithoutSubStrategiesOnlyItsTwoLimitsHold) {
  Strategy s;
  s.reset_enqueue_limit(2);
  s.reset_dequeue_limit(2);
  auto a = make_task("a"), b = make_task("b"), c = make_task("c");

  for (const auto& t : {a, b}) {
    ASSERT_TRUE(s.enqueue_able(t));
    s.notify_enqueued(t);
  }
  EXPECT_FALSE(s.enqueue_able(c)) << "two tasks wait: the enqueue limit is reached";

  // Handing a task out makes room in the queue; running tasks do not count against it.
  ASSERT_TRUE(s.dequeue_able(a));
  EXPECT_TRUE(s.call_able(a));
  s.notify_dequeued(a);
  ASSERT_TRUE(s.enqueue_able(c));
  s.notify_enqueued(c);
  EXPECT_EQ(2, s.task_enqueued_count());
  EXPECT_EQ(1, s.task_dequeued_count());

  s.notify_dequeued(b);
  EXPECT_FALSE(s.dequeue_able(c)) << "two tasks handed out: the dequeue limit is reached";
  s.notify_finished(a);
  EXPECT_TRUE(s.dequeue_able(c));
  EXPECT_EQ(1, s.task_enqueued_count());
  EXPECT_EQ(1, s.task_dequeued_count());
}

TEST(Queue_Strategy_Impl, NotificationsKeepTheTaskBookkeepingOnTheInjectedClock) {
  Strategy s;
  time_t now = 5000;
  s.clock([&now] { return now; });
  auto t = make_task("t");

  s.notify_enqueued(t);
  EXPECT_EQ(1u, t->enqueued_count());
  EXPECT_EQ(5000, t->last_enqueue_time());
  now = 5007;
  s.notify_dequeued(t);
  EXPECT_EQ(5007, t->last_dequeue_time());
  now = 5011;
  s.notify_finished(t);
  EXPECT_EQ(5011, t->last_finished_time());
  s.notify_enqueued(t);
  EXPECT_EQ(2u, t->enqueued_count()) << "each acceptance counts";
  s.notify_break(t);
  EXPECT_EQ(2u, t->enqueued_count()) << "a put-back is no acceptance";
  EXPECT_EQ(1, s.task_enqueued_count());
}

TEST(Queue_Strategy_Impl, AsksSubStrategiesInOrderAndStopsAtTheFirstNo) {
  std::vector<std::string> calls;
  Strategy s;
  ASSERT_TRUE(s.add_strategy(std::make_unique<Recording_Strategy>("yes", calls, true)));
  ASSERT_TRUE(s.add_strategy(std::make_unique<Recording_Strategy>("no", calls, false)));
  ASSERT_TRUE(s.add_strategy(std::make_unique<Recording_Strategy>("late", calls, true)));
  auto t = make_task("t");

  EXPECT_FALSE(s.enqueue_able(t));
  EXPECT_FALSE(s.dequeue_able(t));
  EXPECT_FALSE(s.call_able(t));
  EXPECT_EQ((std::vector<std::string>{"yes.enqueue_able", "no.enqueue_able", "yes.dequeue_able",
                                      "no.dequeue_able", "yes.call_able", "no.call_able"}),
            calls);

  calls.clear();
  s.notify_enqueued(t);
  s.notify_dequeued(t);
  s.notify_finished(t);
  s.notify_break(t);
  EXPECT_EQ((std::vector<std::string>{"yes.enqueued", "no.enqueued", "late.enqueued",
                                      "yes.dequeued", "no.dequeued", "late.dequeued",
                                      "yes.finished", "no.finished", "late.finished",
                                      "yes.break", "no.break", "late.break"}),
            calls);
}

TEST(Queue_Strategy_Impl, OnlyTheCompositeLimitsAreInForce) {
  std::vector<std::string> calls;
  auto sub = std::make_unique<Recording_Strategy>("sub", calls, true);
  sub->reset_enqueue_limit(0);
  sub->reset_dequeue_limit(0);
  Strategy s;
  ASSERT_TRUE(s.add_strategy(std::move(sub)));
  auto t = make_task("t");
  EXPECT_TRUE(s.enqueue_able(t));
  EXPECT_TRUE(s.dequeue_able(t));

  s.reset_enqueue_limit(0);
  calls.clear();
  EXPECT_FALSE(s.enqueue_able(t));
  EXPECT_TRUE(calls.empty()) << "no hook is asked once the limit is reached";
}

TEST(Queue_Strategy_Impl, AddStrategyRefusesNull) {
  test::Log_Capture log;
  Strategy s;
  EXPECT_FALSE(s.add_strategy(nullptr));
  EXPECT_TRUE(log.contains("strategy is NULL:", LM_EMERGENCY)) << log.text();
  EXPECT_TRUE(s.enqueue_able(make_task("t"))) << "nothing was added";
}

}  // namespace
