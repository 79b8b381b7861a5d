#include "job_engine/job_types.h"

namespace {

struct Name {
  int value;
  const char* text;
};

template <size_t N>
const char* lookup(const Name (&names)[N], int value) {
  for (const Name& n : names)
    if (n.value == value) return n.text;
  return "unknown";
}

const Name state_names[] = {
    {JOB_STATE_NONE, "none"},           {JOB_STATE_IDLE, "idle"},
    {JOB_STATE_STARTING, "starting"},   {JOB_STATE_RUNNING, "running"},
    {JOB_STATE_PAUSING, "pausing"},     {JOB_STATE_PAUSED, "paused"},
    {JOB_STATE_COMPLETING, "completing"}, {JOB_STATE_COMPLETED, "completed"},
    {JOB_STATE_CANCELING, "canceling"}, {JOB_STATE_CANCELED, "canceled"},
    {JOB_STATE_ERROR, "error"},         {JOB_STATE_CREATED, "created"},
    {JOB_STATE_UPDATED, "updated"},     {JOB_STATE_DELETING, "deleting"},
    {JOB_STATE_DELETED, "deleted"},     {JOB_STATE_COMPLETED_WITH_ERRORS, "completed with errors"},
    {JOB_STATE_DISPATCHING, "dispatching"}, {JOB_STATE_SKIPPED, "skipped"},
    {JOB_STATE_EXPIRED, "expired"},     {JOB_STATE_DISABLED, "disabled"},
    {JOB_STATE_ABORTING, "aborting"},   {JOB_STATE_CREATING, "creating"},
    {JOB_STATE_SYNCING, "syncing"},     {JOB_STATE_SWITCHING, "switching"},
    {JOB_STATE_ACTIVATING, "activating"}, {JOB_STATE_OPENING, "opening"}};

const Name type_names[] = {{JOB_DEFINITION_NONE, "none"},
                           {JOB_DEFINITION_BACKUP, "backup"},
                           {JOB_DEFINITION_RESTORE, "restore"},
                           {JOB_DEFINITION_STANDBY, "standby"},
                           {JOB_DEFINITION_STORAGE, "storage"}};

const Name subtype_names[] = {{JOB_DEFINITION_SUBTYPE_NONE, "none"},
                              {JOB_DEFINITION_SUBTYPE_FULL, "full"},
                              {JOB_DEFINITION_SUBTYPE_INCREMENTAL, "incremental"},
                              {JOB_DEFINITION_SUBTYPE_DIFFERENTIAL, "differential"},
                              {JOB_DEFINITION_SUBTYPE_DISK, "disk"},
                              {JOB_DEFINITION_SUBTYPE_VM, "vm"}};

}  // namespace

const char* job_state_to_string(int state) { return lookup(state_names, state); }

const char* job_definition_type_to_string(int type, int) { return lookup(type_names, type); }

const char* job_def_subtype_to_string(int subtype, int) { return lookup(subtype_names, subtype); }
