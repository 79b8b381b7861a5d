// Sub-strategy that caps how many tasks of one owner (a host, a node) are handed to
// workers and unfinished at once, so that one owner cannot take every worker. Added to
// the composite by Thread_Task_Scheduler::enable_owner_limit.
#ifndef MODELS_TASK_DETAILS_OWNER_LIMIT_QUEUE_STRATEGY_H
#define MODELS_TASK_DETAILS_OWNER_LIMIT_QUEUE_STRATEGY_H

#include "models/task/details/queue_strategy.h"

#include <map>
#include <string>

template <class T>
class Owner_Limit_Queue_Strategy : virtual public Queue_Strategy<T> {
 public:
  using task_ptr = typename Queue_Strategy<T>::task_ptr;

  enum { DEFAULT_TASK_LIMIT_PER_OWNER = 3 };

  // Sets the most tasks per owner handed out and unfinished at once.
  void reset(unsigned int limit_per_owner) { limit_per_owner_ = limit_per_owner; }

 protected:
  bool enqueue_able_i(const task_ptr&) override { return true; }

  // The running count is never negative, so it is compared as unsigned: a limit beyond
  // INT_MAX can never turn into a negative bound that blocks every task.
  bool dequeue_able_i(const task_ptr& task) override {
    return static_cast<unsigned int>(running_tasks_[task->owner()]) < limit_per_owner_;
  }

  void notify_enqueued_i(const task_ptr&) override {}
  void notify_dequeued_i(const task_ptr& task) override { ++running_tasks_[task->owner()]; }
  void notify_finished_i(const task_ptr& task) override { --running_tasks_[task->owner()]; }

 private:
  unsigned int limit_per_owner_ = DEFAULT_TASK_LIMIT_PER_OWNER;
  // Owner to its tasks handed out and unfinished; an owner is entered on first lookup.
  std::map<std::string, int> running_tasks_;
};

#endif  // MODELS_TASK_DETAILS_OWNER_LIMIT_QUEUE_STRATEGY_H
