// Runs one task function over many payloads in parallel on a fixed pool of worker
// threads, with an optional limit of running tasks per owner, re-runs of the payloads
// that ask for one (up to a retry limit, not before an interval) and a stop predicate.
// The backup and restore jobs run every instance and every volume through it.
//
// Use: construct, configure (stop predicate, owner limit, retry rule), enqueue the
// payloads, activate once, wait, destroy.
#ifndef MODELS_TASK_THREAD_TASK_SCHEDULER_H
#define MODELS_TASK_THREAD_TASK_SCHEDULER_H

#include "models/task/details/owner_limit_queue_strategy.h"
#include "models/task/details/queue_strategy_impl.h"
#include "models/task/details/retry_limit_queue_strategy.h"
#include "models/task/details/task_strategy_scheduler.h"
#include "models/task/details/thread_task_worker.h"
#include "models/task/task_base.h"
#include "yolt/check.h"

#include <ace/Log_Msg.h>

#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

template <class P>
class Thread_Task_Scheduler {
 public:
  using Params_Ptr = std::shared_ptr<P>;
  // The task function: called on a worker thread once per run of a payload; returns
  // CODE_SUCCESS, CODE_FAILED, or CODE_FAILED_RETRY to be run again.
  using Worker = std::function<Task_Base::Error(const Params_Ptr&)>;

  // The queued task that carries one payload through the scheduler.
  class Thread_Task_Impl : public Thread_Task<Thread_Task_Impl> {
   public:
    Thread_Task_Impl(Thread_Task_Scheduler& self, Params_Ptr params)
        : self_(self), params_(std::move(params)) {}

    // Applies the scheduler's task function to the payload.
    Task_Base::Error call() override { return self_.worker_(params_); }

   private:
    Thread_Task_Scheduler& self_;
    Params_Ptr params_;
  };

  using Scheduler = Task_Strategy_Scheduler<Thread_Task_Impl, Thread_Task_Worker<Thread_Task_Impl>,
                                            Queue_Strategy_Impl<Thread_Task_Impl>>;

  // At most `queue_capacity` tasks may wait at one time. Starts nothing.
  explicit Thread_Task_Scheduler(int queue_capacity) {
    scheduler_.strategy().reset_enqueue_limit(queue_capacity);
  }

  // A run still going is stopped (waiting tasks are abandoned, running ones finish) and
  // joined before anything is released; owners normally call wait() first.
  ~Thread_Task_Scheduler() = default;

  Thread_Task_Scheduler(const Thread_Task_Scheduler&) = delete;
  Thread_Task_Scheduler& operator=(const Thread_Task_Scheduler&) = delete;

  // Sets the stop predicate, polled on the dispatcher thread under the scheduler lock at
  // every dispatch pass; it must be quick and must not call the scheduler. Always true.
  bool register_stop_callback(std::function<bool()> stop_prec) {
    scheduler_.register_stop_callback(std::move(stop_prec));
    return true;
  }

  // At most `limit_per_owner` tasks of one owner run at once. False (logged) for 0 or a
  // limit above INT_MAX. Configure before enqueueing.
  bool enable_owner_limit(uint32_t limit) {
    const int64_t limit_per_owner = limit;  // compared without a change of sign
    YOLT_CHECK_LT(limit_per_owner, 1, false);
    YOLT_CHECK_CMP(limit_per_owner, >, INT_MAX, false);
    auto strategy = std::make_unique<Owner_Limit_Queue_Strategy<Thread_Task_Impl>>();
    strategy->reset(limit);
    return scheduler_.strategy().add_strategy(std::move(strategy));
  }

  // A task asking for a retry is accepted again at most `retry_times` times and starts
  // no sooner than `retry_interval` seconds after its previous run. Always true.
  // Configure before enqueueing.
  bool enable_retry(uint32_t retry_times, uint32_t retry_interval) {
    auto strategy = std::make_unique<Retry_Limit_Queue_Strategy<Thread_Task_Impl>>();
    strategy->reset(retry_times, retry_interval);
    return scheduler_.strategy().add_strategy(std::move(strategy));
  }

  // Queues one payload under an owner and a display name (null or empty texts leave the
  // field empty; tasks without owner share the owner ""). True when queued; false for a
  // null payload, a full queue, a refusal of the strategy or a run that has ended.
  bool enqueue_task(const Params_Ptr& params, const char* task_owner, int task_weight,
                    const char* task_name, const char* task_uuid) {
    YOLT_CHECK_NULL(params, false);
    auto task = std::make_shared<Thread_Task_Impl>(*this, params);
    task->weight(task_weight);
    if (has_text(task_owner)) task->owner(task_owner);
    if (has_text(task_name)) task->name(task_name);
    if (has_text(task_uuid)) task->uuid(task_uuid);
    return scheduler_.enqueue_task(task);
  }

  // Starts `n_worker_threads` worker threads and the dispatcher with the task function.
  // False (logged) for fewer than one thread, a second activation, an empty function,
  // or threads that cannot be started.
  bool activate(int n_worker_threads, Worker worker) {
    YOLT_CHECK_LT(n_worker_threads, 1, false);
    YOLT_CHECK_TRUE(worker_, false);
    YOLT_CHECK_NULL(worker, false);
    worker_ = std::move(worker);
    scheduler_.strategy().reset_dequeue_limit(n_worker_threads);
    // errno is read before the log record is prepared, which may itself change it.
    if (scheduler_.worker().activate(static_cast<uint64_t>(n_worker_threads)) < 0) {
      const int error = errno;
      ACE_ERROR((LM_ERROR, "Failed to activate thread pool worker, errno=%d.\n", error));
      return false;
    }
    if (scheduler_.activate() < 0) {
      const int error = errno;
      ACE_ERROR((LM_ERROR, "Failed to activate thread pool scheduler, errno=%d.\n", error));
      return false;
    }
    return true;
  }

  // Waits for the end of the run: every handed-out task has finished, the threads are
  // joined and the summary is logged. True when the join succeeded.
  bool wait() { return scheduler_.wait() == 0; }

  // Test hook: the longest wait between two dispatch passes (3 seconds unless changed).
  // Set before activate.
  void dispatch_interval(std::chrono::milliseconds interval) {
    scheduler_.dispatch_interval(interval);
  }

 private:
  static bool has_text(const char* text) { return text != nullptr && *text != '\0'; }

  Worker worker_;
  Scheduler scheduler_;
};

#endif  // MODELS_TASK_THREAD_TASK_SCHEDULER_H
