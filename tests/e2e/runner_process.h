// Runs the built quillon3 program for a black-box test: in the host home QUILLON3_ROOT
// names, a given stdin, both outputs collected; either to the end at once, or started
// now and finished later so a test can signal it while it works. Also the base fixture
// of the runner's end-to-end tests. Header only.
#ifndef TESTS_E2E_RUNNER_PROCESS_H
#define TESTS_E2E_RUNNER_PROCESS_H

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <array>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sim_process.h"
#include "support/temp_home.h"

namespace test {

struct Run_Result {
  int code = -1;
  std::string out;
  std::string err;
  std::string all() const { return out + err; }
  // The exit code, a space and both outputs: a whole result to compare.
  std::string summary() const { return std::to_string(code) + " " + all(); }
};

// The file `name` built beside this test binary.
inline std::string built(const std::string& name) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  return self.substr(0, self.rfind('/') + 1) + name;
}

// The quillon3 binary: $QUILLON3_RUNNER, else the one built beside this test binary.
inline std::string runner_path() {
  const char* env = std::getenv("QUILLON3_RUNNER");
  return env != nullptr && *env != '\0' ? env : built("quillon3");
}

// One quillon3 process with `input` on stdin. Each of `given` that is not -1 replaces
// the standard descriptor of its place (CLOSED_FD: started without it), whose output is
// then not collected.
class Runner_Process {
 public:
  Runner_Process(const std::vector<std::string>& args, const std::string& input = "",
                 const std::array<int, 3>& given = {-1, -1, -1}) {
    std::vector<std::string> argv = {runner_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    const int in = ::memfd_create("stdin", MFD_CLOEXEC);
    EXPECT_EQ(static_cast<ssize_t>(input.size()), ::pwrite(in, input.data(), input.size(), 0));
    std::array<int, 3> fds = {in, out_, err_};
    for (size_t i = 0; i < fds.size(); ++i)
      if (given[i] != -1) fds[i] = given[i];
    pid_ = spawn(argv, fds, result_.err);
    ::close(in);
  }
  ~Runner_Process() {
    finish();
    ::close(out_);
    ::close(err_);
  }
  Runner_Process(const Runner_Process&) = delete;
  Runner_Process& operator=(const Runner_Process&) = delete;

  void signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  // What the process wrote on stderr so far.
  std::string err_so_far() const { return read_all(err_); }

  // Waits for the process to end; its exit code (128 + the signal when a signal ended
  // it) and both outputs.
  const Run_Result& finish() {
    if (pid_ <= 0) return result_;
    result_.code = reap(pid_);
    pid_ = -1;
    result_.out += read_all(out_);
    result_.err += read_all(err_);
    return result_;
  }

 private:
  static std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    for (ssize_t n, at = 0; (n = ::pread(fd, buf, sizeof buf, at)) > 0; at += n)
      text.append(buf, static_cast<size_t>(n));
    return text;
  }

  pid_t pid_ = -1;
  const int out_ = ::memfd_create("stdout", MFD_CLOEXEC);
  const int err_ = ::memfd_create("stderr", MFD_CLOEXEC);
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

  // Runs quillon3 with the words of `line` (split at spaces) as its arguments.
  Run_Result run(const std::string& line, const std::string& input = "") const {
    std::istringstream in(line);
    const std::vector<std::string> args(std::istream_iterator<std::string>(in), {});
    return Runner_Process(args, input).finish();
  }

  // Writes `text` to the file `name` of the test's directory; its path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::string path = tmp_.path() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  void init() {
    ASSERT_THAT(run("init --bits 2048 --name e2e-host").summary(), ::testing::StartsWith("0 "));
  }

  // Adds the account `uuid` of a cloud on 127.0.0.1:`port`, the secret given on stdin.
  void add_account(const std::string& uuid, uint16_t port,
                   const std::string& secret = SIM_SECRET_KEY) {
    const std::string keys = std::string(" --access-key ") + SIM_ACCESS_KEY + " --secret-key -";
    const Run_Result r = run("account add --host 127.0.0.1 --uuid " + uuid + " --port " +
                                 std::to_string(port) + keys,
                             secret + "\n");
    ASSERT_EQ(0, r.code) << r.all();
  }

  Temp_Dir tmp_{"quillon3-runner-"};
  const std::string home_ = tmp_.path() + "/home";
  Scoped_Env root_{"QUILLON3_ROOT", home_.c_str()};
};

}  // namespace test

#endif  // TESTS_E2E_RUNNER_PROCESS_H
