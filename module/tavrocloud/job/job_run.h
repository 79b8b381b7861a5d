// What the backup and restore executors share in running a job: the log-in with the
// job's cloud account, the progress thread that reports every 10 seconds until the run
// ends, and running a scheduler's tasks on worker threads that log into the job's log.
#ifndef TAVROCLOUD_JOB_JOB_RUN_H
#define TAVROCLOUD_JOB_JOB_RUN_H

#include "job_engine/job.h"
#include "job_engine/job_thread_helper.h"
#include "models/task/thread_task_scheduler.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/progress_reporter.h"

#include <ace/Event.h>
#include <ace/Log_Msg.h>

#include <memory>
#include <string>

namespace tavrocloud {

// Loads the account of `host_id` into `login` and logs a new client into `client`; true
// on success. False (logged) when the account is missing or refused; a refused log-in
// also raises the job's alert 1.
bool log_in(Job& job, const std::string& host_id, Login& login,
            std::unique_ptr<RESTful_Client>& client);

// The progress thread of one run: from construction on, `reporter` reports every 10
// seconds; destruction signals `stop`, joins the thread and makes the final report, so
// that the final report is always the last.
class Progress_Thread {
 public:
  Progress_Thread(Job& job, Progress_Reporter& reporter, ACE_Event& stop);
  ~Progress_Thread();
  Progress_Thread(const Progress_Thread&) = delete;
  Progress_Thread& operator=(const Progress_Thread&) = delete;

 private:
  void run();

  Progress_Reporter& reporter_;
  ACE_Event& stop_;
  Job_Thread_Helper thread_;
};

// Adds the instance `id` (`name`) to `reporter` as pending and queues `task` in
// `scheduler` under `owner`, named `id`; false when either refuses, logged with `kind`
// ("instance", "entry") naming what was queued.
template <class P>
bool queue_pending(Progress_Reporter& reporter, Thread_Task_Scheduler<P>& scheduler,
                   const P& task, const std::string& owner, const std::string& id,
                   const std::string& name, const char* kind) {
  if (!reporter.add(id, name, VM_Job_Progress::STATE_PENDING)) {
    ACE_ERROR((LM_ERROR, "Failed to add tavro %s to reporter, id: %s, name: %s.\n", kind,
               id.c_str(), name.c_str()));
    return false;
  }
  if (!scheduler.enqueue_task(std::make_shared<P>(task), owner.c_str(), 0, id.c_str(),
                              nullptr)) {
    ACE_ERROR((LM_ERROR, "Failed to enqueue tavro %s task, id: %s, name: %s.\n", kind,
               id.c_str(), name.c_str()));
    return false;
  }
  return true;
}

// Activates `reporter` for the job definition `def_id`; false (logged) when it refuses.
bool activate_reporter(Progress_Reporter& reporter, const std::string& def_id);

// Runs the tasks queued in `scheduler` on `workers` threads, each attaching the job's
// log before `body`, and waits for them; true when all were run. False when activation
// or the wait fails, logged with `activate_failed` / `wait_failed` when given.
template <class P, class Body>
bool run_tasks(Thread_Task_Scheduler<P>& scheduler, Job& job, int workers, Body body,
               const char* activate_failed = nullptr, const char* wait_failed = nullptr) {
  const bool activated =
      scheduler.activate(workers, [&job, body](const std::shared_ptr<P>& payload) {
        job.set_thread_log_msg_callback();
        return body(payload);
      });
  if (!activated) {
    if (activate_failed != nullptr) ACE_ERROR((LM_ERROR, activate_failed));
    return false;
  }
  if (!scheduler.wait()) {
    if (wait_failed != nullptr) ACE_ERROR((LM_ERROR, wait_failed));
    return false;
  }
  return true;
}

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_JOB_RUN_H
