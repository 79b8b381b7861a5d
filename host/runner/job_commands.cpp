// `quillon3 backup DEFINITION.json` and `quillon3 restore DEFINITION.json`: the runner
// plays the product's job service. It checks the definition file, loads the module,
// parses the definition's documents with the module's parsers, gets the job from the
// module's job creator and runs it through the host's job engine with a progress view,
// then prints the job's per-instance history. SIGINT, SIGTERM and SIGHUP abort the job
// the way the product's stop command does, and the runner waits until the job cleaned
// up; the third of them ends the runner at once. What the job tells (its alerts, the
// warnings it logs) is shown as it happens, each alert as an error or a warning by its
// level; the errors it logged are shown once it ended, when it did not do all its work.
// The exit status tells what the run left undone (a failed instance, a source entry or
// an instance of the source it skipped, an instance left powered off), never how many
// lines it showed: an alert of a try that a later try of its instance completed is shown
// and said to be mended, and fails nothing.
#include <signal.h>
#include <unistd.h>

#include <ace/Thread_Manager.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "job_engine/job_alert.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "runner/commands.h"
#include "runner/job_definition_file.h"
#include "runner/job_progress.h"
#include "runner/module_link.h"
#include "runner/stop_line_writer.h"
#include "tavrocloud/job/restore_result.h"

