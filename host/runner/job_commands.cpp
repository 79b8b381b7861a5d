// `quillon3 backup DEFINITION.json` and `quillon3 restore DEFINITION.json`: the runner
// plays the product's job service. It checks the definition file, loads the module,
// parses the definition's documents with the module's parsers, gets the job from the
// module's job creator and runs it through the host's job engine with a progress view,
// then prints the job's per-instance history. SIGINT and SIGTERM abort the job the way
// the product's stop command does, and the runner waits until the job cleaned up.
#include <signal.h>
#include <unistd.h>

#include <ace/Thread_Manager.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "json/json_dump.h"
#include "runner/commands.h"
#include "runner/job_definition_file.h"
#include "runner/job_progress.h"
#include "runner/module_link.h"

namespace runner {

namespace {

const Command_Syntax BACKUP_SYNTAX = {
    "backup",
    "Backs up the cloud instances that DEFINITION.json names into its target pool, then\n"
    "prints the job's history (JSON). The definition file is described in\n"
    "docs/definitions.md. Ctrl-C stops the job cleanly.\n",
    "DEFINITION.json",
    {{"quiet", nullptr, false, "show no progress"}},
    1,
    1};

const Command_Syntax RESTORE_SYNTAX = {
    "restore",
    "Restores the backed-up instances that DEFINITION.json names, then prints the job's\n"
    "history (JSON). The definition file is described in docs/definitions.md. Ctrl-C\n"
    "stops the job cleanly.\n",
    "DEFINITION.json",
    {{"quiet", nullptr, false, "show no progress"}},
    1,
    1};

// How long a job thread may take, after the run completed, to leave module code.
const int THREAD_EXIT_SECONDS = 10;

// Blocks SIGINT and SIGTERM in the calling thread, and so in every thread made after it,
// and takes them on a thread of its own: each one asks the watched job to abort (which
// the job turns into a cancellation with clean-up); one that comes before a job is
// watched is remembered. The signals stay blocked when the watcher goes, so a late
// Ctrl-C cannot cut the output short.
class Signal_Stopper {
 public:
  explicit Signal_Stopper(std::ostream& err) : err_(err) {
    sigemptyset(&signals_);
    sigaddset(&signals_, SIGINT);
    sigaddset(&signals_, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
    thread_ = std::thread([this] { run(); });
  }
  ~Signal_Stopper() {
    done_ = true;
    thread_.join();
  }
  Signal_Stopper(const Signal_Stopper&) = delete;
  Signal_Stopper& operator=(const Signal_Stopper&) = delete;

  // From now on a signal aborts `job`; at once when one came already.
  void watch(const Job_var& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    if (requested_) abort_locked();
  }
  bool requested() const { return requested_; }

 private:
  void run() {
    while (!done_) {
      timespec wait = {0, 200 * 1000 * 1000};
      const int sig = ::sigtimedwait(&signals_, nullptr, &wait);
      if (sig <= 0) continue;
      requested_ = true;
      std::lock_guard<std::mutex> lock(mutex_);
      err_ << "\nquillon3: " << (sig == SIGINT ? "interrupted" : "terminated")
           << (aborted_ ? ": still cleaning up\n" : ": stopping the job, cleaning up\n")
           << std::flush;
      abort_locked();
    }
  }
  void abort_locked() {
    if (job_.get() == nullptr || aborted_) return;
    aborted_ = true;
    job_->abort();
  }

  std::ostream& err_;
  sigset_t signals_;
  std::atomic<bool> done_{false};
  std::atomic<bool> requested_{false};
  std::mutex mutex_;
  Job_var job_;
  bool aborted_ = false;
  std::thread thread_;
};

Job_Progress_View::Mode progress_mode(const Parsed_Args& args) {
  if (args.has("quiet")) return Job_Progress_View::Mode::QUIET;
  return ::isatty(STDERR_FILENO) ? Job_Progress_View::Mode::BARS : Job_Progress_View::Mode::LINES;
}

// The job's history; an empty array when the run stored none.
json_spirit::Value history_of(const Job& job) {
  const json_spirit::Object result = job.result();
  const auto it = result.find("tavrocloud");
  return it != result.end() ? it->second : json_spirit::Value(json_spirit::Array());
}

size_t failed_instances(const json_spirit::Value& history) {
  size_t failed = 0;
  if (history.type() != json_spirit::array_type) return 0;
  for (const json_spirit::Value& h : history.get_array()) {
    const json_spirit::Object* obj = h.type() == json_spirit::obj_type ? &h.get_obj() : nullptr;
    const auto state = obj != nullptr ? obj->find("state") : json_spirit::Object::const_iterator();
    if (obj != nullptr && state != obj->end() && state->second == json_spirit::Value("failed"))
      ++failed;
  }
  return failed;
}

// Shows the errors the failed job logged (without -v, which showed them already): the
// last line alone seldom names the cause. Then the last error is not repeated.
void show_job_errors(Context& ctx, const std::vector<std::string>& errors, size_t more,
                     const std::string& message) {
  if (ctx.log().verbose()) return;
  for (const std::string& error : errors)
    if (error != message) ctx.err() << "quillon3: error: " << error << "\n";
  if (more != 0)
    ctx.err() << "quillon3: error: ... and " << more << " more (quillon3 -v shows the log)\n";
  ctx.log().forget_errors();
}

// The run's exit code. When it did not succeed, one line on stderr, after the errors the
// job logged when it failed.
int outcome(Context& ctx, const Job& job, const char* verb, bool stop_requested,
            const json_spirit::Value& history) {
  size_t more = 0;
  const std::vector<std::string> errors = ctx.log().take_errors(more);
  const std::vector<Job_Event_Record> events = job.events();
  if (events.empty())
    return ctx.fail(std::string(verb) + " did not run: its precondition held it back");
  const Job_Event_Record::Kind kind = events.back().kind;
  const std::string message = events.back().message;
  switch (kind) {
    case Job_Event_Record::SUCCESS: {
      const size_t failed = failed_instances(history);
      if (failed == 0) return EXIT_OK;
      show_job_errors(ctx, errors, more, message);
      return ctx.fail(std::string(verb) + " finished, but " + std::to_string(failed) +
                      " instance(s) failed");
    }
    case Job_Event_Record::CANCELED:
      return ctx.fail(std::string(verb) + " cancelled" + (stop_requested ? " on request" : ""));
    default:
      show_job_errors(ctx, errors, more, message);
      return ctx.fail(std::string(verb) + " failed" + (message.empty() ? "" : ": " + message));
  }
}

// The job thread is detached: after its run completed it may still be returning through
// module code, which must be over before the process ends.
void wait_for_job_threads() {
  const ACE_Time_Value deadline = ACE_OS::gettimeofday() + ACE_Time_Value(THREAD_EXIT_SECONDS);
  ACE_Thread_Manager::instance()->wait(&deadline, false, true);
}

int run_job(Context& ctx, Command_Line& line, size_t first, Job_Kind kind) {
  const Command_Syntax& syntax = kind == Job_Kind::BACKUP ? BACKUP_SYNTAX : RESTORE_SYNTAX;
  const char* const verb = kind == Job_Kind::BACKUP ? "backup" : "restore";
  Parsed_Args args;
  int code = EXIT_OK;
  if (!ctx.parse(syntax, line, first, args, code)) return code;
  std::string error;
  if (!identity_ready(true, error)) return ctx.fail(error);
  Definition_File file;
  if (!load_definition_file(args.operands()[0], kind, file, error)) return ctx.fail(error);

  Signal_Stopper stopper(ctx.err());  // before the module makes any thread
  std::unique_ptr<Module_Link> module = load_module(ctx.module_path(), error);
  if (!module) return ctx.fail(error);
  ctx.log().forget_errors();
  if (!module->parse_job_documents(kind, file.source, file.options, *file.def, error))
    return ctx.fail(error);
  const Job_var job = module->create_job(file.def, error);
  if (job.get() == nullptr) return ctx.fail(error);
  if (stopper.requested()) return ctx.fail(std::string(verb) + " stopped before it started");

  Job_Progress_View view(ctx.err(), progress_mode(args), verb, file.def->id());
  ctx.log().keep_errors();
  if (job->start(nullptr) != 0) return ctx.fail(std::string("the ") + verb + " job did not start");
  stopper.watch(job);
  while (!job->wait_complete(ACE_Time_Value(0, 250 * 1000))) view.update(*job);
  view.finish(*job);
  wait_for_job_threads();

  for (const Job_Alert_Record& alert : job->alerts())
    ctx.warn("alert " + std::to_string(alert.id) + ": " + alert.text);
  const json_spirit::Value history = history_of(*job);
  ctx.out() << printable_json(history) << "\n";
  return outcome(ctx, *job, verb, stopper.requested(), history);
}

}  // namespace

int run_backup(Context& ctx, Command_Line& line, size_t first) {
  return run_job(ctx, line, first, Job_Kind::BACKUP);
}

int run_restore(Context& ctx, Command_Line& line, size_t first) {
  return run_job(ctx, line, first, Job_Kind::RESTORE);
}

}  // namespace runner
