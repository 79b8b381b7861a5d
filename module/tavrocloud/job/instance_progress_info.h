// The progress record of one instance in a job run: a small memory-mapped file that the
// instance's handler and its volume tasks write and the job's progress reporter reads,
// from other threads or processes, without any message passing.
#ifndef TAVROCLOUD_JOB_INSTANCE_PROGRESS_INFO_H
#define TAVROCLOUD_JOB_INSTANCE_PROGRESS_INFO_H

#include "job/job_event.h"
#include "yolt/mem_map_handle.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

namespace tavrocloud {

// Native byte order, 32 bytes at the start of the mapping. The fields are atomics so that
// the volume tasks of one instance can add to the same record from several threads
// without losing an addition, and the reporter's loads never tear.
struct Instance_Progress_Info {
  std::atomic<int32_t> state;  // a VM_Job_Progress::VM_State
  uint32_t padding;
  std::atomic<uint64_t> total_size;      // bytes to transfer for the instance
  std::atomic<uint64_t> processed_size;  // bytes transferred so far
  std::atomic<uint32_t> total_volume_num;
  std::atomic<uint32_t> processed_volume_num;

  // Zeroes the sizes and counts; the state stays.
  void reset();
  void set_state(VM_Job_Progress::VM_State s) { state.store(s); }
  VM_Job_Progress::VM_State get_state() const {
    return static_cast<VM_Job_Progress::VM_State>(state.load());
  }
  // Sets the sizes and counts for a new pass over `volumes` volumes of `bytes` bytes.
  void start(uint64_t bytes, uint32_t volumes);
  void add_processed(uint64_t bytes) { processed_size.fetch_add(bytes); }
  // Takes back bytes counted by a pass that is run again, never below zero.
  void sub_processed(uint64_t bytes);
  void add_processed_volume() { processed_volume_num.fetch_add(1); }
};

static_assert(std::is_standard_layout<Instance_Progress_Info>::value, "mapped record");
static_assert(std::atomic<uint64_t>::is_always_lock_free &&
                  std::atomic<uint32_t>::is_always_lock_free &&
                  std::atomic<int32_t>::is_always_lock_free,
              "the fields must be usable in shared memory");
static_assert(offsetof(Instance_Progress_Info, total_size) == 8 &&
                  offsetof(Instance_Progress_Info, processed_size) == 16 &&
                  offsetof(Instance_Progress_Info, total_volume_num) == 24 &&
                  offsetof(Instance_Progress_Info, processed_volume_num) == 28 &&
                  sizeof(Instance_Progress_Info) == 32,
              "the record's layout is shared with other processes");

// Where the records live: "<prefix>/<job definition id>/<instance file name>".
struct Progress_Info_Path_Conf {
  static const char* const prefix;
};

enum { INSTANCE_PROGRESS_MAP_SIZE = 4096 };

using Instance_Mem_Map_Handle =
    Mem_Map_Handle<Instance_Progress_Info, Progress_Info_Path_Conf, INSTANCE_PROGRESS_MAP_SIZE>;
using Instance_Mem_Map_Handle_ptr = std::unique_ptr<Instance_Mem_Map_Handle>;

// The file name of an instance's record: the identifier made safe for a file name, so a
// cloud identifier holding '/' or ".." can never reach outside the job's directory.
std::string progress_record_name(const std::string& instance_id);

// Maps the record of `instance_id` in the run of job definition `def_id` (made when
// `create`); 0 on success, -1 on failure (logged by the handle).
int open_progress_record(Instance_Mem_Map_Handle& handle, const std::string& def_id,
                         const std::string& instance_id, bool create);

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_INSTANCE_PROGRESS_INFO_H
