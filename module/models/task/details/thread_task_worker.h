// The worker pool the thread task scheduler uses: each pool thread runs a task's call()
// and stores the result in the task before handing it to the completion callback. No
// exception from a task body leaves the worker thread.
#ifndef MODELS_TASK_DETAILS_THREAD_TASK_WORKER_H
#define MODELS_TASK_DETAILS_THREAD_TASK_WORKER_H

#include "models/task/details/task_worker.h"

#include <ace/Log_Msg.h>

#include <exception>

template <class T>
class Thread_Task_Worker : public Task_Worker<T> {
 public:
  using task_ptr = typename Task_Worker<T>::task_ptr;

  // Joins the threads before this object stops being a Thread_Task_Worker.
  ~Thread_Task_Worker() override { this->shutdown(); }

 protected:
  // Runs the task, stores its result, then calls the completion callback. Returns 0.
  int svc_i(task_ptr& task) override {
    task->worker(this);
    task->error(run(*task));
    if (this->cb_) this->cb_(task);
    return 0;
  }

 private:
  // A task body that throws has broken its contract; its run counts as a failure.
  static Task_Base::Error run(T& task) {
    try {
      return task.call();
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Task threw an exception, id: %d, name: %s, what: %s.\n", task.id(),
                 task.name().c_str(), e.what()));
    } catch (...) {
      ACE_ERROR((LM_ERROR, "Task threw an exception, id: %d, name: %s.\n", task.id(),
                 task.name().c_str()));
    }
    return Task_Base::CODE_FAILED;
  }
};

#endif  // MODELS_TASK_DETAILS_THREAD_TASK_WORKER_H
