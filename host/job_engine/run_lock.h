// The lock that keeps two runs off one job definition at a time, across every process of
// this host that shares the home: a job takes its definition's lock when it starts
// (Job::start) and lets it go when the run ends. Two runs of one definition would share
// its activity and progress records and overwrite each other's state.
//
// The file is "<home>/lock/job/<name of the definition's id>" (yolt/lock_file.h); the
// kernel drops the lock when its holder ends or is killed.
#ifndef HOST_JOB_ENGINE_RUN_LOCK_H
#define HOST_JOB_ENGINE_RUN_LOCK_H

#include "yolt/lock_file.h"

class Run_Lock : public yolt::Lock_File {
 public:
  Run_Lock() : Lock_File("job") {}
};

#endif  // HOST_JOB_ENGINE_RUN_LOCK_H
