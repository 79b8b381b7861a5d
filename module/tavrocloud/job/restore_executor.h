// The executor of a cloud restore job: the job thread constructs it, runs execute()
// once and destroys it. It logs in, reads the options and the source's entries (one per
// instance to restore), records where each entry's backup lies, restores the instances
// in a thread pool (one Instance_Restore_Handler per task), reports progress every 10
// seconds and folds every instance's result into the job's totals and history.
//
// Layout: the set-up half (log-in, options, entries, restore paths) is in
// restore_executor.cpp, the run half (scheduling, results, progress) in
// restore_executor_run.cpp.
#ifndef TAVROCLOUD_JOB_RESTORE_EXECUTOR_H
#define TAVROCLOUD_JOB_RESTORE_EXECUTOR_H

#include "job/job_executor_t.h"
#include "job_engine/job_event_handler.h"
#include "json/value.h"
#include "models/task/task_base.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/common.h"
#include "tavrocloud/job/instance_history.h"
#include "tavrocloud/job/job_parameters.h"
#include "tavrocloud/job/progress_reporter.h"
#include "tavrocloud/job/restore_result.h"

#include <ace/Event.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavrocloud {

class Restore_Executor
    : public Job_Executor_T<Job_Parameters, Job_Parameters, Job_Event_Handler> {
 public:
  explicit Restore_Executor(Job& job);
  ~Restore_Executor() override;

  // ---- set-up steps (restore_executor.cpp); each true on success, logged on failure ----
  // Loads the account of the definition's host and logs in.
  bool init();
  // Reads the options and fills the shared parameters (agent, endpoint, pool options).
  bool resolve_params();
  // Loads the source's entries; refuses invalid, duplicated or incomplete ones and
  // fills each entry's target node and cluster from its target instance.
  bool resolve_entries();
  // Appends one restore path entry per instance, from the catalog.
  bool add_restore_path();
  void print_info() const;

  // ---- the run (restore_executor_run.cpp) ----
  // Restores every entry; true when all were restored.
  bool restore_all_instances();
  // One instance task: CODE_SUCCESS or CODE_FAILED (never a re-run).
  Task_Base::Error restore_instance(const std::shared_ptr<Restore_Source_Entry>& entry);
  // Folds one instance result into the totals and the history; false when it lacks a key.
  bool handle_instance_result(const json_spirit::Object& result);

  bool is_canceled() const;

  // For the tests.
  const Restore_Params& params() const { return params_; }
  const std::vector<Restore_Source_Entry>& entries() const { return entries_; }
  // Test hook: the logged-in client init() would make.
  void set_client(std::unique_ptr<RESTful_Client> client) { client_ = std::move(client); }

 protected:
  // The whole restore; true when every instance was restored (the activity totals are
  // written then only).
  bool execute_i(const Action_Options* opts) override;

 private:
  std::string pool_uuid_;
  Login login_info_;
  std::unique_ptr<RESTful_Client> client_;
  std::vector<Restore_Source_Entry> entries_;
  Restore_Params params_;
  // Appends the result's "restored" object (when it has one) to restored_.
  void record_restored(const std::string& instance_id, const json_spirit::Object& result);

  Instance_Histories instance_histories_;
  json_spirit::Array restored_;  // what the completed instances made
  std::mutex history_lock_;  // one result folded at a time; guards restored_
  std::unique_ptr<Progress_Reporter> progress_reporter_;
  ACE_Event stop_progress_event_;
  bool support_tmp_snapshot_ = false;
  size_t total_instances_ = 0;
  std::atomic<uint64_t> succeed_instances_{0};
  std::atomic<uint64_t> set_size_{0};
  std::atomic<uint64_t> source_size_{0};
  std::atomic<uint64_t> storage_size_{0};
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_RESTORE_EXECUTOR_H
