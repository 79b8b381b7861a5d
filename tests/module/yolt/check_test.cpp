#include "yolt/check.h"

#include "json/value.h"
#include "jsonrpc/json_rpc.h"
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

int check_same(const void* src, const void* dst) {
  YOLT_CHECK_NE(src, dst, -1);
  YOLT_CHECK_EQ(src, dst, -2);
  return 0;
}

// The lines of the JSON checks below, for the messages that carry them as "%d".
int json_object_line = 0;
int json_array_line = 0;
int json_nonempty_line = 0;

bool check_json_object(const json_spirit::Value& result) {
  json_object_line = __LINE__ + 1;
  YOLT_CHECK_JSON_OBJECT(result, false);
  return true;
}

int check_json_array(const json_spirit::Value& val) {
  json_array_line = __LINE__ + 1;
  YOLT_CHECK_JSON_ARRAY(val, -1);
  json_nonempty_line = __LINE__ + 1;
  YOLT_CHECK_JSON_NONEMPTY(val.get_array(), -1);
  return 0;
}

// Stands in for the host's JSON-RPC object: only its type code matters here.
struct Fake_RPC_Object {
  JSON_RPC_Type code;
  JSON_RPC_Type type() const { return code; }
};

int check_request(const std::shared_ptr<Fake_RPC_Object>& obj) {
  YOLT_CHECK_JSON_RPC_REQUEST(obj, -1);
  return 0;
}

int check_request_of(JSON_RPC_Type code) {
  return check_request(std::make_shared<Fake_RPC_Object>(Fake_RPC_Object{code}));
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
      {"null pointers show as 0x0", [] { return check_same(nullptr, nullptr); }, -2,
       "src(0x0) == dst(0x0):\n"},
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

// The JSON type checks and the JSON-RPC request check: exactly one line in their own
// frame, with no call stack after it.
TEST(Check, JsonAndRequestChecksLogNoCallStack) {
  namespace js = json_spirit;
  const std::string at = std::string("Unexpected error in ") + __FILE__ + ":";
  struct Case {
    const char* name;
    std::function<int()> run;
    int expected;
    std::function<std::string()> message;  // empty: the check passes
  };
  const std::vector<Case> cases = {
      {"object passes", [] { return check_json_object(js::Value(js::Object())) ? 0 : -1; }, 0,
       {}},
      {"not object", [] { return check_json_object(js::Value(js::Array())) ? 0 : -1; }, -1,
       [&] { return at + std::to_string(json_object_line) + ", result is not object!\n"; }},
      {"not array", [] { return check_json_array(js::Value("x")); }, -1,
       [&] { return at + std::to_string(json_array_line) + ", val is not array!\n"; }},
      {"empty array", [] { return check_json_array(js::Value(js::Array())); }, -1,
       [&] {
         return at + std::to_string(json_nonempty_line) + ", val.get_array() is empty array!\n";
       }},
      {"array passes", [] { return check_json_array(js::Value(js::Array{js::Value(1)})); }, 0,
       {}},
      {"request passes", [] { return check_request_of(TYPE_REQUEST); }, 0, {}},
      {"notification refused", [] { return check_request_of(TYPE_NOTIFY); }, -1,
       [] { return std::string("obj is not JSON-RPC request!\n"); }},
  };
  for (const auto& c : cases) {
    test::Log_Capture log;
    EXPECT_EQ(c.run(), c.expected) << c.name;
    if (!c.message) {
      EXPECT_TRUE(log.entries().empty()) << c.name << ": " << log.text();
      continue;
    }
    ASSERT_EQ(log.entries().size(), 1u) << c.name;
    const auto e = log.entries()[0];
    EXPECT_EQ(e.priority, LM_EMERGENCY) << c.name;
    const std::string expected = c.message();
    // The whole record for the JSON checks; the tail (after "%N:%l, ") for the request one.
    if (expected.rfind("Unexpected", 0) == 0) {
      EXPECT_EQ(e.text, expected) << c.name;
    } else {
      EXPECT_EQ(e.text.rfind("Unexpected error in ", 0), 0u) << e.text;
      ASSERT_GE(e.text.size(), expected.size()) << e.text;
      EXPECT_EQ(e.text.substr(e.text.size() - expected.size()), expected) << c.name;
      EXPECT_NE(e.text.find(", " + expected), std::string::npos) << e.text;
    }
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
