#include "job_engine/execute_script.h"

#include "support/log_capture.h"

#include <ace/Log_Record.h>
#include <gtest/gtest.h>

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

// The result follows the exit status; a failure says what became of the script, to the
// caller that asks, else in a warning that names the script.
TEST(Execute_Script, ResultFollowsTheExitStatus) {
  const struct {
    const char* script;
    bool ok;
    const char* failure;
  } cases[] = {
      {"", true, ""},
      {"exit 3", false, "exited with status 3"},
      {"kill -9 $$", false, "was killed by signal 9 (Killed)"},
      {"no-such-command-here-1234", false, "exited with status 127"},
      {"test \"$(cat)\" = \"\"", true, ""}};  // stdin is empty
  for (const auto& c : cases) {
    test::Log_Capture log;
    std::string failure;
    EXPECT_EQ(execute_script(c.script, false, nullptr, &failure), c.ok) << c.script;
    EXPECT_EQ(failure, c.failure);
    EXPECT_EQ(execute_script(c.script, false, nullptr), c.ok) << c.script;
    const std::string warning = std::string("Job script '") + c.script + "' " + c.failure + ".";
    EXPECT_TRUE(c.ok || log.contains(warning, LM_WARNING)) << log.text();
  }
  EXPECT_EQ(script_for_message("cp a b\nexit 1"), "cp a b...");
  EXPECT_EQ(script_for_message(std::string(100, 'x')), std::string(80, 'x') + "...");
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
