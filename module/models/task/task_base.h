// Tasks of the scheduling framework: the result codes every task body reports, and the
// bookkeeping that the queue strategies, the worker pool and the strategy scheduler keep
// in each queued task. Concrete tasks derive from Thread_Task<T> (the thread task
// scheduler's Thread_Task_Impl is the one the jobs use).
#ifndef MODELS_TASK_TASK_BASE_H
#define MODELS_TASK_TASK_BASE_H

#include <ctime>
#include <string>
#include <utility>

template <class T>
class Task_Worker;

// Root of all tasks; holds the framework's two enumerations.
class Task_Base {
 public:
  // What one run of a task returns.
  enum Error {
    CODE_SUCCESS = 0,       // the run succeeded
    CODE_FAILED = 1,        // the run failed for good
    CODE_FAILED_RETRY = 2,  // the run failed and asks to be run again
  };

  enum State {
    STATE_INIT = 0,
    STATE_ENQUEUED = 1,
    STATE_DEQUEUED = 2,
    STATE_SUCCESS = 3,
    STATE_FAILED = 4,
    STATE_RUNNING = 5,
  };

  Task_Base() = default;
  Task_Base(const Task_Base&) = delete;
  Task_Base& operator=(const Task_Base&) = delete;
  virtual ~Task_Base();
};

// The bookkeeping of one task. It carries no lock: each field is written under the lock
// of the party that owns that step (scheduler: id and acceptance; strategy: counts and
// times; the running worker: state, worker and result), and a task is never queued while
// it runs.
template <class T>
class Basic_Task : public Task_Base {
 public:
  using Worker = Task_Worker<T>;

  // Sequence number given at every push into an owner queue; smallest runs first.
  int id() const { return id_; }
  void id(int id) { id_ = id; }

  // Kept for the caller; read by no strategy.
  int weight() const { return weight_; }
  void weight(int weight) { weight_ = weight; }

  // Display name used in every log line about the task.
  const std::string& name() const { return name_; }
  void name(std::string name) { name_ = std::move(name); }

  // Key by which tasks are queued and limited; "" when the caller gave none.
  const std::string& owner() const { return owner_; }
  void owner(std::string owner) { owner_ = std::move(owner); }

  // Kept for the caller; read by nothing in the framework.
  const std::string& uuid() const { return uuid_; }
  void uuid(std::string uuid) { uuid_ = std::move(uuid); }

  // How often the task was accepted into the queue (first enqueue and every retry).
  unsigned int enqueued_count() const { return enqueued_count_; }
  void enqueued_count(unsigned int count) { enqueued_count_ = count; }

  // When the task was last handed to a worker / last accepted into the queue.
  time_t last_dequeue_time() const { return last_dequeue_time_; }
  void last_dequeue_time(time_t t) { last_dequeue_time_ = t; }
  time_t last_enqueue_time() const { return last_enqueue_time_; }
  void last_enqueue_time(time_t t) { last_enqueue_time_ = t; }

  // End of the last run in seconds since the epoch; 0 while the task never ran.
  time_t last_finished_time() const { return last_finished_time_; }
  void last_finished_time(time_t t) { last_finished_time_ = t; }

  // The worker that ran the task last (not owned).
  Worker* worker() const { return worker_; }
  void worker(Worker* worker) { worker_ = worker; }

  Task_Base::State state() const { return state_; }
  void state(Task_Base::State state) { state_ = state; }

  // Result of the last run; CODE_SUCCESS on acceptance, CODE_FAILED when dropped unrun.
  Task_Base::Error error() const { return error_; }
  void error(Task_Base::Error error) { error_ = error; }

 private:
  int id_ = 0;
  int weight_ = 0;
  std::string name_;
  std::string owner_;
  std::string uuid_;
  unsigned int enqueued_count_ = 0;
  time_t last_dequeue_time_ = 0;
  time_t last_enqueue_time_ = 0;
  time_t last_finished_time_ = 0;
  Worker* worker_ = nullptr;
  Task_Base::State state_ = STATE_INIT;
  Task_Base::Error error_ = CODE_SUCCESS;
};

// A task that a worker thread runs by calling call().
template <class T>
class Thread_Task : public Basic_Task<T> {
 public:
  // Performs one run and returns its result.
  virtual Task_Base::Error call() = 0;
};

#endif  // MODELS_TASK_TASK_BASE_H
