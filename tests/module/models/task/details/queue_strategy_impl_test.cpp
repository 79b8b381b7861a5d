// The composite queue strategy: how it asks its sub-strategies.
#include "models/task/details/queue_strategy_impl.h"

#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

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

}  // namespace
