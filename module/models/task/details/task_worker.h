// The worker pool of the strategy scheduler: a fixed set of threads reading one FIFO
// queue of tasks. The scheduler's dispatcher queues each released task, a pool thread
// runs it (svc_i, supplied by the derived class) and hands it to the completion callback;
// at the end of a run the dispatcher stops the pool with a marker queued behind the last
// task.
#ifndef MODELS_TASK_DETAILS_TASK_WORKER_H
#define MODELS_TASK_DETAILS_TASK_WORKER_H

#include "models/task/task_base.h"
#include "yolt/memory.h"

#include <ace/Log_Msg.h>
#include <ace/Synch_Traits.h>
#include <ace/Task_Ex_T.h>
#include <ace/Time_Policy.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>

// activate() with the pool's own arguments deliberately hides ACE's: callers must not
// start threads past the pool's bookkeeping.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Woverloaded-virtual"
template <class T>
class Task_Worker : public ACE_Task_Ex<ACE_MT_SYNCH, std::shared_ptr<T>, ACE_System_Time_Policy> {
 public:
  using task_ptr = std::shared_ptr<T>;
  using Callback = std::function<void(task_ptr&)>;

  Task_Worker() = default;

  // Ends any threads still waiting on the queue and drops what is left in it (each
  // dropped task gets CODE_FAILED). A derived pool calls shutdown() in its own
  // destructor, so that no thread reaches svc_i while the object is being torn down.
  ~Task_Worker() override { shutdown(); }

  // Starts `threads` joinable threads running svc(); negative on failure.
  int activate(uint64_t threads) {
    if (threads > static_cast<uint64_t>(INT_MAX)) {
      errno = EINVAL;
      return -1;
    }
    make_room(threads);
    return ACE_Task_Base::activate(THR_NEW_LWP | THR_JOINABLE | THR_INHERIT_SCHED,
                                   static_cast<int>(threads));
  }

  // Sets the callback each run ends with, on the thread that ran the task. Set before
  // activate.
  void register_callback(Callback cb) { cb_ = std::move(cb); }

  // Queues the task behind those already queued, blocking while the queue is full. False
  // (errno ENOMEM when memory ran out) when the queue refused it.
  bool enqueue(const task_ptr& task) {
    std::unique_ptr<task_ptr> entry = make_unique_nothrow<task_ptr>(task);
    if (!entry) {
      errno = ENOMEM;
      return false;
    }
    if (this->putq(entry.get()) == -1) return false;
    entry.release();  // the queue's reader frees it
    return true;
  }

  // The thread body: runs tasks until the stop marker or a dead queue ends it.
  int svc() override {
    while (pull_task(nullptr) == 0) {
    }
    return 0;
  }

  // Takes one entry (waiting until the absolute `timeout`, or for ever when null) and
  // runs it. 0 after a run; -1 at the stop marker or when the queue gave nothing.
  int pull_task(ACE_Time_Value* timeout) {
    task_ptr* raw = nullptr;
    if (this->getq(raw, timeout) == -1 || raw == nullptr) return -1;
    if (raw == stop_marker()) {
      pass_marker_on();
      return -1;
    }
    std::unique_ptr<task_ptr> entry(raw);
    task_ptr& task = *entry;
    task->state(Task_Base::STATE_RUNNING);
    ACE_DEBUG((LM_DEBUG, "Processing task, id: %d, name %s, count: %d.\n", task->id(),
               task->name().c_str(), static_cast<int>(task->enqueued_count())));
    svc_i(task);
    return 0;
  }

 protected:
  // Runs one task on the calling pool thread.
  virtual int svc_i(task_ptr& task) = 0;

 public:
  // Ends the pool after every task queued so far has run: queues the stop marker, joins
  // the threads and empties the queue. Should the marker not be queued, the pool is ended
  // without blocking instead (the queue is deactivated, the threads finish their current
  // task and are joined) and each task left unrun is handed to the callback as
  // CODE_FAILED so that its owner can account for it. -1 when the marker could not be
  // queued, else the result of the join.
  virtual int stop() {
    if (this->putq(stop_marker()) == -1) {
      ACE_ERROR((LM_ERROR, "Failed to queue the stop marker of the task workers, errno=%d.\n",
                 errno));
      shutdown_i(true);
      return -1;
    }
    const int result = this->wait();
    drain(true);
    return result;
  }

  // Empties the queue without blocking; every task in it gets CODE_FAILED and is dropped
  // without reaching the callback.
  void clear() { drain(false); }

  // Ends the threads now, whatever is queued: deactivates the queue (waking every thread
  // that waits on it), joins them and clears the queue. Idempotent.
  void shutdown() { shutdown_i(false); }

 private:
  // The stop marker is the address of this never-set pointer; it is only compared.
  task_ptr* stop_marker() const { return const_cast<task_ptr*>(&EMPTY); }

  // Puts the marker back at the head so that every other thread finds it too. When it
  // cannot be put back, the queue is deactivated instead (unless it already is): the
  // other threads must not wait on it for ever.
  void pass_marker_on() {
    if (this->ungetq(stop_marker()) != -1 || errno == ESHUTDOWN) return;
    ACE_ERROR((LM_ERROR, "Failed to put back the stop marker of the task workers, errno=%d.\n",
               errno));
    this->msg_queue()->deactivate();
  }

  void shutdown_i(bool report) {
    this->msg_queue()->deactivate();
    this->wait();
    this->msg_queue()->activate();
    drain(report);
  }

  // Takes every entry without waiting; each task gets CODE_FAILED and, when `report`,
  // goes to the callback.
  void drain(bool report) {
    ACE_Time_Value no_wait = ACE_Time_Value::zero;
    task_ptr* raw = nullptr;
    while (!this->msg_queue()->is_empty() && this->getq(raw, &no_wait) != -1 && raw != nullptr) {
      if (raw == stop_marker()) continue;
      std::unique_ptr<task_ptr> entry(raw);
      task_ptr& task = *entry;
      task->error(Task_Base::CODE_FAILED);
      if (!report) continue;
      ACE_ERROR((LM_ERROR, "Dropping task, id: %d, name: %s, count: %d.\n", task->id(),
                 task->name().c_str(), static_cast<int>(task->enqueued_count())));
      if (cb_) cb_(task);
    }
  }

  // The queue counts each entry as sizeof(task_ptr) bytes; let it hold one entry per
  // thread plus the marker without blocking, whatever the number of threads.
  void make_room(uint64_t threads) {
    const size_t needed = (threads + 1) * sizeof(task_ptr);
    if (this->msg_queue()->high_water_mark() < needed) {
      this->msg_queue()->high_water_mark(needed);
      this->msg_queue()->low_water_mark(needed);
    }
  }

  const task_ptr EMPTY;

 protected:
  Callback cb_;
};
#pragma GCC diagnostic pop

#endif  // MODELS_TASK_DETAILS_TASK_WORKER_H
