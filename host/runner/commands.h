// The command groups of quillon3, one source file each (init_command.cpp,
// account_commands.cpp, pool_commands.cpp, catalog_commands.cpp, rpc_command.cpp,
// console_commands.cpp for console and probe, job_commands.cpp for backup and restore),
// and the dispatch of a group's sub-commands. runner_main.cpp picks the group by its word.
#ifndef RUNNER_COMMANDS_H
#define RUNNER_COMMANDS_H

#include <cstddef>
#include <vector>

#include "runner/arg_parser.h"
#include "runner/runner_context.h"

namespace runner {

// Runs a command whose words start at `first` of `line`; returns the process's exit code.
using Command_Fn = int (*)(Context& ctx, Command_Line& line, size_t first);

struct Command_Entry {
  const char* name;
  const char* summary;
  Command_Fn run;
};

// Runs the sub-command of `group` named by the word at `first`; reports a missing or
// unknown one as a usage error and answers --help with the list of sub-commands.
int dispatch(Context& ctx, Command_Line& line, size_t first, const char* group,
             const std::vector<Command_Entry>& subcommands);

int run_init(Context& ctx, Command_Line& line, size_t first);
int run_account(Context& ctx, Command_Line& line, size_t first);
int run_pool(Context& ctx, Command_Line& line, size_t first);
int run_catalog(Context& ctx, Command_Line& line, size_t first);
int run_rpc(Context& ctx, Command_Line& line, size_t first);
int run_console(Context& ctx, Command_Line& line, size_t first);
int run_probe(Context& ctx, Command_Line& line, size_t first);
int run_backup(Context& ctx, Command_Line& line, size_t first);
int run_restore(Context& ctx, Command_Line& line, size_t first);

}  // namespace runner

#endif  // RUNNER_COMMANDS_H
