#include "runner/runner_context.h"

#include <sys/stat.h>

#include "identity/host_manager.h"
#include "runner/module_link.h"
#include "runtime/host_home.h"

namespace runner {

Context::Context(Runner_Log& log, std::ostream& out, std::ostream& err)
    : log_(log), out_(out), err_(err) {}

std::string Context::module_path() const {
  return module_path_.empty() ? default_module_path() : module_path_;
}

bool Context::parse(const Command_Syntax& syntax, const Command_Line& line, size_t first,
                    Parsed_Args& args, int& exit_code) {
  std::string error;
  if (!parse_command(syntax, line, first, args, error)) {
    exit_code = usage_error(syntax.path, error);
    return false;
  }
  if (args.help()) {
    out_ << format_usage(syntax);
    exit_code = EXIT_OK;
    return false;
  }
  if (args.verbose()) set_verbose(true);
  return true;
}

int Context::usage_error(const std::string& command, const std::string& what) {
  const Stderr_Lock lock(stderr_mutex());
  err_ << "quillon3: " << printable(what) << "\n";
  err_ << "Try 'quillon3 " << command << (command.empty() ? "" : " ") << "--help'.\n";
  return EXIT_USAGE;
}

int Context::fail(const std::string& what) {
  const std::string reason = log_.last_error();  // printable already
  const std::string shown = printable(what);
  const Stderr_Lock lock(stderr_mutex());
  err_ << "quillon3: " << shown;
  if (!reason.empty() && shown.find(reason) == std::string::npos) err_ << ": " << reason;
  err_ << "\n";
  return EXIT_FAILED;
}

void Context::warn(const std::string& what) {
  const Stderr_Lock lock(stderr_mutex());
  err_ << "quillon3: warning: " << printable(what) << "\n";
}

bool home_exists() {
  struct stat st;
  return ::stat(host_home().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool identity_ready(bool need_private_key, std::string& error) {
  const Host_Manager& host = Host_Manager::instance();
  if (!host.rsa_pubkey().empty() && (!need_private_key || !host.rsa_prvkey().empty())) return true;
  error = "the host home " + host_home() + " has no " +
          (host.rsa_pubkey().empty() ? "public" : "private") + " key; run 'quillon3 init' first";
  return false;
}

}  // namespace runner
