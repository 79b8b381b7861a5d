// The per-instance outcome of a backup or restore run (name, sizes, state, times), kept
// while the run goes and stored as the job's result under "tavrocloud" at its end.
#ifndef TAVROCLOUD_JOB_INSTANCE_HISTORY_H
#define TAVROCLOUD_JOB_INSTANCE_HISTORY_H

#include "json/value.h"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>

namespace tavrocloud {

// Scoped, because the cloud's Status has an UNKNOWN of its own.
enum class VM_History_State : int32_t { UNKNOWN = 0, COMPLETED = 1, SKIPPED = 2, FAILED = 3 };

// "completed", "skipped" or "failed" (also for a state without a name).
const char* vm_hist_state_to_str(VM_History_State state);
// The state named `text`; UNKNOWN for any other text or null.
VM_History_State str_to_vm_hist_state(const char* text);

struct Instance_History {
  std::string instance_name;
  uint64_t set_size = 0;
  uint64_t source_size = 0;
  uint64_t storage_size = 0;
  VM_History_State state = VM_History_State::FAILED;
  std::string start_time;  // "%Y-%m-%d %H:%M:%S" in UTC, "-" for no time, or empty
  std::string end_time;
  bool retry = false;  // the entry belongs to a retry run
};

// A time of a history entry: UTC "%Y-%m-%d %H:%M:%S", or "-" for 0.
std::string history_time(time_t t);

// Entries are made on first access. Making entries is safe from several threads at
// once; each entry must be written by one thread only.
class Instance_Histories {
 public:
  // The entry of instance `id`, made with the defaults when missing. The reference stays
  // valid while the histories live.
  Instance_History& operator[](const std::string& id);
  // One object per entry ("uuid", "name", "size", "set_size", "storaged_size", "state",
  // "start_time", "end_time", "retry"), in no defined order.
  json_spirit::Value dump() const;

 private:
  mutable std::mutex lock_;
  std::unordered_map<std::string, Instance_History> histories_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_INSTANCE_HISTORY_H
