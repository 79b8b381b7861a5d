// A thread helper that works for a job: whatever its thread logs also goes to the job
// log. The executors run their progress-report thread on it.
#ifndef HOST_JOB_ENGINE_JOB_THREAD_HELPER_H
#define HOST_JOB_ENGINE_JOB_THREAD_HELPER_H

#include "job_engine/job.h"
#include "yolt/thread_helper.h"

class Job_Thread_Helper : public Thread_Helper {
 public:
  // `job` may be null (no log routing); flags and priority as for Thread_Helper. The
  // job must outlive the helper's thread.
  Job_Thread_Helper(Job* job, int flag, int priority) : Thread_Helper(flag, priority), job_(job) {}

 protected:
  void handle_starting() override {
    if (job_ != nullptr) job_->set_thread_log_msg_callback();
  }

 private:
  Job* const job_;
};

#endif  // HOST_JOB_ENGINE_JOB_THREAD_HELPER_H
