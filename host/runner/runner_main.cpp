// quillon3: the command-line program that plays the backup product on this host. It
// reads the global options, picks the command group and maps every outcome to an exit
// code (0 done, 1 failed, 2 usage error).
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "runner/commands.h"
#include "runner/standard_descriptors.h"
#include "runtime/host_home.h"

namespace runner {

namespace {

const std::vector<Command_Entry>& command_groups() {
  static const std::vector<Command_Entry> groups = {
      {"init", "initialise the host home: identity and RSA key pair", run_init},
      {"account", "register, list, remove and check cloud accounts", run_account},
      {"pool", "register and list storage pools", run_pool},
      {"catalog", "list what the catalog holds", run_catalog},
      {"rpc", "call a JSON-RPC method of the host and print its result", run_rpc},
      {"console", "call the module's console handlers (login, list) and print the reply",
       run_console},
      {"probe", "print what the module's instance handler shows the host's agent",
       run_probe},
      {"backup", "run a backup job from a definition file", run_backup},
      {"restore", "run a restore job from a definition file", run_restore},
  };
  return groups;
}

std::string entry_list(const std::vector<Command_Entry>& entries) {
  std::string text;
  for (const Command_Entry& e : entries) {
    std::string name = std::string("  ") + e.name;
    name.resize(name.size() < 12 ? 12 : name.size() + 1, ' ');
    text += name + e.summary + "\n";
  }
  return text;
}

std::string main_usage() {
  return std::string("Usage: quillon3 [-v] [--module PATH] COMMAND [ARGS...]\n\n") +
         "Plays the backup product on this host. Its home (identity, keys, cloud accounts,\n"
         "pool registry, catalog) is $QUILLON3_ROOT, or " +
         HOST_HOME_DEFAULT + " when unset.\n\nCommands:\n" + entry_list(command_groups()) +
         "\nOptions:\n  -v, --verbose  log to stderr\n"
         "  --module PATH  the module to load (default: libtavrocloud.so beside quillon3)\n"
         "  -h, --help     show this help\n\n"
         "Run 'quillon3 COMMAND --help' for the options of a command.\n";
}

const Command_Entry* find_entry(const std::vector<Command_Entry>& entries,
                                const std::string& name) {
  for (const Command_Entry& e : entries)
    if (name == e.name) return &e;
  return nullptr;
}

int run(Context& ctx, Command_Line& line) {
  size_t i = 0;
  for (; i < line.size() && !line.at(i).empty() && line.at(i)[0] == '-'; ++i) {
    const std::string& word = line.at(i);
    if (word == "-v" || word == "--verbose") {
      ctx.set_verbose(true);
    } else if (word == "--module" || word.compare(0, 9, "--module=") == 0) {
      const bool joined = word.size() > 8;
      if (!joined && i + 1 == line.size()) return ctx.usage_error("", "--module needs a value");
      const std::string path = joined ? word.substr(9) : line.at(++i);
      if (path.empty()) return ctx.usage_error("", "--module needs a value");
      ctx.set_module_path(path);
    } else if (word == "-h" || word == "--help") {
      ctx.out() << main_usage();
      return EXIT_OK;
    } else {
      return ctx.usage_error("", "unknown option " + word);
    }
  }
  if (i == line.size()) {
    ctx.err() << "quillon3: missing command\n" << main_usage();
    return EXIT_USAGE;
  }
  const Command_Entry* group = find_entry(command_groups(), line.at(i));
  if (group == nullptr) return ctx.usage_error("", "unknown command '" + line.at(i) + "'");
  return group->run(ctx, line, i + 1);
}

// A write to a closed pipe fails with EPIPE instead of ending the process: a job whose
// progress or history nobody reads any more still runs to its end or cleans up, and a
// lost output is reported. The scripts a job runs start with the default action again.
void survive_closed_pipes() { ::signal(SIGPIPE, SIG_IGN); }

// True when stdout is a pipe or socket whose reader went away.
bool output_reader_gone() {
  pollfd out = {STDOUT_FILENO, POLLOUT, 0};
  return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
}

// The line that says the output could not be written: what the command did stands
// (`done`, empty when it changed nothing), and why, when known (`error`, 0 when not).
std::string lost_output(const std::string& done, int error) {
  return "quillon3: " + (done.empty() ? std::string() : printable(done) + "; ") +
         "cannot write the output" + (error != 0 ? std::string(": ") + std::strerror(error) : "");
}

// Ends the process as a write to a closed pipe ends a program that keeps SIGPIPE's
// default action (`quillon3 catalog list | head` ends quietly, as `ls | head` does).
[[noreturn]] void end_as_reader_gone() {
  ::signal(SIGPIPE, SIG_DFL);
  ::raise(SIGPIPE);
  ::_exit(EXIT_FAILED);
}

}  // namespace

int dispatch(Context& ctx, Command_Line& line, size_t first, const char* group,
             const std::vector<Command_Entry>& subcommands) {
  const std::string usage = std::string("Usage: quillon3 ") + group +
                            " SUBCOMMAND [OPTIONS]\n\nSubcommands:\n" + entry_list(subcommands) +
                            "\nRun 'quillon3 " + group + " SUBCOMMAND --help' for its options.\n";
  size_t i = first;
  for (; i < line.size() && (line.at(i) == "-v" || line.at(i) == "--verbose"); ++i)
    ctx.set_verbose(true);
  if (i == line.size()) {
    ctx.err() << "quillon3: " << group << ": missing subcommand\n" << usage;
    return EXIT_USAGE;
  }
  const std::string& word = line.at(i);
  if (word == "-h" || word == "--help") {
    ctx.out() << usage;
    return EXIT_OK;
  }
  const Command_Entry* sub = find_entry(subcommands, word);
  if (sub == nullptr)
    return ctx.usage_error(group, "unknown " + std::string(group) + " subcommand '" + word + "'");
  return sub->run(ctx, line, i + 1);
}

}  // namespace runner

int main(int argc, char** argv) {
  bool stdout_closed = false;
  std::string unoccupied;
  if (!runner::occupy_closed_standard_descriptors("/dev/null", stdout_closed, unoccupied)) {
    std::cerr << "quillon3: " << unoccupied << "\n";
    return runner::EXIT_FAILED;
  }
  // What would go to a closed stdout is lost: writing it fails, and the command says so.
  if (stdout_closed) std::cout.setstate(std::ios::badbit);
  runner::survive_closed_pipes();
  runner::Runner_Log log;
  runner::Context ctx(log, std::cout, std::cerr);
  int code = runner::EXIT_FAILED;
  try {
    runner::Command_Line line(argc, argv);
    code = runner::run(ctx, line);
  } catch (const std::exception& e) {
    std::cerr << "quillon3: unexpected failure: " << e.what() << "\n";
    return runner::EXIT_FAILED;
  }
  // A command that failed said why already (a job also when its history was lost). A
  // listing whose reader went away ends quietly; other lost output is reported, with
  // what the command did that stands.
  std::cout.flush();
  if (!std::cout && code == runner::EXIT_OK) {
    const bool gone = !stdout_closed && runner::output_reader_gone();
    if (gone && ctx.done().empty()) runner::end_as_reader_gone();
    std::cerr << runner::lost_output(ctx.done(), stdout_closed ? EBADF : gone ? EPIPE : 0)
              << "\n";
    return runner::EXIT_FAILED;
  }
  return code;
}
