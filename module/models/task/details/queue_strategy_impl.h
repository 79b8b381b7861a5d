// The composite queue strategy the strategy scheduler talks to: it keeps the counts and
// limits of the whole queue and agrees to a step only when every added sub-strategy (owner
// limit, retry limit) agrees. Also defines the order of the owner queues.
#ifndef MODELS_TASK_DETAILS_QUEUE_STRATEGY_IMPL_H
#define MODELS_TASK_DETAILS_QUEUE_STRATEGY_IMPL_H

#include "models/task/details/queue_strategy.h"
#include "yolt/check.h"

#include <memory>
#include <utility>
#include <vector>

template <class T>
class Queue_Strategy_Impl : public Queue_Strategy<T> {
 public:
  using task_ptr = typename Queue_Strategy<T>::task_ptr;
  using Clock = typename Queue_Strategy<T>::Clock;
  using Queue_Strategy_Ptr = std::unique_ptr<Queue_Strategy<T>>;

  // Orders an owner queue so that the task with the smallest id is on top.
  struct Less {
    bool operator()(const task_ptr& x, const task_ptr& y) const { return x->id() > y->id(); }
  };

  // Takes ownership of a sub-strategy, asked after those added before; false for null.
  // Sub-strategies are added before the run (not locked). Only their hooks are used: the
  // composite's counts, limits and lock are the ones in force.
  bool add_strategy(Queue_Strategy_Ptr strategy) {
    YOLT_CHECK_NULL(strategy, false);
    strategy->clock(clock_);
    strategies_.push_back(std::move(strategy));
    return true;
  }

  // The composite and every sub-strategy read the same time source.
  void clock(Clock clock) override {
    clock_ = clock;
    for (auto& s : strategies_) s->clock(clock);
    Queue_Strategy<T>::clock(std::move(clock));
  }

 protected:
  bool enqueue_able_i(const task_ptr& task) override {
    for (auto& s : strategies_)
      if (!s->enqueue_able_i(task)) return false;
    return true;
  }

  bool dequeue_able_i(const task_ptr& task) override {
    for (auto& s : strategies_)
      if (!s->dequeue_able_i(task)) return false;
    return true;
  }

  bool call_able_i(const task_ptr& task) override {
    for (auto& s : strategies_)
      if (!s->call_able_i(task)) return false;
    return true;
  }

  void notify_break_i(const task_ptr& task) override {
    for (auto& s : strategies_) s->notify_break_i(task);
  }

  void notify_enqueued_i(const task_ptr& task) override {
    for (auto& s : strategies_) s->notify_enqueued_i(task);
  }

  void notify_dequeued_i(const task_ptr& task) override {
    for (auto& s : strategies_) s->notify_dequeued_i(task);
  }

  void notify_finished_i(const task_ptr& task) override {
    for (auto& s : strategies_) s->notify_finished_i(task);
  }

 private:
  std::vector<Queue_Strategy_Ptr> strategies_;
  Clock clock_;
};

#endif  // MODELS_TASK_DETAILS_QUEUE_STRATEGY_IMPL_H
