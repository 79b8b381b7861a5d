#include "job_engine/job.h"

#include "runtime/uuid.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>
#include <ace/OS_NS_time.h>
#include <ace/Thread_Manager.h>

#include <sys/mman.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

// The job log: keeps the latest lines in memory.
class Job::Log_Sink : public ACE_Log_Msg_Callback {
 public:
  void log(ACE_Log_Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back({static_cast<ACE_Log_Priority>(record.type()), record.msg_data()});
    if (lines_.size() > Job::max_log_lines) lines_.pop_front();
  }

  std::vector<Job_Log_Line> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::vector<Job_Log_Line>(lines_.begin(), lines_.end());
  }

 private:
  mutable std::mutex mutex_;
  std::deque<Job_Log_Line> lines_;
};

namespace {

// ACE calls per-thread log callbacks only while this process-wide flag is set. It is
// set once, on the first job's construction, so later log calls never race a write.
void enable_log_callbacks() {
  static std::once_flag once;
  std::call_once(once, [] { ACE_LOG_MSG->set_flags(ACE_Log_Msg::MSG_CALLBACK); });
}

bool is_run_state(Job_State s) {
  switch (s) {
    case JOB_STATE_STARTING:
    case JOB_STATE_RUNNING:
    case JOB_STATE_PAUSING:
    case JOB_STATE_COMPLETING:
    case JOB_STATE_CANCELING:
    case JOB_STATE_ABORTING:
    case JOB_STATE_SWITCHING:
      return true;
    default:
      return false;
  }
}

}  // namespace

Job::Job(Job_Definition_var def) : def_(std::move(def)), log_(new Log_Sink) {
  enable_log_callbacks();
  if (def_.get() == nullptr) {
    ACE_ERROR((LM_ERROR, "Job created without a definition; using an empty one.\n"));
    def_.reset(new Job_Definition);
  }
  open_activity();
}

Job::~Job() = default;

void Job::open_activity() {
  const std::string& id = def_->id();
  if (!id.empty() && activity_handle_.open(id.c_str(), true, true, 0700) == 0) {
    act_ = activity_handle_.get();
    return;
  }
  ACE_ERROR((LM_ERROR, "Job %s: no shared activity record, keeping a private one.\n",
             id.c_str()));
  private_activity_ = std::make_unique<Job_Activity>();
  act_ = private_activity_.get();
}

// ---- commands ----------------------------------------------------------------------

int Job::start(const Action_Options* opts) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_) {
      ACE_ERROR((LM_ERROR, "Job %s is still running; start refused.\n", def_->id().c_str()));
      return -1;
    }
    if (!take_run_lock()) return -1;
    live_ = true;
  }
  const Job_State before = act_->state.load();
  act_->state = JOB_STATE_STARTING;
  if (uuid_binary(act_->id) != 0) std::memset(act_->id, 0, sizeof act_->id);
  const int rc = start_i(opts);
  if (rc < 0) {
    act_->state = before;
    std::lock_guard<std::mutex> lock(mutex_);
    live_ = false;
    run_lock_.release();
    completed_.notify_all();
  }
  return rc;
}

// Called under mutex_. Two jobs of one definition would share its activity record and
// progress records and overwrite each other's state, so the second one never starts.
bool Job::take_run_lock() {
  if (act_ == private_activity_.get()) return true;
  switch (run_lock_.try_lock(def_->id())) {
    case Run_Lock::TAKEN:
      return true;
    case Run_Lock::BUSY:
      ACE_ERROR((LM_ERROR, "Job %s is already running on this host; start refused.\n",
                 def_->id().c_str()));
      return false;
    case Run_Lock::FAILED:
      break;
  }
  ACE_ERROR((LM_ERROR, "Job %s cannot lock its definition; start refused.\n",
             def_->id().c_str()));
  return false;
}

int Job::stop(const Action_Options* opts) { return stop_i(opts); }
int Job::enable(const Action_Options* opts) { return enable_i(opts); }
int Job::disable(const Action_Options* opts) { return disable_i(opts); }
int Job::pause(const Action_Options* opts) { return pause_i(opts); }
int Job::resume(const Action_Options* opts) { return resume_i(opts); }
int Job::abort(const Action_Options* opts) { return abort_i(opts); }
int Job::switch_job(const Action_Options* opts) { return switch_i(opts); }
int Job::remove(bool purge, const Action_Options* opts) { return remove_i(purge, opts); }
int Job::rollback() { return rollback_i(); }
int Job::can_update(Job_State state) { return can_update_i(state); }
int Job::setup_ondemand() { return setup_ondemand_by_job(); }

int Job::update(Job_Definition_var def) {
  if (def.get() == nullptr) return -1;
  const int rc = update_i(def);
  if (rc < 0) return rc;
  std::lock_guard<std::mutex> lock(mutex_);
  replaced_defs_.push_back(def_);
  def_ = def;
  return rc;
}

bool Job::live() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return live_;
}

