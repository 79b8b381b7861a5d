// Queue strategies: the rules by which the strategy scheduler lets a task into its
// queue, out of its owner queue and onto a worker, and the counts those rules need. The
// scheduler asks one composite (Queue_Strategy_Impl), which keeps the counts and limits
// of the whole queue and consults its sub-strategies through the protected hooks.
#ifndef MODELS_TASK_DETAILS_QUEUE_STRATEGY_H
#define MODELS_TASK_DETAILS_QUEUE_STRATEGY_H

#include <ace/Guard_T.h>
#include <ace/Thread_Mutex.h>

#include <ctime>
#include <functional>
#include <memory>
#include <utility>

class Queue_Strategy_Base {
 public:
  enum {
    DEFAULT_TASK_ENQUEUED_LIMIT = 1024,
    DEFAULT_TASK_DEQUEUED_LIMIT = 1024,
  };
};

template <class T>
class Queue_Strategy_Impl;

template <class T>
class Queue_Strategy : public Queue_Strategy_Base {
 public:
  using task_ptr = std::shared_ptr<T>;
  // Seconds since the epoch; the POSIX clock unless a test injects another.
  using Clock = std::function<time_t()>;

  Queue_Strategy() = default;
  Queue_Strategy(const Queue_Strategy&) = delete;
  Queue_Strategy& operator=(const Queue_Strategy&) = delete;
  virtual ~Queue_Strategy() = default;

  // The questions and notifications below hold mutex_ for their whole run, hook
  // included; when the lock cannot be taken a question answers false, a count reads 0
  // and a notification does nothing.

  // True when fewer tasks wait than the enqueue limit allows and the hook agrees.
  bool enqueue_able(const task_ptr& task) {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
    return task_enqueued_ < task_enqueued_limit_ && enqueue_able_i(task);
  }

  // True when fewer tasks are handed out than the dequeue limit allows and the hook agrees.
  bool dequeue_able(const task_ptr& task) {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
    return task_dequeued_ < task_dequeued_limit_ && dequeue_able_i(task);
  }

  // True when a task that left its owner queue may start now.
  bool call_able(const task_ptr& task) {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
    return call_able_i(task);
  }

  // A task that left its owner queue but may not start yet goes back; no count changes.
  void notify_break(const task_ptr& task) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    notify_break_i(task);
  }

  // The task was accepted into the queue: it counts as waiting.
  void notify_enqueued(const task_ptr& task) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    task->enqueued_count(task->enqueued_count() + 1);
    task->last_enqueue_time(now());
    ++task_enqueued_;
    notify_enqueued_i(task);
  }

  // The task was handed to a worker: it moves from waiting to handed out.
  void notify_dequeued(const task_ptr& task) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    task->last_dequeue_time(now());
    ++task_dequeued_;
    --task_enqueued_;
    notify_dequeued_i(task);
  }

  // The task's run ended (or it was dropped after being handed out).
  void notify_finished(const task_ptr& task) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    task->last_finished_time(now());
    --task_dequeued_;
    notify_finished_i(task);
  }

  // Tasks accepted and waiting in the owner queues.
  int task_enqueued_count() {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, 0);
    return task_enqueued_;
  }

  // Tasks handed to workers whose run has not been reported finished.
  int task_dequeued_count() {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, 0);
    return task_dequeued_;
  }

  // Limits; set before the run, not locked.
  void reset_enqueue_limit(int task_enqueue_limit) { task_enqueued_limit_ = task_enqueue_limit; }
  void reset_dequeue_limit(int task_dequeue_limit) { task_dequeued_limit_ = task_dequeue_limit; }

 protected:
  friend class Queue_Strategy_Impl<T>;

  virtual bool enqueue_able_i(const task_ptr& task) = 0;
  virtual bool dequeue_able_i(const task_ptr& task) = 0;
  virtual bool call_able_i(const task_ptr&) { return true; }
  virtual void notify_break_i(const task_ptr&) {}
  virtual void notify_enqueued_i(const task_ptr& task) = 0;
  virtual void notify_dequeued_i(const task_ptr& task) = 0;
  virtual void notify_finished_i(const task_ptr& task) = 0;

 public:
  // Replaces the time source (tests); set before the run, not locked. Declared after the
  // hooks so that the hooks keep their places in the virtual table.
  virtual void clock(Clock clock) { clock_ = std::move(clock); }

 protected:
  time_t now() const { return clock_ ? clock_() : ::time(nullptr); }

 private:
  int task_enqueued_ = 0;
  int task_enqueued_limit_ = DEFAULT_TASK_ENQUEUED_LIMIT;
  int task_dequeued_ = 0;
  int task_dequeued_limit_ = DEFAULT_TASK_DEQUEUED_LIMIT;
  ACE_Thread_Mutex mutex_;
  Clock clock_;
};

#endif  // MODELS_TASK_DETAILS_QUEUE_STRATEGY_H
