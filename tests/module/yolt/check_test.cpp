#include "yolt/check.h"

#include "json/value.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <vector>

namespace {

namespace js = json_spirit;

// Operands of the checks below.
int n_worker_threads = 0;
long total_size_ = 10, block_size_ = 4;
void* addr = MAP_FAILED;
std::vector<int> none;
const js::Value one{js::Array{js::Value(1)}};

// A failing check logs one emergency record "Unexpected error in <file>:<line>, <what>"
// and returns its value (passing checks run in every other test). The JSON checks log no
// call stack. (Other forms: the tests of the cloud jobs and the console handlers.)
TEST(Check, MessagesTable) {
  const struct { int (*run)(); std::string message; } cases[] = {
      {[] { YOLT_CHECK_LT(n_worker_threads, 1, -1); return 0; }, "n_worker_threads(0) < 1:\n"},
      {[] { YOLT_CHECK_NE(total_size_ % block_size_, 0, -1); return 0; },
       "total_size_ % block_size_(2) != 0:\n"},
      {[] { YOLT_CHECK_EQ(addr, (MAP_FAILED), -1); return 0; },
       "addr(0xffffffffffffffff) == (MAP_FAILED)(0xffffffffffffffff):\n"},
      {[] { YOLT_CHECK_FALSE(one.is_null(), -1); return 0; }, "one.is_null() is false:\n"},
      {[] { YOLT_CHECK_JSON_NONEMPTY(none, -1); return 0; }, "none is empty array!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    test::Log_Capture log;
    EXPECT_EQ(c.run(), -1);
    ASSERT_EQ(log.entries().size(), 1u);
    const auto e = log.entries()[0];
    EXPECT_EQ(e.priority, LM_EMERGENCY);
    // The file by its path in the source tree, wherever it was built.
    EXPECT_EQ(e.text.rfind("Unexpected error in tests/module/yolt/check_test.cpp:", 0), 0u)
        << e.text;
    const size_t at = e.text.find(", " + c.message);
    ASSERT_NE(at, std::string::npos) << e.text;
    const bool no_stack = c.message[c.message.size() - 2] == '!';
    EXPECT_TRUE(!no_stack || at + c.message.size() + 2 == e.text.size()) << e.text;
  }
  int calls = 0;  // operands are evaluated once, and building the texts keeps errno
  errno = ENOENT;
  test::Log_Capture log;
  const auto counted = [&calls] {
    YOLT_CHECK_LT(++calls, 2, -1);
    return 0;
  };
  EXPECT_EQ(counted(), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ACE_LOG_MSG->errnum(), ENOENT);
}

}  // namespace
