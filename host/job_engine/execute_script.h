// Runs a job definition's shell scripts (precondition, pre-action, post-action) for the
// job executors, handing each line of the script's output to a log callback.
#ifndef HOST_JOB_ENGINE_EXECUTE_SCRIPT_H
#define HOST_JOB_ENGINE_EXECUTE_SCRIPT_H

#include <ace/Log_Msg_Callback.h>

#include <string>

// Runs `script` with "/bin/sh -c" (stdin from /dev/null) and waits for it. Every line
// it writes to stdout or stderr goes, in order, to `callback` as an LM_INFO record (no
// callback: the output is dropped). When a process the script started outlives it and
// keeps its output open, the output is read for a few seconds after the script's exit,
// then cut (logged). True when the script exited with status 0, or when `script` is
// empty (nothing to run). `background` must be false: scripts are always waited for
// (true is refused: false, logged). On failure, what became of the script ("exited with
// status 3", "was killed by signal 9 (Killed)", "could not be run: ...") is logged at
// error priority, without the script's text: a command line may hold a password, and
// the caller, which knows which script it ran, names it by its role.
bool execute_script(const std::string& script, bool background, ACE_Log_Msg_Callback* callback);

#endif  // HOST_JOB_ENGINE_EXECUTE_SCRIPT_H
