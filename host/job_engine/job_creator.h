// The host's way to get job objects from a module: the module hands out one creator
// (from its job-creator factory) and the host asks it for a job per job definition.
#ifndef HOST_JOB_ENGINE_JOB_CREATOR_H
#define HOST_JOB_ENGINE_JOB_CREATOR_H

#include "job_engine/job.h"
#include "job_engine/job_definition.h"

class Job_Creator {
 public:
  Job_Creator();
  virtual ~Job_Creator();
  Job_Creator(const Job_Creator&) = delete;
  Job_Creator& operator=(const Job_Creator&) = delete;

  // Called by the host once after getting the creator, and once before destroying it;
  // the host's own bookkeeping, 0.
  virtual int init(int argc, char** argv);
  virtual int fini();
  // A job for `def`, or null when the creator makes no job of that kind (or is out of
  // memory, with errno ENOMEM).
  virtual Job_var create(Job_Definition_var def) = 0;

 private:
  int argc_ = 0;
  char** argv_ = nullptr;
};

#endif  // HOST_JOB_ENGINE_JOB_CREATOR_H
