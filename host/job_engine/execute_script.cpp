#include "job_engine/execute_script.h"

#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

void deliver(ACE_Log_Msg_Callback* callback, const std::string& line) {
  if (callback == nullptr) return;
  ACE_Log_Record record(LM_INFO, ACE_OS::gettimeofday(), ACE_OS::getpid());
  const std::string text = line + "\n";
  record.msg_data(text.c_str());
  callback->log(record);
}

// Reads `fd` to its end, handing over each complete line, then any unterminated rest.
void forward_lines(int fd, ACE_Log_Msg_Callback* callback) {
  std::string pending;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buf, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
      deliver(callback, pending.substr(start, nl - start));
    pending.erase(0, start);
  }
  if (!pending.empty()) deliver(callback, pending);
}

int wait_for(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

bool execute_script(const std::string& script, bool background, ACE_Log_Msg_Callback* callback) {
  if (script.empty()) return true;
  if (background) {
    ACE_ERROR((LM_ERROR, "Scripts cannot run in the background.\n"));
    return false;
  }
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to make a pipe for a job script, %m\n"));
    return false;
  }
  auto close_read = make_deleter([&] { ::close(fds[0]); });
  auto close_write = make_deleter([&] { ::close(fds[1]); });

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) return false;
  auto destroy_actions = make_deleter([&] { ::posix_spawn_file_actions_destroy(&actions); });
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

  char sh[] = "sh";
  char dash_c[] = "-c";
  std::string text = script;
  char* argv[] = {sh, dash_c, &text[0], nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ);
  close_write.reset();
  if (rc != 0) {
    errno = rc;
    ACE_ERROR((LM_ERROR, "Failed to run a job script, %m\n"));
    return false;
  }
  forward_lines(fds[0], callback);
  const int status = wait_for(pid);
  if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (status >= 0 && WIFEXITED(status))
    ACE_ERROR((LM_WARNING, "Job script exited with status %d.\n", WEXITSTATUS(status)));
  else if (status >= 0 && WIFSIGNALED(status))
    ACE_ERROR((LM_WARNING, "Job script was killed by signal %d.\n", WTERMSIG(status)));
  else
    ACE_ERROR((LM_ERROR, "Failed to wait for a job script, %m\n"));
  return false;
}