namespace runner {

namespace {

const Command_Syntax BACKUP_SYNTAX = {
    "backup",
    "Backs up the cloud instances that DEFINITION.json names into its target pool, then\n"
    "prints the job's history (JSON). The definition file is described in\n"
    "docs/definitions.md. Ctrl-C, SIGTERM or a hang-up stops the job cleanly; a third\n"
    "stop ends quillon3 at once, without cleaning up.\n",
    "DEFINITION.json",
    {{"quiet", nullptr, false, "show no progress"}},
    1,
    1};

const Command_Syntax RESTORE_SYNTAX = {
    "restore",
    "Restores the backed-up instances that DEFINITION.json names, then prints the job's\n"
    "history (JSON). The definition file is described in docs/definitions.md. Ctrl-C,\n"
    "SIGTERM or a hang-up stops the job cleanly; a third stop ends quillon3 at once,\n"
    "without cleaning up.\n",
    "DEFINITION.json",
    {{"quiet", nullptr, false, "show no progress"}},
    1,
    1};

// How long a job thread may take, after the run completed, to leave module code.
const int THREAD_EXIT_SECONDS = 10;

// What an alert at the error level says of the run's work, by the alert's id. The first
// four leave work undone whatever became of the instances; a try's alert leaves undone
// only what the history says failed, as a later try may complete its instance.
enum class Alert_Kind {
  ENTRY_NOT_LISTED,  // a source entry whose instances could not be had
  INSTANCE_SKIPPED,  // an instance the source names that the module never backs up
  NAMELESS,          // an instance without a name, never backed up
  LEFT_OFF,          // an instance that could not be powered on after its backup
  NOT_DONE_COUNT,    // how many instances were not done: the history's failures
  TRY,               // a try of an instance that failed (a login, a snapshot, ...)
  OTHER,             // an alert the runner does not know: it fails the run
};

struct Alert_Meaning {
  unsigned long id;
  Alert_Kind kind;
  bool names_instance;  // the alert's first argument is the instance's id
};

const Alert_Meaning ALERT_MEANINGS[] = {
    {1, Alert_Kind::TRY, false},  // a try's login; the job's own, when it fails, fails the job
    {2, Alert_Kind::TRY, true},
    {3, Alert_Kind::TRY, true},
    {4, Alert_Kind::TRY, true},
    {5, Alert_Kind::LEFT_OFF, true},
    {6, Alert_Kind::TRY, false},
    {7, Alert_Kind::ENTRY_NOT_LISTED, false},
    {8, Alert_Kind::TRY, true},
    {9, Alert_Kind::TRY, true},
    {10, Alert_Kind::NOT_DONE_COUNT, false},
    {11, Alert_Kind::NAMELESS, true},
    {20, Alert_Kind::INSTANCE_SKIPPED, true},
};

const Alert_Meaning* meaning_of(unsigned long id) {
  for (const Alert_Meaning& m : ALERT_MEANINGS)
    if (m.id == id) return &m;
  return nullptr;
}

// The first argument of an alert, when it is a text; "?" otherwise, so that an alert meant
// to name its instance but naming none is still counted as named (and undone).
std::string first_argument(const json_spirit::Value& args) {
  if (args.type() != json_spirit::array_type || args.get_array().empty() ||
      args.get_array()[0].type() != json_spirit::str_type)
    return "?";
  return args.get_array()[0].get_str();
}

// Error records that only follow a cause an earlier line names: the scheduler refusing
// to run a failed task again, the client's miss whose caller names what it looked for,
// an executor's summary of entries refused or skipped one by one. Left out without -v
// when another error was shown.
const char* const FOLLOW_ON_ERRORS[] = {
    "Failed to enqueue task",
    " size not 1, size is ",
    "Failed to query tavro instance by entry id ",
    "Invalid tavro job entries",
    "Failed to restore tavro instances, no entry",
};

// What the runner says it got: Ctrl-C, a kill, a closed terminal or dropped session.
const char* stop_word(int sig) {
  switch (sig) {
    case SIGINT: return "interrupted";
    case SIGHUP: return "hung up";
    default: return "terminated";
  }
}

// What a run ended at once may leave behind, as the job cleans up nothing: the third
// stop's last word.
std::string left_by_ending(Job_Kind kind) {
  if (kind == Job_Kind::RESTORE)
    return "the cloud may keep the restore's new instances, their network interfaces and the "
           "volumes it made, to be removed by hand, and a volume it was writing can stay "
           "attached to the agent's own instance";
  return "the cloud may keep the backup's temporary snapshots (the next backup of each "
         "instance clears them) and, on a cloud before 9.8, its instance backups with their "
         "snapshots and the volumes made from them, and a volume it was reading can stay "
         "attached to the agent's own instance; the pool may keep complete images that no "
         "catalog record names, and empty folders; an instance that restart_vm powered off "
         "stays off";
}

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread, and so in every thread made
// after it, and takes them on a thread of its own. The first asks the watched job to
// abort (which the job turns into a cancellation with clean-up where it can still undo
// its work; past that point it completes); one that comes before a job is watched is
// remembered. Its line says only that: how the run ended is the run's last line. The
// second says the job is still at it. The third ends the process at once, exit 1, saying
// what may be left when stderr takes its line within seconds. Each stop is acted on
// before its line is handed to the writer, and the stop thread never waits on stderr.
// The signals stay blocked when the watcher goes, so a late Ctrl-C cannot cut the output
// short. Its lines go through the progress view, which must outlive it.
class Signal_Stopper {
 public:
  Signal_Stopper(Job_Progress_View& view, Job_Kind kind)
      : kind_(kind), signals_(block_stop_signals()), writer_(view) {
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
  // The watched run is over: a stop no longer touches the job (whose record keeps the
  // state the run ended in).
  void run_over() {
    std::lock_guard<std::mutex> lock(mutex_);
    over_ = true;
  }
  bool requested() const { return requested_; }

 private:
  // How long the third stop waits for stderr to take its line (and the stop lines before
  // it) before it ends the process without them.
  static constexpr int LAST_WORD_SECONDS = 2;

  // Blocks the stop signals in the calling thread, before any thread of the stopper's is
  // made: a thread made before would take them with their default action. The set.
  static sigset_t block_stop_signals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
  }

  void run() {
    while (!done_) {
      timespec wait = {0, 200 * 1000 * 1000};
      const int sig = ::sigtimedwait(&signals_, nullptr, &wait);
      if (sig > 0) take(sig);
    }
  }

  void take(int sig) {
    const std::string said = std::string("\nquillon3: ") + stop_word(sig) + ": ";
    const std::string verb = kind_ == Job_Kind::BACKUP ? "backup" : "restore";
    switch (++stops_) {
      case 1:
        first_stop();
        // True whether the job then cancels or, past the point where it could stop,
        // completes: the run's last line says which.
        writer_.hand(said + "asking the " + verb + " to stop; it removes what it can still " +
                     "undo and keeps what is past undoing\n");
        return;
      case 2:
        writer_.hand(said + "the " + verb + " is still at it; a third stop ends quillon3 now, " +
                     "without cleaning up\n");
        return;
      default:
        end_now(said);
    }
  }

