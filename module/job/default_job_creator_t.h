// The module's job creator: makes a backup job for a backup definition and a restore
// job for a restore definition. Handed to the host by the module's job-creator factory.
#ifndef JOB_DEFAULT_JOB_CREATOR_T_H
#define JOB_DEFAULT_JOB_CREATOR_T_H

#include "job_engine/job.h"
#include "job_engine/job_creator.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_types.h"

#include <cerrno>
#include <new>

// Backup_Job, Restore_Job: job classes constructible from a Job_Definition_var.
template <typename Backup_Job, typename Restore_Job>
class Default_Job_Creator_T : public Job_Creator {
 public:
  Default_Job_Creator_T() = default;
  ~Default_Job_Creator_T() override {}

  // A backup job for type 1, a restore job for type 2, null for any other type (errno
  // untouched) or for a null definition; null with errno ENOMEM when out of memory.
  Job_var create(Job_Definition_var def) override {
    if (def.get() == nullptr) return Job_var();
    switch (def->type()) {
      case JOB_DEFINITION_BACKUP:
        return make<Backup_Job>(def);
      case JOB_DEFINITION_RESTORE:
        return make<Restore_Job>(def);
      default:
        return Job_var();
    }
  }

 private:
  template <typename J>
  static Job_var make(const Job_Definition_var& def) {
    Job* job = nullptr;
    try {
      job = new (std::nothrow) J(def);
    } catch (...) {
      job = nullptr;
    }
    if (job == nullptr) errno = ENOMEM;
    return Job_var(job);
  }
};

#endif  // JOB_DEFAULT_JOB_CREATOR_T_H
