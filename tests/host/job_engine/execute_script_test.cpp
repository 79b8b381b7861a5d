#include "job_engine/execute_script.h"

#include "support/log_capture.h"

#include <ace/Log_Record.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

// Keeps each line handed over; a line not logged at LM_INFO is marked.
class Line_Collector : public ACE_Log_Msg_Callback {
 public:
  void log(ACE_Log_Record& record) override {
    lines.push_back((record.type() == LM_INFO ? "" : "!") + std::string(record.msg_data()));
  }
  std::vector<std::string> lines;
};

// The result follows the exit status; a failure is logged as an error that says what
// became of the script, never its text (a command line may hold a password). The script
// can be stopped although the calling thread blocks the stop signals and ignores SIGPIPE,
// as a runner's job threads do.
TEST(Execute_Script, ResultFollowsTheExitStatus) {
  sigset_t stops, before;
  sigemptyset(&stops);
  for (const int sig : {SIGHUP, SIGINT, SIGTERM}) sigaddset(&stops, sig);
  ::pthread_sigmask(SIG_BLOCK, &stops, &before);
  struct sigaction ignore = {}, pipe_before = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &pipe_before);
  const struct {
    const char* script;
    bool ok;
    const char* logged;  // the error line, "" when none
  } cases[] = {
      {"", true, ""},
      {"exit 3", false, "The job's script exited with status 3.\n"},
      {"kill -9 $$", false, "The job's script was killed by signal 9 (Killed).\n"},
      {"no-such-command-here-1234", false, "The job's script exited with status 127.\n"},
      {"kill -TERM $$; exit 0", false, "The job's script was killed by signal 15 (Terminated).\n"},
      {"kill -PIPE $$; exit 0", false, "The job's script was killed by signal 13 (Broken pipe).\n"},
      {"test \"$(cat)\" = \"\"", true, ""}};  // stdin is empty
  for (const auto& c : cases) {
    test::Log_Capture log;
    EXPECT_EQ(execute_script(c.script, false, nullptr), c.ok) << c.script;
    std::string errors;
    for (const test::Log_Entry& e : log.entries())
      if (e.priority == LM_ERROR) errors += e.text;
    EXPECT_EQ(errors, c.logged) << c.script;
    EXPECT_TRUE(*c.script == '\0' || !log.contains(c.script)) << log.text();
  }
  ::sigaction(SIGPIPE, &pipe_before, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Every line, of either stream, reaches the callback in order, also from a failing
// script; much output never stalls the script, and output without line breaks is
// handed over in pieces.
TEST(Execute_Script, EveryOutputLineReachesTheCallbackInOrder) {
  test::Log_Capture log;
  Line_Collector out;
  const char* script = "echo one; echo two >&2; printf 'three\\n\\nfour'; exit 1";
  ASSERT_FALSE(execute_script(script, false, &out));
  EXPECT_EQ(out.lines, (std::vector<std::string>{"one\n", "two\n", "three\n", "\n", "four\n"}));
  Line_Collector many;
  script = "i=0; while [ $i -lt 20000 ]; do echo line$i; i=$((i+1)); done";
  ASSERT_TRUE(execute_script(script, false, &many));
  ASSERT_EQ(many.lines.size(), 20000u);
  EXPECT_EQ(many.lines.back(), "line19999\n");
  Line_Collector long_line;
  ASSERT_TRUE(execute_script("head -c 200000 /dev/zero | tr '\\0' x", false, &long_line));
  std::string joined;
  for (const std::string& l : long_line.lines) joined += l.substr(0, l.size() - 1);
  EXPECT_TRUE(joined == std::string(200000, 'x') && long_line.lines.size() > 1);
}

TEST(Execute_Script, AProcessLeftHoldingTheOutputDelaysTheJobOnlyBriefly) {
  test::Log_Capture log;
  Line_Collector out;
  // The left-behind writer would go on for ten seconds; it ends once the pipe is closed.
  const char* script = "echo before; "
                       "(i=0; while [ $i -lt 40 ]; do sleep 0.25; echo tick; i=$((i+1)); done) & "
                       "echo after";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(execute_script(script, false, &out));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  EXPECT_EQ(out.lines.at(0) + out.lines.at(1), "before\nafter\n");
  EXPECT_TRUE(log.contains("the rest of the output was cut", LM_WARNING));
}

}  // namespace