  // Takes the first stop: asks the job to abort (the module decides what still stops).
  void first_stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    requested_ = true;
    abort_locked();
  }

  [[noreturn]] void end_now(const std::string& said) {
    bool started = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      started = job_.get() != nullptr && !over_;
    }
    const size_t place = writer_.hand(said + "ending now, without cleaning up" +
                                      (started ? "; " + left_by_ending(kind_) : std::string()) +
                                      "\n");
    writer_.written_within(place, LAST_WORD_SECONDS);
    // The job's threads are still in module code, and the writer may be held by stderr:
    // nothing may be torn down under them.
    ::_exit(EXIT_FAILED);
  }

  void abort_locked() {
    if (job_.get() == nullptr || aborted_ || over_) return;
    aborted_ = true;
    job_->abort();
  }

  const Job_Kind kind_;
  const sigset_t signals_;    // blocked before the writer's thread is made
  Stop_Line_Writer writer_;  // before the stop thread, which hands it lines
  std::atomic<bool> done_{false};
  std::atomic<bool> requested_{false};
  int stops_ = 0;  // the stop thread's own
  std::mutex mutex_;
  Job_var job_;
  bool aborted_ = false;
  bool over_ = false;
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

// The uuids of the instances of `history` whose state is `state`.
std::vector<std::string> instances_in(const json_spirit::Value& history, const char* state) {
  std::vector<std::string> ids;
  if (history.type() != json_spirit::array_type) return ids;
  const json_spirit::Value wanted(state);
  for (const json_spirit::Value& h : history.get_array()) {
    if (h.type() != json_spirit::obj_type) continue;
    const json_spirit::Object& obj = h.get_obj();
    const auto found = obj.find("state");
    if (found == obj.end() || !(found->second == wanted)) continue;
    const auto uuid = obj.find("uuid");
    const bool named = uuid != obj.end() && uuid->second.type() == json_spirit::str_type;
    ids.push_back(named ? uuid->second.get_str() : "?");
  }
  return ids;
}

// The string member `key` of `object`; empty when there is none.
std::string string_member(const json_spirit::Value& object, const char* key) {
  if (object.type() != json_spirit::obj_type) return std::string();
  const auto it = object.get_obj().find(key);
  const bool text = it != object.get_obj().end() && it->second.type() == json_spirit::str_type;
  return text ? it->second.get_str() : std::string();
}

// What the completed instance `id` left for good: its backup set, or what its restore
// made, as the definition's entry for it names it (the new instance's id is the cloud's).
std::string kept_by(const Definition_File& file, const json_spirit::Value& entries,
                    const std::string& id) {
  if (file.kind == Job_Kind::BACKUP) return "the backup set of " + id;
  if (entries.type() == json_spirit::array_type) {
    for (const json_spirit::Value& entry : entries.get_array()) {
      if (string_member(entry, "src_instance_id") != id) continue;
      if (file.def->subtype() == JOB_DEFINITION_SUBTYPE_DISK)
        return "the volumes restored onto " + string_member(entry, "target_instance_id") +
               " (from " + id + ")";
      const std::string name = string_member(entry, "target_instance_name");
      return (name.empty() ? std::string("an unnamed new instance") : "the new instance " + name) +
             " (restored from " + id + ")";
    }
  }
  return "the restore of " + id;
}

// One line per instance a restore completed, on stderr: the new instance's id and name
// or, onto an existing instance, each volume made and the device it was attached as. The
// module records these facts in the job's result under RESTORED_RESULT_KEY.
void show_restored(Context& ctx, const Definition_File& file, const Job& job) {
  const Stderr_Lock lock(stderr_mutex());
  const json_spirit::Object result = job.result();
  const auto made = result.find(tavrocloud::RESTORED_RESULT_KEY);
  if (made == result.end() || made->second.type() != json_spirit::array_type) return;
  const bool onto = file.def->subtype() == JOB_DEFINITION_SUBTYPE_DISK;
  for (const json_spirit::Value& facts : made->second.get_array()) {
    if (facts.type() != json_spirit::obj_type) continue;
    const std::string target = string_member(facts, "instance_id");
    std::string line = "restored " + string_member(facts, "uuid");
    if (!onto) {
      const std::string name = string_member(facts, "instance_name");
      line += " as the new instance " + target + " (" + (name.empty() ? "unnamed" : name) + ")";
    } else {
      line += " onto instance " + target + ":";
      const auto volumes = facts.get_obj().find("volumes");
      const char* separator = " volume ";
      if (volumes != facts.get_obj().end() && volumes->second.type() == json_spirit::array_type)
        for (const json_spirit::Value& v : volumes->second.get_array()) {
          line += separator + string_member(v, "id") + " as " + string_member(v, "device");
          separator = ", volume ";
        }
    }
    ctx.err() << "quillon3: " << printable(line) << "\n";
  }
}

// What the job's completed instances left, for a user who asked it to stop.
std::string kept_work(const Definition_File& file, const json_spirit::Value& history) {
  const json_spirit::Value source = JSON_Load(file.source);
  const json_spirit::Value entries =
      source.type() == json_spirit::obj_type && source.get_obj().count("entries") != 0
          ? source.get_obj().at("entries")
          : json_spirit::Value();
  std::string kept;
  for (const std::string& id : instances_in(history, "completed"))
    kept += (kept.empty() ? "" : ", ") + kept_by(file, entries, id);
  return kept;
}

// True when `text` (as kept: printable) is the log line write_job_alert gives an alert
// of the job `def_id`, which the runner shows as the alert itself.
bool is_alert_line(const std::string& text, const std::string& def_id) {
  const std::string head = "Job " + printable(def_id) + " raised alert ";
  return text.compare(0, head.size(), head) == 0;
}

bool is_follow_on(const std::string& error) {
  return std::any_of(std::begin(FOLLOW_ON_ERRORS), std::end(FOLLOW_ON_ERRORS),
                     [&error](const char* form) { return error.find(form) != std::string::npos; });
}

// True when `error` is the host's line for a cloud request that failed and another of
// `lines` quotes its cause, saying what the request was for: the request's own line adds
// only its address, and the cause is said once.
bool quoted_by_another(const std::string& error, const std::vector<std::string>& lines) {
  static const std::string HEAD = "Cloud request ";
  static const std::string FAILED = " failed: ";
  const size_t at = error.find(FAILED);
  if (error.compare(0, HEAD.size(), HEAD) != 0 || at == std::string::npos) return false;
  const std::string cause = error.substr(at + FAILED.size());
  return !cause.empty() && std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return &line != &error && line.find(cause) != std::string::npos;
  });
}

