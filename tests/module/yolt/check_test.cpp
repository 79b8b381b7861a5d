#include "yolt/check.h"

#include "json/value.h"
#include "jsonrpc/json_rpc.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

namespace {

namespace js = json_spirit;

int check_workers(int n_worker_threads) { YOLT_CHECK_LT(n_worker_threads, 1, -1); return 0; }
int check_modulo(long total_size_, long block_size_) { YOLT_CHECK_NE(total_size_ % block_size_, 0, -1); return 0; }
int check_mapping(void* addr) { YOLT_CHECK_EQ(addr, (MAP_FAILED), -1); return 0; }
int check_text(const char* id) { YOLT_CHECK_CSTR(id, -1); return 0; }
int check_null(const std::unique_ptr<int>& src_) { YOLT_CHECK_NULL(src_, -1); return 0; }
int check_entries(const std::vector<int>* entries) { YOLT_CHECK_NULL_OR_EMPTY(entries, -1); return 0; }
int check_bools(bool worker_, bool ready) { YOLT_CHECK_TRUE(worker_, -1); YOLT_CHECK_FALSE(ready, -2); return 0; }
int check_json(const js::Value& val) { YOLT_CHECK_JSON_OBJECT(val, -1); return 0; }
int check_json_array(const js::Value& val) {
  YOLT_CHECK_JSON_ARRAY(val, -1);
  YOLT_CHECK_JSON_NONEMPTY(val.get_array(), -1);
  return 0;
}
// Stands in for the host's JSON-RPC object: only its type code matters here.
struct Fake_RPC_Object {
  JSON_RPC_Type code;
  JSON_RPC_Type type() const { return code; }
};
int check_request(JSON_RPC_Type code) {
  auto obj = std::make_shared<Fake_RPC_Object>(Fake_RPC_Object{code});
  YOLT_CHECK_JSON_RPC_REQUEST(obj, -1);
  return 0;
}
int counted(int& calls, int value) { return ++calls, value; }
int check_once(int& calls) { YOLT_CHECK_LT(counted(calls, 0), 1, -1); return 0; }

// A failing check logs one emergency record "Unexpected error in <file>:<line>, <what>"
// and returns its value; a passing one logs nothing.
TEST(Check, MessagesTable) {
  std::unique_ptr<int> none;
  std::vector<int> empty;
  const struct { std::function<int()> run; int expected; std::string message; } cases[] = {
      {[] { return check_workers(0); }, -1, "n_worker_threads(0) < 1:\n"},
      {[] { return check_workers(2); }, 0, ""},
      {[] { return check_modulo(10, 4); }, -1, "total_size_ % block_size_(2) != 0:\n"},
      {[] { return check_mapping(MAP_FAILED); }, -1,
       "addr(0xffffffffffffffff) == (MAP_FAILED)(0xffffffffffffffff):\n"},
      {[] { return check_text(""); }, -1, "id is NULL or \"\":\n"},
      {[] { return check_text(" "); }, 0, ""},
      {[&] { return check_null(none); }, -1, "src_ is NULL:\n"},
      {[&] { return check_entries(&empty); }, -1, "entries is NULL or empty:\n"},
      {[] { return check_bools(false, false); }, -2, "ready is false:\n"},
      // The JSON and JSON-RPC checks log no call stack after their line.
      {[] { return check_json(js::Value(js::Array())); }, -1, "val is not object!\n"},
      {[] { return check_json_array(js::Value(js::Array())); }, -1, "val.get_array() is empty array!\n"},
      {[] { return check_json_array(js::Value(js::Array{js::Value(1)})); }, 0, ""},
      {[] { return check_request(TYPE_NOTIFY); }, -1, "obj is not JSON-RPC request!\n"},
      {[] { return check_request(TYPE_REQUEST); }, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    test::Log_Capture log;
    EXPECT_EQ(c.run(), c.expected);
    if (c.message.empty()) {
      EXPECT_TRUE(log.entries().empty()) << log.text();
      continue;
    }
    ASSERT_EQ(log.entries().size(), 1u);
    const auto e = log.entries()[0];
    EXPECT_EQ(e.priority, LM_EMERGENCY);
    EXPECT_EQ(e.text.rfind(std::string("Unexpected error in ") + __FILE__ + ":", 0), 0u) << e.text;
    const size_t at = e.text.find(", " + c.message);
    ASSERT_NE(at, std::string::npos) << e.text;
    if (c.message.back() == '\n' && c.message[c.message.size() - 2] == '!') {
      EXPECT_EQ(at + c.message.size() + 2, e.text.size()) << e.text;
    }
  }
  int calls = 0;  // operands are evaluated once, and building the texts keeps errno
  errno = ENOENT;
  test::Log_Capture log;
  EXPECT_EQ(check_once(calls), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ACE_LOG_MSG->errnum(), ENOENT);
}

}  // namespace
