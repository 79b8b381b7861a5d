#include "job_engine/execute_script.h"

#include "support/log_capture.h"

#include <ace/Log_Record.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

class Line_Collector : public ACE_Log_Msg_Callback {
 public:
  void log(ACE_Log_Record& record) override {
    lines.emplace_back(record.msg_data());
    priorities.push_back(record.type());
  }
  std::vector<std::string> lines;
  std::vector<unsigned long> priorities;
};

TEST(Execute_Script, ResultFollowsTheExitStatus) {
  struct Case {
    const char* script;
    bool ok;
  };
  const Case cases[] = {{"", true}, {"exit 0", true}, {"exit 3", false}, {"kill -9 $$", false},
                        {"no-such-command-here-1234", false}, {"test \"$(cat)\" = \"\"", true}};  // stdin is empty
  test::Log_Capture log;
  for (const Case& c : cases) EXPECT_EQ(execute_script(c.script, false, nullptr), c.ok) << c.script;
  EXPECT_TRUE(log.contains("Job script exited with status 3.", LM_WARNING));
  EXPECT_TRUE(log.contains("Job script was killed by signal 9.", LM_WARNING));
  EXPECT_FALSE(execute_script("true", true, nullptr));
  EXPECT_TRUE(log.contains("Scripts cannot run in the background.", LM_ERROR));
}

TEST(Execute_Script, EveryOutputLineReachesTheCallbackInOrder) {
  Line_Collector out;
  const std::string script =
      "echo one; echo two >&2; printf 'three\\n\\nfour'; exit 1";
  test::Log_Capture log;  // a failing script's output still reaches the callback
  ASSERT_FALSE(execute_script(script, false, &out));
  const std::vector<std::string> expected = {"one\n", "two\n", "three\n", "\n", "four\n"};
  EXPECT_EQ(out.lines, expected);
  for (unsigned long p : out.priorities) EXPECT_EQ(p, static_cast<unsigned long>(LM_INFO));
}

TEST(Execute_Script, LargeOutputDoesNotStallTheScript) {
  Line_Collector out;
  ASSERT_TRUE(execute_script("i=0; while [ $i -lt 20000 ]; do echo line$i; i=$((i+1)); done",
                             false, &out));
  ASSERT_EQ(out.lines.size(), 20000u);
  EXPECT_EQ(out.lines.back(), "line19999\n");
}

TEST(Execute_Script, AProcessLeftHoldingTheOutputDelaysTheJobOnlyBriefly) {
  test::Log_Capture log;
  Line_Collector out;
  // The left-behind writer would go on for ten seconds; it ends once the pipe is closed.
  const char* script =
      "echo before; (i=0; while [ $i -lt 40 ]; do sleep 0.25; echo tick; i=$((i+1)); done) &"
      " echo after";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(execute_script(script, false, &out));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
  ASSERT_GE(out.lines.size(), 2u);
  EXPECT_EQ(out.lines[0], "before\n");
  EXPECT_EQ(out.lines[1], "after\n");
  EXPECT_TRUE(log.contains("the rest of the output was cut", LM_WARNING));
}

TEST(Execute_Script, OutputWithoutLineBreaksIsHandedOverInPieces) {
  Line_Collector out;
  ASSERT_TRUE(execute_script("head -c 200000 /dev/zero | tr '\\0' x", false, &out));
  size_t total = 0;
  for (const std::string& l : out.lines) total += l.size() - 1;
  EXPECT_EQ(total, 200000u);
  EXPECT_GT(out.lines.size(), 1u);
}

}  // namespace