// What the job's alerts at the error level said, as the runner showed them.
struct Alert_Report {
  size_t errors = 0;
  size_t entries_not_listed = 0;
  size_t instances_skipped = 0;
  size_t nameless = 0;
  size_t left_off = 0;
  size_t not_done_counts = 0;
  size_t unknown = 0;
  std::vector<std::string> tries;  // the instance each try's alert named; "" for none
};

// What became of the tries whose alerts were shown, as the history tells.
struct Tries_Outcome {
  std::vector<std::string> completed_later;  // instances a later try completed, each once
  bool unnamed_completed = false;  // alerts that name no instance, and every instance completed
  size_t undone = 0;  // alerts of instances the history neither completed nor failed
};

// The state the history gives instance `id`; empty when it has no entry.
std::string state_of(const json_spirit::Value& history, const std::string& id) {
  if (history.type() != json_spirit::array_type) return std::string();
  for (const json_spirit::Value& h : history.get_array())
    if (string_member(h, "uuid") == id) return string_member(h, "state");
  return std::string();
}

// True when every instance of `history` completed or was left out by the job's own choice.
bool every_instance_done(const json_spirit::Value& history) {
  if (history.type() != json_spirit::array_type) return false;
  return std::all_of(history.get_array().begin(), history.get_array().end(),
                     [](const json_spirit::Value& h) {
                       const std::string state = string_member(h, "state");
                       return state == "completed" || state == "skipped";
                     });
}

