// Sub-strategy that caps how often a task is accepted into the queue (its first enqueue
// plus its retries) and keeps a retried task from starting before an interval has passed
// since its previous run ended. Added by Thread_Task_Scheduler::enable_retry.
#ifndef MODELS_TASK_DETAILS_RETRY_LIMIT_QUEUE_STRATEGY_H
#define MODELS_TASK_DETAILS_RETRY_LIMIT_QUEUE_STRATEGY_H

#include "models/task/details/queue_strategy.h"

#include <cstdint>

template <class T>
class Retry_Limit_Queue_Strategy : virtual public Queue_Strategy<T> {
 public:
  using task_ptr = typename Queue_Strategy<T>::task_ptr;

  enum { DEFAULT_TASK_RETRY_LIMIT = 3 };

  // Sets how many re-enqueues a task gets and the seconds between two of its runs.
  void reset(unsigned int retry_limit, unsigned int retry_interval) {
    retry_limit_ = retry_limit;
    retry_interval_ = retry_interval;
  }

 protected:
  // The count rises only after acceptance: the first enqueue sees 0, the n-th retry n,
  // so a task runs at most retry_limit_ + 1 times.
  bool enqueue_able_i(const task_ptr& task) override {
    return task->enqueued_count() <= retry_limit_;
  }

  bool dequeue_able_i(const task_ptr&) override { return true; }

  // A task that never ran may start at once.
  bool call_able_i(const task_ptr& task) override {
    const time_t finished = task->last_finished_time();
    if (finished == 0) return true;
    return static_cast<int64_t>(this->now()) - static_cast<int64_t>(finished) >=
           static_cast<int64_t>(retry_interval_);
  }

  void notify_enqueued_i(const task_ptr&) override {}
  void notify_dequeued_i(const task_ptr&) override {}
  void notify_finished_i(const task_ptr&) override {}

 private:
  unsigned int retry_limit_ = DEFAULT_TASK_RETRY_LIMIT;
  unsigned int retry_interval_ = 0;
};

#endif  // MODELS_TASK_DETAILS_RETRY_LIMIT_QUEUE_STRATEGY_H
