#include "job_engine/execute_script.h"

#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Record.h>
#include <ace/OS_NS_sys_time.h>
#include <ace/OS_NS_unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// How long the output of a script that has exited is still read, and how often a script
// whose output pipe is still open is checked for its exit.
constexpr std::chrono::seconds OUTPUT_GRACE{3};
constexpr std::chrono::milliseconds POLL_STEP{100};
constexpr int NOT_EXITED = -2;

void deliver(ACE_Log_Msg_Callback* callback, const std::string& line) {
  if (callback == nullptr) return;
  ACE_Log_Record record(LM_INFO, ACE_OS::gettimeofday(), ACE_OS::getpid());
  const std::string text = line + "\n";
  record.msg_data(text.c_str());
  callback->log(record);
}

// Hands the output of a script over line by line. A line longer than MAX_LINE is handed
// over in pieces, so that output without line breaks cannot grow memory without bound.
class Line_Splitter {
 public:
  explicit Line_Splitter(ACE_Log_Msg_Callback* callback) : callback_(callback) {}

  void add(const char* data, size_t n) {
    pending_.append(data, n);
    size_t start = 0;
    for (size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1)
      deliver(callback_, pending_.substr(start, nl - start));
    pending_.erase(0, start);
    while (pending_.size() >= MAX_LINE) {
      deliver(callback_, pending_.substr(0, MAX_LINE));
      pending_.erase(0, MAX_LINE);
    }
  }

  // Hands over an unterminated rest.
  void finish() {
    if (!pending_.empty()) deliver(callback_, pending_);
    pending_.clear();
  }

 private:
  static constexpr size_t MAX_LINE = 64 * 1024;
  ACE_Log_Msg_Callback* callback_;
  std::string pending_;
};

// Reads what `fd` holds now; false at its end or on a read error.
bool read_available(int fd, Line_Splitter& lines) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    if (n <= 0) return false;
    lines.add(buf, static_cast<size_t>(n));
  }
}

int wait_for(pid_t pid, int flags) {
  int status = 0;
  for (;;) {
    const pid_t got = ::waitpid(pid, &status, flags);
    if (got == pid) return status;
    if (got == 0) return NOT_EXITED;
    if (errno != EINTR) return -1;
  }
}

using Clock = std::chrono::steady_clock;

// Forwards the script's output until the pipe closes, and waits for the script. A
// process the script left behind may keep the pipe open for ever: once the script
// itself has exited, what is left of its output is read for OUTPUT_GRACE at most.
// The script's wait status, or -1.
int follow_script(pid_t pid, int fd, ACE_Log_Msg_Callback* callback) {
  Line_Splitter lines(callback);
  int status = NOT_EXITED;
  Clock::time_point cut_at{};
  pollfd pfd{fd, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&pfd, 1, static_cast<int>(POLL_STEP.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && !read_available(fd, lines)) break;
    if (status == NOT_EXITED) {
      status = wait_for(pid, WNOHANG);
      if (status != NOT_EXITED) cut_at = Clock::now() + OUTPUT_GRACE;
    } else if (Clock::now() >= cut_at) {
      ACE_ERROR((LM_WARNING,
                 "Job script exited, but a process it started still holds its output; the "
                 "rest of the output was cut.\n"));
      break;
    }
  }
  lines.finish();
  return status == NOT_EXITED ? wait_for(pid, 0) : status;
}

// What the wait status `status` (or -1: the wait failed, errno set) says of a script.
std::string describe_status(int status) {
  if (status >= 0 && WIFEXITED(status))
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (status >= 0 && WIFSIGNALED(status))
    return "was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
           ::strsignal(WTERMSIG(status)) + ")";
  return std::string("could not be waited for: ") + std::strerror(errno);
}

// Runs the script; true on exit status 0, else the reason in `failure`.
bool run_script(const std::string& script, ACE_Log_Msg_Callback* callback, std::string& failure) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    failure = std::string("could not be run: no pipe for its output: ") + std::strerror(errno);
    return false;
  }
  auto close_read = make_deleter([&] { ::close(fds[0]); });
  auto close_write = make_deleter([&] { ::close(fds[1]); });
  // Only our end: the script's output stays blocking.
  if (::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0) {
    failure = std::string("could not be run: ") + std::strerror(errno);
    return false;
  }

  posix_spawn_file_actions_t actions;
  if (::posix_spawn_file_actions_init(&actions) != 0) {
    failure = "could not be run: out of memory";
    return false;
  }
  auto destroy_actions = make_deleter([&] { ::posix_spawn_file_actions_destroy(&actions); });
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  ::posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

  // The script starts with every signal unblocked and the stop signals at their default,
  // whatever the job's threads block or ignore (a runner takes its stop signals on a
  // thread of its own), so that it can be stopped and a closed pipe ends it as usual.
  posix_spawnattr_t attributes;
  if (::posix_spawnattr_init(&attributes) != 0) {
    failure = "could not be run: out of memory";
    return false;
  }
  auto destroy_attributes = make_deleter([&] { ::posix_spawnattr_destroy(&attributes); });
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM}) sigaddset(&defaults, sig);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  char sh[] = "sh";
  char dash_c[] = "-c";
  std::string text = script;
  char* argv[] = {sh, dash_c, &text[0], nullptr};
  pid_t pid = 0;
  const int rc = ::posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv, environ);
  close_write.reset();
  if (rc != 0) {
    failure = std::string("could not be run: ") + std::strerror(rc);
    return false;
  }
  const int status = follow_script(pid, fds[0], callback);
  if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  failure = describe_status(status);
  return false;
}

}  // namespace

bool execute_script(const std::string& script, bool background, ACE_Log_Msg_Callback* callback) {
  if (script.empty()) return true;
  if (background) {
    ACE_ERROR((LM_ERROR, "Scripts cannot run in the background.\n"));
    return false;
  }
  std::string why;
  if (run_script(script, callback, why)) return true;
  ACE_ERROR((LM_ERROR, "The job's script %s.\n", why.c_str()));
  return false;
}