// A failed instance is counted by the history; a completed one was mended by a later try.
Tries_Outcome tries_outcome(const Alert_Report& alerts, const json_spirit::Value& history) {
  Tries_Outcome out;
  for (const std::string& id : alerts.tries) {
    if (id.empty()) {
      out.unnamed_completed = every_instance_done(history);
      continue;
    }
    const std::string state = state_of(history, id);
    const auto& later = out.completed_later;
    if (state == "completed" && std::find(later.begin(), later.end(), id) == later.end())
      out.completed_later.push_back(id);
    else if (state != "completed" && state != "failed")
      ++out.undone;
  }
  return out;
}

// The errors the failed job logged, when not verbose (which showed them already): the
// last line alone seldom names the cause. Left out: the job's last message (the last
// line says it), the alerts' own log lines, and follow-on lines when something else
// names the cause. Internal checks are never shown here; when nothing else would be,
// one line says that -v shows them.
struct Job_Errors {
  std::vector<std::string> texts;
  size_t more = 0;      // only counted
  size_t internal = 0;  // internal check records left out
};

void show_job_errors(Context& ctx, const Job_Errors& errors, const std::string& message,
                     const std::string& def_id, const Alert_Report& alerts) {
  if (ctx.log().verbose()) return;
  std::vector<std::string> shown;
  for (const std::string& error : errors.texts)
    if (error != printable(message) && !is_alert_line(error, def_id)) shown.push_back(error);
  const bool explained = alerts.errors != 0 ||
                         std::any_of(shown.begin(), shown.end(),
                                     [](const std::string& e) { return !is_follow_on(e); });
  std::vector<std::string> told;
  for (const std::string& error : shown)
    if (!explained || !is_follow_on(error)) told.push_back(error);
  for (const std::string& error : told)
    if (!quoted_by_another(error, told)) ctx.err() << "quillon3: error: " << error << "\n";
  if (errors.more != 0)
    ctx.err() << "quillon3: error: ... and " << errors.more
              << " more (quillon3 -v shows the log)\n";
  else if (errors.internal != 0 && told.empty() && alerts.errors == 0 && message.empty())
    ctx.err() << "quillon3: error: an internal check of the module failed (quillon3 -v shows "
                 "where)\n";
  ctx.log().forget_errors();
}

// What the runner knows of a finished run besides the job's events.
struct Run_Summary {
  std::string verb;
  std::string def_id;
  bool stop_requested = false;
  json_spirit::Value history;
  Alert_Report alerts;
  Tries_Outcome tries;
  std::string kept;  // what the completed instances left
};

// What a job that succeeded still left undone: empty when nothing.
std::string shortfall(const Run_Summary& run) {
  const size_t failed = instances_in(run.history, "failed").size();
  const Alert_Report& alerts = run.alerts;
  // Alerts that no failed instance accounts for.
  const size_t unexplained =
      alerts.unknown + run.tries.undone + (failed == 0 ? alerts.not_done_counts : 0);
  const std::pair<size_t, const char*> parts[] = {
      {failed, "instance(s) failed"},
      {alerts.instances_skipped, "instance(s) named in the source were skipped"},
      {alerts.nameless, "instance(s) without a name were skipped"},
      {alerts.entries_not_listed, "source entry(ies) were not found or could not be listed"},
      {alerts.left_off, "instance(s) could not be powered on again"},
      {unexplained, "error(s) named above"},
  };
  std::vector<std::string> said;
  for (const auto& [count, what] : parts)
    if (count != 0) said.push_back(std::to_string(count) + " " + what);
  std::string text;
  for (size_t i = 0; i < said.size(); ++i)
    text += (i == 0 ? "" : i + 1 == said.size() ? " and " : ", ") + said[i];
  return text;
}

