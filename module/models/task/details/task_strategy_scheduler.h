// The engine of the task scheduling framework: keeps the waiting tasks in one queue per
// owner, runs one dispatcher thread that releases tasks to the worker pool as the queue
// strategy allows, completes each run on its worker thread (counting it, or queueing it
// again when it asks for a retry) and ends the run with a summary line. Assembled and
// driven by Thread_Task_Scheduler.
#ifndef MODELS_TASK_DETAILS_TASK_STRATEGY_SCHEDULER_H
#define MODELS_TASK_DETAILS_TASK_STRATEGY_SCHEDULER_H

#include "models/task/task_base.h"

#include <ace/Condition_Thread_Mutex.h>
#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/Task_T.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Policy.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

// activate() with the pool's own arguments deliberately hides ACE's: callers must not
// start threads past the pool's bookkeeping.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Woverloaded-virtual"
template <class T, class W, class S>
class Task_Strategy_Scheduler : public ACE_Task<ACE_MT_SYNCH, ACE_System_Time_Policy> {
 public:
  using task_ptr = std::shared_ptr<T>;
  using queue_type =
      std::map<std::string, std::priority_queue<task_ptr, std::vector<task_ptr>, typename S::Less>>;

  enum {
    SLEEP_INTERVAL = 3,  // seconds: the longest wait between two dispatch passes
    THREAD_NUM = 1,      // dispatcher threads
  };

  Task_Strategy_Scheduler() : avail_cond_(mutex_) {
    worker_.register_callback([this](task_ptr& task) { complete_callback(task); });
  }

  // A running dispatcher is stopped at its next pass and joined first (it lets the tasks
  // already handed out finish), then the pool is ended, so no thread calls back into a
  // member that is being destroyed.
  ~Task_Strategy_Scheduler() override {
    cancel();
    this->wait();
    worker_.shutdown();
  }

  Task_Strategy_Scheduler(const Task_Strategy_Scheduler&) = delete;
  Task_Strategy_Scheduler& operator=(const Task_Strategy_Scheduler&) = delete;

