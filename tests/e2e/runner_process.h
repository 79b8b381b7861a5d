// Runs the built quillon3 program for a black-box test: with its own host home
// (QUILLON3_ROOT), a given stdin, both outputs collected; either to the end at once, or
// started now and finished later so a test can signal it while it works. Also the base
// fixture of the runner's end-to-end tests. Header only.
#ifndef TESTS_E2E_RUNNER_PROCESS_H
#define TESTS_E2E_RUNNER_PROCESS_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "sim_process.h"
#include "support/temp_home.h"

extern char** environ;

namespace test {

struct Run_Result {
  int code = -1;
  std::string out;
  std::string err;
  std::string all() const { return out + err; }
  // The exit code, a space and both outputs: a whole result to compare.
  std::string summary() const { return std::to_string(code) + " " + all(); }
};

// The quillon3 binary: $QUILLON3_RUNNER, else the one built beside this test binary.
inline std::string runner_path() {
  const char* env = std::getenv("QUILLON3_RUNNER");
  if (env != nullptr && *env != '\0') return env;
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/quillon3";
}

// One quillon3 process with QUILLON3_ROOT set to `home` and `input` on stdin.
class Runner_Process {
 public:
  Runner_Process(const std::string& home, const std::vector<std::string>& args,
                 const std::string& input = "") {
    std::vector<std::string> env_text = {"QUILLON3_ROOT=" + home}, argv_text = {runner_path()};
    for (char** e = environ; *e != nullptr; ++e)
      if (std::strncmp(*e, "QUILLON3_ROOT=", 14) != 0) env_text.emplace_back(*e);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> env, argv;
    for (std::string& s : env_text) env.push_back(&s[0]);
    for (std::string& s : argv_text) argv.push_back(&s[0]);
    env.push_back(nullptr);
    argv.push_back(nullptr);

    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out_, O_CLOEXEC) != 0 || ::pipe2(err_, O_CLOEXEC) != 0) {
      result_.err = "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_[1], STDERR_FILENO);
    const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd : {in[0], out_[1], err_[1]}) ::close(fd);
    if (rc != 0) {
      pid_ = -1;
      result_.err = std::string("cannot run ") + argv[0] + ": " + std::strerror(rc);
    } else if (!input.empty()) {
      EXPECT_EQ(static_cast<ssize_t>(input.size()), ::write(in[1], input.data(), input.size()));
    }
    ::close(in[1]);
  }
  ~Runner_Process() { finish(); }
  Runner_Process(const Runner_Process&) = delete;
  Runner_Process& operator=(const Runner_Process&) = delete;

  void signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  // Collects both outputs until the process exits; its exit code (128 + the signal when
  // a signal ended it).
  const Run_Result& finish() {
    pollfd fds[2] = {{out_[0], POLLIN, 0}, {err_[0], POLLIN, 0}};
    std::string* sinks[2] = {&result_.out, &result_.err};
    for (int open_fds = pid_ > 0 ? 2 : 0, ready; open_fds > 0;) {
      // A generous guard against a hung runner, not a measure of its speed.
      if ((ready = ::poll(fds, 2, 600000)) < 0 && errno == EINTR) continue;
      if (ready <= 0) {
        ::kill(pid_, SIGKILL);
        ADD_FAILURE() << "quillon3 did not finish";
        break;
      }
      for (int i = 0; i < 2; ++i) {
        char buf[4096];
        const ssize_t n = fds[i].fd < 0 || fds[i].revents == 0 ? -2 : ::read(fds[i].fd, buf, sizeof buf);
        if (n > 0) sinks[i]->append(buf, static_cast<size_t>(n));
        if (n == 0 || (n == -1 && errno != EINTR)) {
          fds[i].fd = -1;
          --open_fds;
        }
      }
    }
    for (int* fd : {&out_[0], &err_[0]}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid_ > 0) result_.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return result_;
  }

 private:
  pid_t pid_ = -1;
  int out_[2] = {-1, -1};
  int err_[2] = {-1, -1};
  Run_Result result_;
};

// The base of the runner's tests: a temporary directory holding the host home "home"
// (made by the runner when a command needs it) and the files a test writes.
class Runner_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.made()) << "cannot make a temporary directory";
    ASSERT_EQ(0, ::access(runner_path().c_str(), X_OK)) << "no runner at " << runner_path();
  }

  Run_Result run(const std::vector<std::string>& args, const std::string& input = "") const {
    return Runner_Process(home_, args, input).finish();
  }

  // Writes `text` to the file `name` of the test's directory; its path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::string path = tmp_.path() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  void init() {
    const Run_Result r = run({"init", "--bits", "2048", "--name", "e2e-host"});
    ASSERT_EQ(0, r.code) << r.all();
  }

  // Adds the account `uuid` of a cloud on 127.0.0.1:`port`, the secret given on stdin.
  void add_account(const std::string& uuid, uint16_t port, const std::string& secret = SIM_SECRET_KEY) {
    const Run_Result r = run({"account", "add", "--uuid", uuid, "--host", "127.0.0.1", "--port",
                              std::to_string(port), "--access-key", SIM_ACCESS_KEY, "--secret-key", "-"},
                             secret + "\n");
    ASSERT_EQ(0, r.code) << r.all();
  }

  Temp_Dir tmp_{"quillon3-runner-"};
  const std::string home_ = tmp_.path() + "/home";
};

}  // namespace test

#endif  // TESTS_E2E_RUNNER_PROCESS_H