// One line per instance that completed on a later try after an alert of an earlier one,
// and one for alerts that name no instance when every instance completed all the same.
void show_mended(Context& ctx, const Run_Summary& run) {
  for (const std::string& id : run.tries.completed_later)
    ctx.err() << "quillon3: " << printable(id)
              << " completed on a later try; the error(s) above from its earlier try left "
                 "nothing undone\n";
  if (run.tries.unnamed_completed)
    ctx.err() << "quillon3: every instance completed; the error(s) above that name no instance "
                 "came from tries that a later try completed\n";
}

// The run's exit code. When it did not succeed, one line on stderr, after the errors the
// job logged when it failed. A stop that came once the job could no longer stop is told
// with what the job kept.
int outcome(Context& ctx, const Job& job, const Run_Summary& run) {
  const Stderr_Lock lock(stderr_mutex());
  Job_Errors errors;
  errors.texts = ctx.log().take_errors(errors.more, errors.internal);
  const std::vector<Job_Event_Record> events = job.events();
  if (events.empty()) {
    // What became of the script comes first, then the line that says it held the job.
    const std::string held = ctx.log().last_error();
    show_job_errors(ctx, errors, held, run.def_id, run.alerts);
    return ctx.fail(run.verb + " did not run: its precondition held it back" +
                    (held.empty() ? "" : ": " + held));
  }
  const Job_Event_Record::Kind kind = events.back().kind;
  const std::string message = events.back().message;
  show_mended(ctx, run);
  switch (kind) {
    case Job_Event_Record::SUCCESS: {
      if (run.stop_requested)
        ctx.err() << "quillon3: the stop came after the " << run.verb
                  << " had passed the point where it could stop; it completed"
                  << (run.kept.empty() ? "" : " and kept " + printable(run.kept)) << "\n";
      const std::string undone = shortfall(run);
      if (undone.empty()) return EXIT_OK;
      show_job_errors(ctx, errors, message, run.def_id, run.alerts);
      return ctx.fail(run.verb + " finished, but " + undone);
    }
    case Job_Event_Record::CANCELED:
      // The job's own word on a stop it was asked for adds nothing.
      if (run.stop_requested) ctx.log().forget_errors();
      return ctx.fail(run.verb + " cancelled" + (run.stop_requested ? " on request" : "") +
                      (run.kept.empty() ? "" : "; it kept what completed before the stop: " +
                                                   run.kept));
    default:
      show_job_errors(ctx, errors, message, run.def_id, run.alerts);
      return ctx.fail(run.verb + " failed" + (message.empty() ? "" : ": " + message));
  }
}

// Shows what the job tells while it runs, through the progress view (the bars are drawn
// again below): each new alert as an error or a warning by its level, then the warnings
// the job logged, without -v each line only the first time. Called on the runner's own
// thread: the job's threads only queue.
class Job_News {
 public:
  Job_News(Context& ctx, Job_Progress_View& view, std::string def_id)
      : ctx_(ctx), view_(view), def_id_(std::move(def_id)) {}

  // Shows what came since the last call.
  void tell(const Job& job) {
    std::string lines;
    const std::vector<Job_Alert_Record> alerts = job.alerts();
    for (size_t i = told_; i < alerts.size(); ++i) add(lines, alert_line(alerts[i]));
    told_ = alerts.size();
    size_t dropped = 0;
    for (const std::string& warning : ctx_.log().take_warnings(dropped))
      if (!is_alert_line(warning, def_id_)) add(lines, "quillon3: warning: " + warning + "\n");
    if (dropped != 0)
      lines += "quillon3: warning: ... and " + std::to_string(dropped) +
               " more (quillon3 -v shows the log)\n";
    if (!lines.empty()) view_.say(lines);
  }
  const Alert_Report& report() const { return report_; }

 private:
  std::string alert_line(const Job_Alert_Record& alert) {
    std::string text = alert.text;
    if (!text.empty() && text.back() == '.') text.pop_back();
    const bool error = alert.level >= Error_ID::LEVEL_ERROR;
    if (error) count(alert);
    return std::string("quillon3: ") + (error ? "error: " : "warning: ") + printable(text) + "\n";
  }

  void add(std::string& lines, const std::string& line) {
    if (ctx_.log().verbose() || shown_.first_time(line)) lines += line;
  }

