// A job definition as the job engine keeps it: what kind of job it is, its identities,
// target pool, parsed source and options, schedules, scripts and transfer settings. The
// host (the runner, the tests) fills it through the setters; job objects and executors
// read it through the getters. Shared by reference count (Job_Definition_var).
#ifndef HOST_JOB_ENGINE_JOB_DEFINITION_H
#define HOST_JOB_ENGINE_JOB_DEFINITION_H

#include "client_io/client_io_base.h"
#include "job_engine/job_schedule.h"
#include "job_engine/job_source.h"
#include "job_engine/job_target.h"
#include "job_engine/job_types.h"
#include "yolt/secure_string.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Job_Definition {
 public:
  Job_Definition();
  virtual ~Job_Definition();
  Job_Definition(const Job_Definition&) = default;
  Job_Definition& operator=(const Job_Definition&) = default;

  Job_Definition_Type type() const { return type_; }
  Job_Definition_Subtype subtype() const { return subtype_; }
  // Identifier of the definition (names its activity record; one path component).
  const std::string& id() const { return id_; }
  // UUID text of the definition, copied into the activity record at each run.
  const std::string& uid() const { return uid_; }
  const std::string& name() const { return name_; }
  // Identifier of the registered cloud account the job works on.
  const std::string& host_id() const { return host_id_; }
  const std::string& agent() const { return agent_; }
  Job_Target& target() { return target_; }
  const Job_Target& target() const { return target_; }

  // The parsed source and options documents, or null when none was set. They are the
  // objects the module's parsers built (for this module tavrocloud::Job_Parameters);
  // executors reach their own type with dynamic_cast.
  Job_Source* source() const { return source_.get(); }
  Job_Source* options() const { return options_.get(); }

  const Job_Schedule_List& schedules() const { return schedules_; }

  // Shell scripts around a run; an empty text means no script.
  const std::string& precondition() const { return precondition_; }
  const std::string& pre_action() const { return pre_action_; }
  const std::string& post_action() const { return post_action_; }
  bool ignore_pre_action_failure() const { return ignore_pre_action_failure_; }
  bool ignore_post_action_failure() const { return ignore_post_action_failure_; }
  bool run_post_action_always() const { return run_post_action_always_; }
  const secure_string& backup_protection_password() const { return backup_protection_password_; }

  size_t max_seconds_retry() const { return max_seconds_retry_; }
  size_t retry_count() const { return retry_count_; }
  size_t retry_interval() const { return retry_interval_; }  // seconds
  size_t resumption_buffer_size() const { return resumption_buffer_size_; }
  const Rate_Limits& rate_limits() const { return rate_limits_; }
  uint64_t max_rate_limit() const { return max_rate_limit_; }  // bytes per second, 0: none
  bool server_side_dedup() const { return server_side_dedup_; }

  // ---- setters, for whoever builds the definition ----
  void set_type(Job_Definition_Type v) { type_ = v; }
  void set_subtype(Job_Definition_Subtype v) { subtype_ = v; }
  void set_id(const std::string& v) { id_ = v; }
  void set_uid(const std::string& v) { uid_ = v; }
  void set_name(const std::string& v) { name_ = v; }
  void set_host_id(const std::string& v) { host_id_ = v; }
  void set_agent(const std::string& v) { agent_ = v; }
  void set_target(const Job_Target& v) { target_ = v; }
  void add_schedule(Job_Schedule_var schedule) { schedules_.push_back(std::move(schedule)); }
  void set_precondition(const std::string& v) { precondition_ = v; }
  void set_pre_action(const std::string& v) { pre_action_ = v; }
  void set_post_action(const std::string& v) { post_action_ = v; }
  void set_ignore_pre_action_failure(bool v) { ignore_pre_action_failure_ = v; }
  void set_ignore_post_action_failure(bool v) { ignore_post_action_failure_ = v; }
  void set_run_post_action_always(bool v) { run_post_action_always_ = v; }
  void set_backup_protection_password(const secure_string& v) { backup_protection_password_ = v; }
  void set_max_seconds_retry(size_t v) { max_seconds_retry_ = v; }
  void set_retry_count(size_t v) { retry_count_ = v; }
  void set_retry_interval(size_t v) { retry_interval_ = v; }
  void set_resumption_buffer_size(size_t v) { resumption_buffer_size_ = v; }
  void set_rate_limits(const Rate_Limits& v) { rate_limits_ = v; }
  void set_max_rate_limit(uint64_t v) { max_rate_limit_ = v; }
  void set_server_side_dedup(bool v) { server_side_dedup_ = v; }

  // Keeps a parse result (an ACE_Refcounted_Auto_Ptr of a Job_Source subclass, as the
  // module's parsers hand it out) as the source or options; the definition shares it
  // with every other holder. A null pointer clears it.
  template <typename T, typename Lock>
  void set_source(const ACE_Refcounted_Auto_Ptr<T, Lock>& p) {
    source_ = share(p);
  }
  template <typename T, typename Lock>
  void set_options(const ACE_Refcounted_Auto_Ptr<T, Lock>& p) {
    options_ = share(p);
  }

 private:
  // A shared_ptr that holds a copy of the ACE pointer, so the object lives while either
  // side references it.
  template <typename T, typename Lock>
  static std::shared_ptr<Job_Source> share(const ACE_Refcounted_Auto_Ptr<T, Lock>& p) {
    Job_Source* const raw = p.get();
    if (raw == nullptr) return nullptr;
    auto holder = std::make_shared<ACE_Refcounted_Auto_Ptr<T, Lock>>(p);
    return std::shared_ptr<Job_Source>(std::move(holder), raw);
  }

  Job_Definition_Type type_ = JOB_DEFINITION_NONE;
  Job_Definition_Subtype subtype_ = JOB_DEFINITION_SUBTYPE_NONE;
  std::string id_;
  std::string uid_;
  std::string name_;
  std::string host_id_;
  std::string agent_;
  Job_Target target_;
  std::shared_ptr<Job_Source> source_;
  std::shared_ptr<Job_Source> options_;
  Job_Schedule_List schedules_;
  std::string precondition_;
  std::string pre_action_;
  std::string post_action_;
  bool ignore_pre_action_failure_ = false;
  bool ignore_post_action_failure_ = false;
  bool run_post_action_always_ = false;
  secure_string backup_protection_password_;
  size_t max_seconds_retry_ = 0;
  size_t retry_count_ = 0;
  size_t retry_interval_ = 0;
  size_t resumption_buffer_size_ = 0;
  Rate_Limits rate_limits_;
  uint64_t max_rate_limit_ = 0;
  bool server_side_dedup_ = false;
};

using Job_Definition_var = ACE_Refcounted_Auto_Ptr<Job_Definition, ACE_Thread_Mutex>;

#endif  // HOST_JOB_ENGINE_JOB_DEFINITION_H
