// The job engine's vocabulary: the job states kept in a job's activity record, the kinds
// of job definitions, and the options a job command carries. Shared by the host's job
// engine and the module's job templates and executors.
#ifndef HOST_JOB_ENGINE_JOB_TYPES_H
#define HOST_JOB_ENGINE_JOB_TYPES_H

#include "json/value.h"

#include <cstdint>
#include <map>
#include <string>

// State of a job, as stored (32 bits) in its activity record. Commands set some of them
// while a run goes on; executors poll the record to notice them.
enum Job_State : int32_t {
  JOB_STATE_NONE = 0,
  JOB_STATE_IDLE = 1,
  JOB_STATE_STARTING = 2,
  JOB_STATE_RUNNING = 3,
  JOB_STATE_PAUSING = 4,
  JOB_STATE_PAUSED = 5,
  JOB_STATE_COMPLETING = 6,
  JOB_STATE_COMPLETED = 7,
  JOB_STATE_CANCELING = 8,
  JOB_STATE_CANCELED = 9,
  JOB_STATE_ERROR = 10,
  JOB_STATE_CREATED = 11,
  JOB_STATE_UPDATED = 12,
  JOB_STATE_DELETING = 13,
  JOB_STATE_DELETED = 14,
  JOB_STATE_COMPLETED_WITH_ERRORS = 15,
  JOB_STATE_DISPATCHING = 16,
  JOB_STATE_SKIPPED = 17,
  JOB_STATE_EXPIRED = 18,
  JOB_STATE_DISABLED = 19,
  JOB_STATE_ABORTING = 20,
  JOB_STATE_CREATING = 21,
  JOB_STATE_SYNCING = 22,
  JOB_STATE_SWITCHING = 23,
  JOB_STATE_ACTIVATING = 24,
  JOB_STATE_OPENING = 25
};

enum Job_Definition_Type : int32_t {
  JOB_DEFINITION_NONE = 0,
  JOB_DEFINITION_BACKUP = 1,
  JOB_DEFINITION_RESTORE = 2,
  JOB_DEFINITION_STANDBY = 3,
  JOB_DEFINITION_STORAGE = 4
};

// Subkind of a definition: backup levels, and for restores what is restored.
enum Job_Definition_Subtype : int32_t {
  JOB_DEFINITION_SUBTYPE_NONE = 0,
  JOB_DEFINITION_SUBTYPE_FULL = 1,
  JOB_DEFINITION_SUBTYPE_INCREMENTAL = 2,
  JOB_DEFINITION_SUBTYPE_DIFFERENTIAL = 3,
  JOB_DEFINITION_SUBTYPE_DISK = 23,
  JOB_DEFINITION_SUBTYPE_VM = 24
};

// Named options of one command (start, abort, ...); commands take a possibly null
// pointer to a constant map. A start that runs a backup again for some instances only
// carries ACTION_OPTION_RETRY_ENTRIES: an array of objects, each naming one of them by
// "id" with "type" "VirtualMachine".
using Action_Options = std::map<std::string, json_spirit::Value>;
constexpr const char ACTION_OPTION_RETRY_ENTRIES[] = "retry_entries";

// Names for logs and records. `flags` selects no variant yet: pass 0. An unknown value
// gives "unknown".
const char* job_state_to_string(int state);
const char* job_definition_type_to_string(int type, int flags);   // "backup", "restore", ...
const char* job_def_subtype_to_string(int subtype, int flags);    // "full", "vm", ...

#endif  // HOST_JOB_ENGINE_JOB_TYPES_H