bool Job::wait_complete(const ACE_Time_Value& timeout) const {
  const auto deadline =
      std::chrono::steady_clock::now() +
      std::chrono::microseconds(static_cast<long long>(timeout.usec()) +
                                static_cast<long long>(timeout.sec()) * 1000000);
  int group = -1;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!completed_.wait_until(lock, deadline, [this] { return !live_; })) return false;
    group = job_thread_group_;
  }
  // The thread leaves the manager's list, under the manager's lock, as the very end of
  // its exit; seeing it gone under that lock orders everything it did before this.
  ACE_Thread_Manager* const manager = ACE_Thread_Manager::instance();
  ACE_thread_t id = ACE_OS::NULL_thread;
  while (group != -1 && manager->thread_grp_list(group, &id, 1) > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

unsigned long Job::completed_runs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return completed_runs_;
}

// ---- for the job's threads -----------------------------------------------------------

int Job::state_i(Job_State state) {
  act_->state = state;
  return 0;
}

int Job::state(Job_State state) {
  act_->state = state;
  return 0;
}

Job_State Job::state() const { return act_->state.load(); }

int Job::sync(const Action_Options*) {
  if (act_ == private_activity_.get()) return 0;
  if (::msync(act_, JOB_ACTIVITY_MAP_SIZE, MS_SYNC) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to sync the activity record of job %s, %m\n",
               def_->id().c_str()));
    return -1;
  }
  return 0;
}

void Job::set_job_thread() {
  int group = -1;
  if (ACE_Thread_Manager::instance()->get_grp(ACE_OS::thr_self(), group) != 0) group = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_thread_ = ACE_OS::thr_self();
    job_thread_group_ = group;
  }
  set_thread_log_msg_callback();
}

void Job::complete() {
  ACE_Log_Msg* const log = ACE_Log_Msg::instance();
  if (log->msg_callback() == log_.get()) log->msg_callback(nullptr);
  std::lock_guard<std::mutex> lock(mutex_);
  live_ = false;
  run_lock_.release();
  job_thread_ = ACE_OS::NULL_thread;
  ++completed_runs_;
  completed_.notify_all();
}

Job_Definition_var Job::definition() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return def_;
}

ACE_Log_Msg_Callback* Job::log_msg_callback() { return log_.get(); }

void Job::set_thread_log_msg_callback() {
  enable_log_callbacks();
  ACE_Log_Msg::instance()->msg_callback(log_.get());
}

void Job::set_result(const std::string& key, const json_spirit::Value& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  result_[key] = value;
}

void Job::append_result(Job_Result::Restore_Path_Entry&& entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  restore_paths_.push_back(std::move(entry));
}

// ---- records -------------------------------------------------------------------------

json_spirit::Object Job::result() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return result_;
}

std::vector<Job_Result::Restore_Path_Entry> Job::restore_paths() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return restore_paths_;
}

std::vector<Job_Event_Record> Job::events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<Job_Progress_Record> Job::progress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::vector<Job_Progress_Record>(progress_.begin(), progress_.end());
}

size_t Job::progress_calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_calls_;
}

std::vector<Job_Alert_Record> Job::alerts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return alerts_;
}

std::vector<Job_Log_Line> Job::log_lines() const { return log_->lines(); }

void Job::record_event(Job_Event_Record event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(std::move(event));
}

void Job::record_progress(Job_Progress_Record progress) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_.push_back(std::move(progress));
  if (progress_.size() > max_progress_records) progress_.pop_front();
  ++progress_calls_;
}

void Job::record_alert(Job_Alert_Record alert) {
  std::lock_guard<std::mutex> lock(mutex_);
  alerts_.push_back(std::move(alert));
}

void Job::intrusive_add_ref(Job* job) {
  if (job != nullptr) job->refs_.fetch_add(1, std::memory_order_relaxed);
}

void Job::intrusive_remove_ref(Job* job) {
  if (job != nullptr && job->refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete job;
}

// ---- default command slots -------------------------------------------------------------

int Job::setup_ondemand_by_job() {
  const Job_Definition_var def = definition();
  for (const Job_Schedule_var& s : def->schedules())
    if (s && s->type() == Job_Schedule::TYPE_ONDEMAND) return setup_ondemand_i();
  return 0;
}

int Job::start_i(const Action_Options*) { return -1; }
int Job::stop_i(const Action_Options*) { return -1; }
int Job::enable_i(const Action_Options*) { return state_i(JOB_STATE_IDLE); }
int Job::disable_i(const Action_Options*) { return state_i(JOB_STATE_DISABLED); }
int Job::pause_i(const Action_Options*) { return -1; }
int Job::resume_i(const Action_Options*) { return -1; }
int Job::abort_i(const Action_Options*) { return -1; }
int Job::switch_i(const Action_Options*) { return -1; }
int Job::remove_i(bool, const Action_Options*) { return 0; }
int Job::update_i(Job_Definition_var) { return 0; }
int Job::rollback_i() { return -1; }
int Job::can_update_i(Job_State state) { return is_run_state(state) ? -1 : 0; }
int Job::setup_ondemand_i() { return -1; }

ACE_THR_FUNC_RETURN Job::run_i(const Action_Options*) {
  complete();
  return 0;
}
