#include "yolt/check.h"

#include "json/value.h"
#include "jsonrpc/json_rpc.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace {

namespace js = json_spirit;

// Stands in for the host's JSON-RPC object: only its type code matters here.
struct Fake_RPC_Object {
  JSON_RPC_Type code;
  JSON_RPC_Type type() const { return code; }
};

// A failing check logs one emergency record "Unexpected error in <file>:<line>, <what>"
// and returns its value; a passing one logs nothing. The JSON checks log no call stack.
TEST(Check, MessagesTable) {
  const struct { int (*run)(); int expected; std::string message; } cases[] = {
      {[] { int n_worker_threads = 0; YOLT_CHECK_LT(n_worker_threads, 1, -1); return 0; }, -1, "n_worker_threads(0) < 1:\n"},
      {[] { int n_worker_threads = 2; YOLT_CHECK_LT(n_worker_threads, 1, -1); return 0; }, 0, ""},
      {[] { long total_size_ = 10, block_size_ = 4; YOLT_CHECK_NE(total_size_ % block_size_, 0, -1); return 0; }, -1, "total_size_ % block_size_(2) != 0:\n"},
      {[] { void* addr = MAP_FAILED; YOLT_CHECK_EQ(addr, (MAP_FAILED), -1); return 0; }, -1, "addr(0xffffffffffffffff) == (MAP_FAILED)(0xffffffffffffffff):\n"},
      {[] { const char* id = ""; YOLT_CHECK_CSTR(id, -1); return 0; }, -1, "id is NULL or \"\":\n"},
      {[] { const char* id = " "; YOLT_CHECK_CSTR(id, -1); return 0; }, 0, ""},
      {[] { std::unique_ptr<int> src_; YOLT_CHECK_NULL(src_, -1); return 0; }, -1, "src_ is NULL:\n"},
      {[] { std::vector<int> e; std::vector<int>* entries = &e; YOLT_CHECK_NULL_OR_EMPTY(entries, -1); return 0; }, -1, "entries is NULL or empty:\n"},
      {[] { bool worker_ = false, ready = false; YOLT_CHECK_TRUE(worker_, -1); YOLT_CHECK_FALSE(ready, -2); return 0; }, -2, "ready is false:\n"},
      {[] { js::Value val{js::Array()}; YOLT_CHECK_JSON_OBJECT(val, -1); return 0; }, -1, "val is not object!\n"},
      {[] { js::Value val{js::Array()}; YOLT_CHECK_JSON_ARRAY(val, -1); YOLT_CHECK_JSON_NONEMPTY(val.get_array(), -1); return 0; }, -1, "val.get_array() is empty array!\n"},
      {[] { js::Value val{js::Array{js::Value(1)}}; YOLT_CHECK_JSON_ARRAY(val, -1); YOLT_CHECK_JSON_NONEMPTY(val.get_array(), -1); return 0; }, 0, ""},
      {[] { auto obj = std::make_shared<Fake_RPC_Object>(Fake_RPC_Object{TYPE_NOTIFY}); YOLT_CHECK_JSON_RPC_REQUEST(obj, -1); return 0; }, -1, "obj is not JSON-RPC request!\n"},
      {[] { auto obj = std::make_shared<Fake_RPC_Object>(Fake_RPC_Object{TYPE_REQUEST}); YOLT_CHECK_JSON_RPC_REQUEST(obj, -1); return 0; }, 0, ""},
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
    EXPECT_TRUE(c.message[c.message.size() - 2] != '!' || at + c.message.size() + 2 == e.text.size()) << e.text;
  }
  int calls = 0;  // operands are evaluated once, and building the texts keeps errno
  errno = ENOENT;
  test::Log_Capture log;
  EXPECT_EQ([&calls] { YOLT_CHECK_LT((++calls, 0), 1, -1); return 0; }(), -1);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(ACE_LOG_MSG->errnum(), ENOENT);
}

}  // namespace
