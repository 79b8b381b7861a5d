// The executor of a cloud backup job: the job thread constructs it, runs execute() once
// and destroys it. It logs in, finds the agent's own instance, expands the job source
// into instances (less the exclusions), reads the options and the run's retry entries,
// then backs up every instance in a thread pool, one instance backup handler per task,
// reports progress every 10 seconds and folds each instance's result into the job's
// totals, its history and its alerts.
//
// Layout: the set-up half is in backup_executor.cpp (log-in, options) and
// backup_executor_entries.cpp (source entries), the run half (scheduling, results,
// progress) in backup_executor_run.cpp.
#ifndef TAVROCLOUD_JOB_BACKUP_EXECUTOR_H
#define TAVROCLOUD_JOB_BACKUP_EXECUTOR_H

#include "client_io/client_io_base.h"
#include "job/job_executor_t.h"
#include "job_engine/job_alert.h"
#include "job_engine/job_event_handler.h"
#include "json/value.h"
#include "models/task/task_base.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/common.h"
#include "tavrocloud/job/instance_history.h"
#include "tavrocloud/job/job_parameters.h"
#include "tavrocloud/job/progress_reporter.h"
#include "yolt/wildcard_matcher.h"

#include <ace/Event.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace tavrocloud {

class Backup_Executor
    : public Job_Executor_T<Job_Parameters, Job_Parameters, Job_Event_Handler> {
 public:
  explicit Backup_Executor(Job& job);
  ~Backup_Executor() override;

 protected:
  // The whole backup run; true when every instance (or, not cancelled, at least one)
  // was backed up. The totals go to the activity record only on success.
  bool execute_i(const Action_Options* opts) override;

  // ---- set-up (backup_executor.cpp), each true on success and logged on failure ----
  // Loads the account, logs in, finds the agent's instance and the snapshot kind.
  bool init();
  // Expands the source entries into backup_instances_; false when none is ready (the
  // run's failure message then says why).
  bool resolve_entries();
  // Reads the options into params_ and finds the target pool.
  bool resolve_params();
  // Records the run's "retry_entries" (instances of type "VirtualMachine"); always true.
  bool resolve_action_options(const Action_Options* opts);
  void print_info() const;

  // ---- the run (backup_executor_run.cpp) ----
  bool do_full_backup();
  // One instance task: runs a handler and folds its result; the task code.
  Task_Base::Error backup_instance(const Instance_Backup_Info_var& info);
  // Folds one handler result into the totals and the history; the result's "code", or
  // CODE_FAILED when the result cannot be read.
  Task_Base::Error handle_instance_result(bool succeeded, const json_spirit::Object& result);
  bool is_canceled() const;

  // ---- source entries (backup_executor_entries.cpp) ----
  // Resolves one source entry into `found`; false only for an entry without id, name or
  // type (the run fails), true also when the entry is skipped (logged, and alerted when
  // its type is one of the five).
  bool resolve_entry(const json_spirit::Object& entry, Instances& found);
  // The instances the entry `type` `id` lists; false, the cloud's words in `reason`
  // where it gave any, when the listing failed.
  bool list_entry(const std::string& type, const std::string& id, Instances& listed,
                  std::string& reason);
  // Skips an entry whose instances could not be had: `reason` empty when the cloud has
  // no such object, else why it could not be listed.
  void entry_not_listed(const std::string& id, const std::string& name, const std::string& type,
                        const std::string& reason);
  // Appends the instances of `found` that are to be backed up.
  void select_instances(const Instances& found);
  // Skips `inst`, never backed up for the reason `why`.
  void pass_over(const Instance& inst, const char* why);
  // Says why a source that selects no instance leaves the run nothing to do.
  void report_nothing_to_back_up();
  // The alert `id` with `args` (null for none), at the error level as every alert of
  // the job is raised.
  void alert(unsigned long id, const json_spirit::Value& args);

  std::string agent_instance_id_;
  Pool_Info pool_info_;
  Login login_info_;
  std::unique_ptr<RESTful_Client> client_;
  Backup_Params params_;
  Instance_Histories instance_histories_;
  Instance_Backup_Infos backup_instances_;
  std::unique_ptr<Progress_Reporter> progress_reporter_;
  ACE_Event stop_progress_event_;
  Wildcard_Matcher excluded_vm_;
  bool support_tmp_snapshot_ = false;
  uint64_t total_instances_ = 0;
  uint64_t skipped_instances_ = 0;
  std::atomic<uint64_t> succeed_instances_{0};
  std::atomic<uint64_t> set_size_{0};
  std::atomic<uint64_t> source_size_{0};
  std::atomic<uint64_t> storage_size_{0};
  json_spirit::Object retry_entries_;
  // The "volumes" selections of the entries, by entry id, moved out when used.
  std::map<std::string, std::list<std::string>> volume_selections_;
  // The instances "Instance" entries name and no skip was reported for yet.
  std::set<std::string> named_instances_;
  uint64_t excluded_instances_ = 0;     // left out by the exclusion patterns
  uint64_t passed_over_instances_ = 0;  // never backed up (agent, terminated, nameless)
  uint64_t unlisted_entries_ = 0;       // entries whose instances could not be had
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_BACKUP_EXECUTOR_H