  void count(const Job_Alert_Record& alert) {
    ++report_.errors;
    const Alert_Meaning* meaning = meaning_of(alert.id);
    switch (meaning != nullptr ? meaning->kind : Alert_Kind::OTHER) {
      case Alert_Kind::ENTRY_NOT_LISTED: ++report_.entries_not_listed; return;
      case Alert_Kind::INSTANCE_SKIPPED: ++report_.instances_skipped; return;
      case Alert_Kind::NAMELESS: ++report_.nameless; return;
      case Alert_Kind::LEFT_OFF: ++report_.left_off; return;
      case Alert_Kind::NOT_DONE_COUNT: ++report_.not_done_counts; return;
      case Alert_Kind::TRY:
        report_.tries.push_back(meaning->names_instance ? first_argument(alert.args) : "");
        return;
      case Alert_Kind::OTHER: ++report_.unknown; return;
    }
  }

  Context& ctx_;
  Job_Progress_View& view_;
  const std::string def_id_;
  size_t told_ = 0;
  Shown_Lines shown_;
  Alert_Report report_;
};

// Prints the history on stdout; false when it could not be written (a closed pipe, a
// full disk, cloud text that is not valid UTF-8), said on stderr: the job's work stands
// all the same.
bool print_history(Context& ctx, const std::string& verb, const json_spirit::Value& history) {
  const bool closed = !ctx.out();  // stdout was closed when quillon3 started
  const std::string text = printable_json(history);
  errno = 0;
  if (!text.empty()) ctx.out() << text << "\n" << std::flush;
  if (!text.empty() && ctx.out()) return true;
  const int error = closed ? EBADF : errno;
  const std::string why = text.empty() ? ": it holds text that is not valid UTF-8"
                          : error != 0 ? ": " + std::generic_category().message(error)
                                       : std::string();
  const Stderr_Lock lock(stderr_mutex());
  ctx.err() << "quillon3: cannot write the " << verb << "'s history to stdout" << why
            << "; what the job completed is kept\n";
  return false;
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

  Job_Progress_View view(ctx.err(), progress_mode(args), verb, file.def->id());
  Signal_Stopper stopper(view, kind);  // before the module makes any thread
  std::unique_ptr<Module_Link> module = load_module(ctx.module_path(), error);
  if (!module) return ctx.fail(error);
  ctx.log().forget_errors();
  if (!module->parse_job_documents(kind, file.source, file.options, *file.def, error))
    return ctx.fail(error);
  const Job_var job = module->create_job(file.def, error);
  if (job.get() == nullptr) return ctx.fail(error);
  if (stopper.requested()) return ctx.fail(std::string(verb) + " stopped before it started");

  ctx.log().keep_errors();
  if (job->start(nullptr) != 0) return ctx.fail(std::string("the ") + verb + " job did not start");
  stopper.watch(job);
  Job_News news(ctx, view, file.def->id());
  while (!job->wait_complete(ACE_Time_Value(0, 250 * 1000))) {
    news.tell(*job);
    view.update(*job);
  }
  stopper.run_over();
  wait_for_job_threads();
  news.tell(*job);
  view.finish(*job);

  Run_Summary run;
  run.verb = verb;
  run.def_id = file.def->id();
  run.alerts = news.report();
  {
    // A progress line that could not be shown left the stream failed; the outcome is
    // still worth a try.
    const Stderr_Lock lock(stderr_mutex());
    ctx.err().clear();
  }
  run.history = history_of(*job);
  run.tries = tries_outcome(run.alerts, run.history);
  const bool printed = print_history(ctx, verb, run.history);
  if (kind == Job_Kind::RESTORE) show_restored(ctx, file, *job);
  run.stop_requested = stopper.requested();
  if (run.stop_requested) run.kept = kept_work(file, run.history);
  code = outcome(ctx, *job, run);
  return printed ? code : EXIT_FAILED;
}

}  // namespace

int run_backup(Context& ctx, Command_Line& line, size_t first) {
  return run_job(ctx, line, first, Job_Kind::BACKUP);
}

int run_restore(Context& ctx, Command_Line& line, size_t first) {
  return run_job(ctx, line, first, Job_Kind::RESTORE);
}

}  // namespace runner
