// The activity record of a job definition: its state and the figures of its last run,
// kept in one memory-mapped file per definition so that the job object, the executors'
// handlers (through Job_Activity_Handle) and other processes see the same bytes.
#ifndef HOST_JOB_ENGINE_JOB_ACTIVITY_H
#define HOST_JOB_ENGINE_JOB_ACTIVITY_H

#include "job_engine/job_types.h"
#include "yolt/mem_map_handle.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <type_traits>

// Native byte order, at the start of the mapping. `state` is read and written by
// several threads at once (commands set it while a run polls it), so it is an atomic:
// compare and assign it as a Job_State; where a plain value is needed (varargs, "%d"),
// use state.load() or static_cast<int>(state).
struct Job_Activity {
  std::atomic<Job_State> state;
  uint32_t reserved;
  unsigned char id[16];   // identifier of the current run, fresh at each start
  unsigned char uid[16];  // the definition's uid, as 16 raw bytes (zero when not a UUID)
  time_t start_time;      // start of the last run (0: never)
  time_t last_run_time;   // end of the last run, or when it was skipped or found idle
  // Totals of the last successful backup run, written by the executor at its end.
  uint64_t size;              // bytes of the protected source volumes
  uint64_t set_size;          // bytes of the backup sets
  uint64_t set_storage_size;  // bytes the backup sets take in the pool
};

static_assert(std::atomic<Job_State>::is_always_lock_free,
              "the state must be usable in shared memory");
static_assert(std::is_trivially_destructible<Job_Activity>::value,
              "the record lives in a mapped file");

// Where the records live: "<home>/<component>/act/job/<definition id>".
struct Job_Activity_Path_Conf {
  static const char* const prefix;
};

enum { JOB_ACTIVITY_MAP_SIZE = 4096 };

// open(definition id, create, cloexec, mode): 0 on success, -1 on failure (logged).
using Job_Activity_Handle =
    Mem_Map_Handle<Job_Activity, Job_Activity_Path_Conf, JOB_ACTIVITY_MAP_SIZE>;

#endif  // HOST_JOB_ENGINE_JOB_ACTIVITY_H