  // Sets the predicate polled once per dispatch pass; its first true answer ends the run.
  void register_stop_callback(std::function<bool()> stop_callback) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    stop_callback_ = std::move(stop_callback);
  }

  // Sets the hook called once at the end of the run, before the summary line, with the
  // scheduler lock held (it must not call back into the scheduler).
  void register_exit_callback(std::function<void()> exit_callback) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    exit_callback_ = std::move(exit_callback);
  }

  // The strategy, for configuration before the run.
  S& strategy() { return strategy_; }
  // The worker pool, for its activation.
  W& worker() { return worker_; }

  // Test hook: the longest wait between two dispatch passes (SLEEP_INTERVAL seconds
  // unless changed). Set before activate.
  void dispatch_interval(std::chrono::milliseconds interval) { dispatch_interval_ = interval; }

  // Starts the dispatcher thread; negative on failure.
  int activate() {
    return ACE_Task_Base::activate(THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED, THREAD_NUM);
  }

  // Accepts a task into its owner's queue. False when the run has stopped or ended, when
  // the strategy refuses it (logged), or when the lock cannot be taken.
  bool enqueue_task(const task_ptr& task) {
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, false);
    if (!enqueue_task_i(task, false)) return false;
    ++enqueued_count_;
    return true;
  }

  // Pushes a task into its owner's queue with a new id; the caller holds mutex_. A silent
  // push puts back a task the dispatcher took out but may not start yet: it asks no
  // question and cannot fail. Otherwise the task must be accepted by the strategy and
  // the run must not have stopped.
  bool enqueue_task_i(const task_ptr& task, bool silence) {
    if (!silence && stopped_) return false;
    task->id(static_cast<int>(++id_));
    if (silence) {
      queue_[task->owner()].push(task);
      return true;
    }
    task->error(Task_Base::CODE_SUCCESS);
    if (!strategy_.enqueue_able(task)) {
      ACE_ERROR((LM_ERROR, "Failed to enqueue task, id: %d, name: %s, count: %d.\n", task->id(),
                 task->name().c_str(), static_cast<int>(task->enqueued_count())));
      return false;
    }
    strategy_.notify_enqueued(task);
    ACE_DEBUG((LM_DEBUG, "Enqueueing task, id: %d, name: %s, owner: %s, count: %d.\n",
               task->id(), task->name().c_str(), task->owner().c_str(),
               static_cast<int>(task->enqueued_count())));
    queue_[task->owner()].push(task);
    return true;
  }

  // True once the run has stopped; asks the predicate otherwise and keeps its answer.
  // The caller holds mutex_.
  bool stopped() {
    if (stopped_) return true;
    if (!stop_callback_) return false;
    stopped_ = ask_stop_callback();
    return stopped_;
  }

  // The end of one run, on the worker thread that ran it (its result is in the task).
  void complete_callback(task_ptr& task) {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    strategy_.notify_finished(task);
    switch (task->error()) {
      case Task_Base::CODE_SUCCESS:
        ++succeeded_count_;
        log_task(task, "Task succeeded, id: %d, name: %s, count: %d.\n");
        break;
      case Task_Base::CODE_FAILED:
        ++failed_count_;
        log_task(task, "Task failed, id: %d, name: %s, count: %d.\n");
        break;
      case Task_Base::CODE_FAILED_RETRY:
        log_task(task, "Task failed, id: %d, name: %s, count: %d, enqueuing again.\n");
        if (!enqueue_task_i(task, false)) {
          task->error(Task_Base::CODE_FAILED);
          ++failed_count_;
        }
        break;
      default:  // outside the contract: neither counted nor run again
        break;
    }
    avail_cond_.signal();
  }

  // The dispatcher thread: the dispatch loop, then the end of the run.
  int svc() override {
    svc_i();
    // The pool runs what it was handed; those completions take mutex_, not held here.
    worker_.stop();
    ACE_GUARD_RETURN(ACE_Thread_Mutex, guard, mutex_, 0);
    while (strategy_.task_dequeued_count() > 0) {
      ACE_Time_Value deadline(ACE_OS::gettimeofday().sec() + SLEEP_INTERVAL);
      avail_cond_.wait(&deadline);
    }
    if (exit_callback_) exit_callback_();
    const unsigned int enqueued = enqueued_count_;
    const unsigned int succeeded = succeeded_count_;
    const unsigned int failed = failed_count_;
    ACE_DEBUG((LM_DEBUG, "Enqueued: %u, succeeded: %u, failed: %u, pending: %u.\n", enqueued,
               succeeded, failed, enqueued - succeeded - failed));
    stopped_ = true;
    return 0;
  }

  // The dispatch loop: one pass per completion and at least one per dispatch interval,
  // until the run is stopped or nothing waits and nothing runs.
  int svc_i() {
    ACE_Guard<ACE_Thread_Mutex> guard(mutex_);
    if (!guard.locked()) {
      stopped_ = true;
      return 0;
    }
    while (!stopped() && has_work()) {
      if (strategy_.task_enqueued_count() > 0) dispatch_pass();
      ACE_Time_Value deadline = next_pass_deadline();
      avail_cond_.wait(&deadline);
    }
    // Set under the lock on every exit, so that no task is accepted that nobody would run.
    stopped_ = true;
    return 0;
  }

 private:
  // A predicate that throws cannot say the run may go on: the run stops. The exception
  // must not leave the dispatcher thread.
  bool ask_stop_callback() {
    try {
      return stop_callback_();
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Stop predicate threw an exception, stopping: %s.\n", e.what()));
    } catch (...) {
      ACE_ERROR((LM_ERROR, "Stop predicate threw an exception, stopping.\n"));
    }
    return true;
  }

  bool has_work() {
    return strategy_.task_enqueued_count() >= 1 || strategy_.task_dequeued_count() >= 1;
  }

  // Looks at the first task of every owner, in ascending order of the owner text, and
  // releases it when the strategy allows: at most one task per owner per pass.
  void dispatch_pass() {
    for (auto& owner_queue : queue_) {
      auto& waiting = owner_queue.second;
      if (waiting.empty()) continue;
      task_ptr task = waiting.top();
      if (!strategy_.dequeue_able(task)) continue;
      waiting.pop();
      if (strategy_.call_able(task)) {
        hand_over(task);
      } else {
        strategy_.notify_break(task);
        enqueue_task_i(task, true);  // the owner exists: the map is not changed
      }
    }
  }

  // A task the pool refuses is dropped: CODE_FAILED, not counted, shown as pending.
  void hand_over(const task_ptr& task) {
    strategy_.notify_dequeued(task);
    if (worker_.enqueue(task)) return;
    ACE_ERROR((LM_ERROR, "Failed to enqueue task to worker, id: %d, name: %s, count: %d.\n",
               task->id(), task->name().c_str(), static_cast<int>(task->enqueued_count())));
    task->error(Task_Base::CODE_FAILED);
    strategy_.notify_finished(task);
  }

  // Stops a running dispatcher at its next pass.
  void cancel() {
    ACE_GUARD(ACE_Thread_Mutex, guard, mutex_);
    stopped_ = true;
    avail_cond_.signal();
  }

  // Whole-second intervals count from the current whole second, so an unsignalled wait
  // of the production interval lasts between 2 and 3 seconds.
  ACE_Time_Value next_pass_deadline() const {
    const ACE_Time_Value now = ACE_OS::gettimeofday();
    const auto ms = dispatch_interval_.count();
    if (ms % 1000 == 0) return ACE_Time_Value(now.sec() + ms / 1000);
    ACE_Time_Value interval;
    interval.set_msec(static_cast<long>(ms));
    return now + interval;
  }

  static void log_task(const task_ptr& task, const char* format) {
    ACE_DEBUG((LM_DEBUG, format, task->id(), task->name().c_str(),
               static_cast<int>(task->enqueued_count())));
  }

  unsigned int id_ = 0;
  std::atomic<bool> stopped_{false};
  std::atomic<unsigned int> enqueued_count_{0};
  std::atomic<unsigned int> succeeded_count_{0};
  std::atomic<unsigned int> failed_count_{0};
  std::function<bool()> stop_callback_;
  std::function<void()> exit_callback_;
  ACE_Thread_Mutex mutex_;
  ACE_Condition_Thread_Mutex avail_cond_;
  queue_type queue_;
  std::chrono::milliseconds dispatch_interval_{SLEEP_INTERVAL * 1000};
  S strategy_;
  // Declared last so that it is destroyed first: its threads call back into the members
  // above.
  W worker_;
};
#pragma GCC diagnostic pop

#endif  // MODELS_TASK_DETAILS_TASK_STRATEGY_SCHEDULER_H
