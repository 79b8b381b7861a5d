// The progress of one protected instance within a job run, as the executors hand it to
// the host's job events (Job_Event_Handler::handle_vm_progress) for display.
#ifndef JOB_JOB_EVENT_H
#define JOB_JOB_EVENT_H

#include <cstdint>
#include <ctime>
#include <string>

struct VM_Job_Progress {
  enum VM_State : int32_t {
    STATE_PENDING = 0,
    STATE_RUNNING = 1,
    STATE_COMPLETED = 2,
    STATE_FAILED = 3,
    STATE_SKIPPED = 4
  };

  std::string uuid;    // the instance's identifier
  std::string name;    // the instance's name
  std::string status;  // free text
  std::string title;   // free text
  uint64_t total_bytes = 0;
  uint64_t processed_bytes = 0;
  int32_t virtual_disk_count = 0;
  int32_t processed_virtual_disk_count = 0;
  time_t start_time = 0;  // seconds since the epoch; 0: not set
  time_t end_time = 0;
  VM_State state = STATE_PENDING;
};

#endif  // JOB_JOB_EVENT_H
