#include "yolt/check.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

int check_workers(int n_worker_threads) {
  YOLT_CHECK_LT(n_worker_threads, 1, -1);
  return 0;
}

int check_modulo(long total_size_, long block_size_) {
  YOLT_CHECK_NE(total_size_ % block_size_, 0, -1);
  return 0;
}

int check_literal_forms(int v) {
  YOLT_CHECK_EQ(v, 00, -1);
  return 0;
}

int check_mapping(void* addr) {
  YOLT_CHECK_EQ(addr, (MAP_FAILED), -1);
  return 0;
}

bool check_text(const char* id) {
  YOLT_CHECK_CSTR(id, false);
  return true;
}

int check_null(const std::unique_ptr<int>& src_) {
  YOLT_CHECK_NULL(src_, -1);
  return 0;
}

int check_entries(const std::vector<int>* entries) {
  YOLT_CHECK_NULL_OR_EMPTY(entries, -1);
  return 0;
}

int check_bools(bool worker_, bool ready) {
  YOLT_CHECK_TRUE(worker_, -1);
  YOLT_CHECK_FALSE(ready, -2);
  return 0;
}

int counted(int& calls, int value) {
  ++calls;
  return value;
}

int check_once(int& calls) {
  YOLT_CHECK_LT(counted(calls, 0), 1, -1);
  return 0;
}

int check_errno_kept() {
  errno = ENOENT;
  YOLT_CHECK_LT(errno - errno, 1, -1);  // building the texts must not clobber errno
  return 0;
}

TEST(Check, MessagesTable) {
  struct Case {
    const char* name;
    std::function<int()> run;
    int expected;
    std::string message;
  };
  std::unique_ptr<int> none;
  std::vector<int> empty;
  const std::vector<Case> cases = {
      {"literal adds nothing", [] { return check_workers(0); }, -1, "n_worker_threads(0) < 1:\n"},
      {"passes", [] { return check_workers(2); }, 0, ""},
      {"percent in expression", [] { return check_modulo(10, 4); }, -1,
       "total_size_ % block_size_(2) != 0:\n"},
      {"literal spelled differently shows its value", [] { return check_literal_forms(0); }, -1,
       "v(0) == 00(0):\n"},
      {"null pointer", [] { return check_mapping(nullptr) == 0 ? 0 : -1; }, 0, ""},
      {"map failed", [] { return check_mapping(MAP_FAILED); }, -1,
       "addr(0xffffffffffffffff) == (MAP_FAILED)(0xffffffffffffffff):\n"},
      {"null text", [] { return check_text(nullptr) ? 0 : -1; }, -1, "id is NULL or \"\":\n"},
      {"empty text", [] { return check_text("") ? 0 : -1; }, -1, "id is NULL or \"\":\n"},
      {"blank text passes", [] { return check_text(" ") ? 0 : -1; }, 0, ""},
      {"null smart pointer", [&] { return check_null(none); }, -1, "src_ is NULL:\n"},
      {"null container", [] { return check_entries(nullptr); }, -1,
       "entries is NULL or empty:\n"},
      {"empty container", [&] { return check_entries(&empty); }, -1,
       "entries is NULL or empty:\n"},
      {"true", [] { return check_bools(true, true); }, -1, "worker_ is true:\n"},
      {"false", [] { return check_bools(false, false); }, -2, "ready is false:\n"},
  };
  for (const auto& c : cases) {
    test::Log_Capture log;
    EXPECT_EQ(c.run(), c.expected) << c.name;
    if (c.message.empty()) {
      EXPECT_TRUE(log.entries().empty()) << c.name << ": " << log.text();
      continue;
    }
    ASSERT_EQ(log.entries().size(), 1u) << c.name;
    const auto e = log.entries()[0];
    EXPECT_EQ(e.priority, LM_EMERGENCY) << c.name;
    EXPECT_EQ(e.text.rfind("Unexpected error in ", 0), 0u) << c.name << ": " << e.text;
    EXPECT_NE(e.text.find("check_test.cpp:"), std::string::npos) << e.text;
    EXPECT_NE(e.text.find(", " + c.message), std::string::npos) << c.name << ": " << e.text;
  }
}

TEST(Check, ComparisonEvaluatesOperandsOnce) {
  test::Log_Capture log;
  int calls = 0;
  EXPECT_EQ(check_once(calls), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(log.contains("counted(calls, 0)(0) < 1:"));
}

TEST(Check, SavedErrnoReachesTheRecord) {
  test::Log_Capture log;
  EXPECT_EQ(check_errno_kept(), -1);
  EXPECT_EQ(ACE_LOG_MSG->errnum(), ENOENT);
}

TEST(ValueText, PointersAndIntegers) {
  EXPECT_EQ(yolt::to_string(static_cast<void*>(nullptr)), "0x0");
  EXPECT_EQ(yolt::to_string(reinterpret_cast<void*>(0xabc)), "0xabc");
  EXPECT_EQ(yolt::to_string(-5L), "-5");
  EXPECT_EQ(yolt::to_string(4294967295u), "4294967295");
  EXPECT_EQ(yolt::to_string_if_ne(7, "7", "(", ")"), "");
  EXPECT_EQ(yolt::to_string_if_ne(7, "1U", nullptr, nullptr), "7");
  EXPECT_EQ(to_string_for_yolt_check_macro(1, "1U"), "(1)");
}

}  // namespace
