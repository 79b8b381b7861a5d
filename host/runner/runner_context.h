// What every command of quillon3 shares: the exit codes, the log sink (the host's and the
// module's ACE log goes to stderr only with -v, but the last error logged is kept so a
// failure can say why without it, and a job's error lines so a failed job can show
// them), argument parsing with --help and usage errors, the checks of the host home, and
// what the runner prints (runner_output.h).
#ifndef RUNNER_RUNNER_CONTEXT_H
#define RUNNER_RUNNER_CONTEXT_H

#include <ostream>
#include <string>

#include "runner/arg_parser.h"
#include "runner/runner_output.h"

namespace runner {

enum Exit_Code { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

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

  // Records what the command did that stands whether or not its output can be written
  // ("pool main (UUID) was registered at DIR"): when stdout cannot take the output, the
  // line that says so names it. Empty for a command that changes nothing.
  void set_done(const std::string& what) { done_ = what; }
  const std::string& done() const { return done_; }

 private:
  Runner_Log& log_;
  std::ostream& out_;
  std::ostream& err_;
  std::string module_path_;
  std::string done_;
};

// ---- host home ------------------------------------------------------------------------
// True when the host home exists as a directory.
bool home_exists();
// True when the host identity holds a key pair (the private one too when
// `need_private_key`); otherwise false with `error` telling the user to run init.
bool identity_ready(bool need_private_key, std::string& error);

}  // namespace runner

#endif  // RUNNER_RUNNER_CONTEXT_H
