// What every command of quillon3 shares: the exit codes, the log sink (the host's and the
// module's ACE log goes to stderr only with -v, but the last error logged is kept so a
// failure can say why without it, and a job's error lines so a failed job can show
// them), argument parsing with --help and usage errors, the checks of the host home, and
// plain-text tables for the listings.
#ifndef RUNNER_RUNNER_CONTEXT_H
#define RUNNER_RUNNER_CONTEXT_H

#include <ace/Log_Msg_Backend.h>

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "json/value.h"
#include "runner/arg_parser.h"

namespace runner {

enum Exit_Code { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

// One writer at a time on stderr: a job's stop thread, its progress view, the log and the
// command's own lines each hold this lock while they write a line or a group of lines
// (or change the stream's state), so that none cuts into another. Recursive, so that a
// group may hold it around the helpers below, which take it too.
std::recursive_timed_mutex& stderr_mutex();
using Stderr_Lock = std::lock_guard<std::recursive_timed_mutex>;

// The process-wide ACE log backend while it lives: records go to stderr when verbose,
// and the text of the last record of error priority or worse is kept either way; while
// asked to, the distinct texts of such records are kept too (a bounded number). A record
// may quote the cloud: what is printed or kept of it is printable(), one line a record.
class Runner_Log : public ACE_Log_Msg_Backend {
 public:
  Runner_Log();
  ~Runner_Log() override;
  Runner_Log(const Runner_Log&) = delete;
  Runner_Log& operator=(const Runner_Log&) = delete;

  void set_verbose(bool verbose);
  bool verbose() const;
  // The last error logged since the last forget_errors(), trimmed; empty when none.
  std::string last_error() const;
  void forget_errors();
  // From now on keeps the distinct errors logged, trimmed, in order: the first
  // MAX_KEPT_ERRORS; later ones are only counted.
  void keep_errors();
  // The errors kept since keep_errors(), and in `more` how many were only counted; stops
  // keeping them.
  std::vector<std::string> take_errors(size_t& more);

  static constexpr size_t MAX_KEPT_ERRORS = 20;

  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override;

 private:
  mutable std::mutex mutex_;
  bool verbose_ = false;
  std::string last_error_;
  bool keeping_ = false;
  std::vector<std::string> kept_;
  size_t not_kept_ = 0;
};

class Context {
 public:
  Context(Runner_Log& log, std::ostream& out, std::ostream& err);

  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }
  Runner_Log& log() { return log_; }
  void set_verbose(bool verbose) { log_.set_verbose(verbose); }

  // The module the commands load: --module PATH, else libtavrocloud.so next to quillon3.
  void set_module_path(const std::string& path) { module_path_ = path; }
  std::string module_path() const;

  // Parses a command's words. True when the command should run; false when it must
  // return `exit_code` at once: EXIT_OK after printing --help, EXIT_USAGE after a usage
  // error was reported.
  bool parse(const Command_Syntax& syntax, const Command_Line& line, size_t first,
             Parsed_Args& args, int& exit_code);

  // Each of these prints one line on stderr, its text made printable().
  // Reports "quillon3: <what>" and a hint to the command's --help; returns EXIT_USAGE.
  int usage_error(const std::string& command, const std::string& what);
  // Reports "quillon3: <what>", followed by the last error the host or module logged since
  // the last forget_errors() (when there is one); returns EXIT_FAILED.
  int fail(const std::string& what);
  // Reports "quillon3: warning: <what>".
  void warn(const std::string& what);

 private:
  Runner_Log& log_;
  std::ostream& out_;
  std::ostream& err_;
  std::string module_path_;
};

// ---- host home ------------------------------------------------------------------------
// True when the host home exists as a directory.
bool home_exists();
// True when the host identity holds a key pair (the private one too when
// `need_private_key`); otherwise false with `error` telling the user to run init.
bool identity_ready(bool need_private_key, std::string& error);

// ---- output ------------------------------------------------------------------------
// `text` as the runner may print it inside a line of its own: text from the cloud or a
// file may hold a newline that would forge a line, or a control that drives a terminal.
// Newline, carriage return and tab become "\n", "\r" and "\t"; the other C0 controls,
// DEL and any byte that starts no valid UTF-8 sequence "\xNN"; the C1 controls
// (U+0080..U+009F) "\u00NN". Everything else, valid UTF-8 included, stays as it is, so
// that a text already printable comes back unchanged.
std::string printable(const std::string& text);

// The JSON text of `value`, indented as JSON_Dump writes it, with DEL and the C1
// controls, which JSON lets a string hold raw, written as \u escapes: the same value,
// and no control reaches a terminal. "" when the value cannot be written as JSON.
std::string printable_json(const json_spirit::Value& value);

// A copy of `value` in which every secret string and every object member whose name
// speaks of a key, secret, password or token holds "<hidden>" instead: what the runner
// prints of JSON it did not make itself.
json_spirit::Value hide_secrets(const json_spirit::Value& value);

// Writes `rows` under `header` in columns separated by two spaces, each cell printable().
void print_table(std::ostream& out, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows);

}  // namespace runner

#endif  // RUNNER_RUNNER_CONTEXT_H
