// The JSON-RPC registry and the host's "tavrocloud.query": answers from a real accounts
// store in a temporary host home, scripted methods, failures and concurrent callers.
// Concurrent additions to the store from many processes are driven end to end by runners
// started at once.
#include "jsonrpc/json_rpc.h"

#include "json/json_dump.h"
#include "json/json_load.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using json_spirit::Object;
using json_spirit::Value;
using Method = JSON_RPC_Registry::Method;
constexpr json_spirit::Value_type ANY = json_spirit::null_type, OBJECT = json_spirit::obj_type;

class Accounts_Home : public test::Temp_Home_Test {
 protected:
  Accounts_Home() : Temp_Home_Test("json_rpc_test_") {}
  static Object account(const std::string& host) {
    return Object{{"host", Value(host)}, {"port", Value(8773)}, {"access_key", Value("AK")},
                  {"security_key", Value("ZW5jcnlwdGVk")}};
  }
  static Value uuid(const std::string& id) { return Value(Object{{"uuid", Value(id)}}); }
};

TEST_F(Accounts_Home, QueryAnswersTheStoredAccount) {
  using tavrocloud_accounts::store_account;
  ASSERT_TRUE(store_account("u-1", account("10.0.0.1")));
  ASSERT_TRUE(store_account("u-1", account("10.0.0.9")));  // replaced
  for (const auto& entry : std::filesystem::directory_iterator(dir())) {  // no temporary file
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "accounts.json" || name == "accounts.json.lock") << name;
  }
  Value result;
  ASSERT_TRUE(global_json_rpc("tavrocloud.query", uuid("u-1"), 7, &result, OBJECT, 1000));
  EXPECT_EQ(result, Value(account("10.0.0.9")));
}

// A query against each kind of store: the account as stored (the module judges it), or
// an error code with the result untouched.
TEST_F(Accounts_Home, QueryOfEachKindOfStore) {
  const char* const U1 = R"({"uuid": "u-1"})";
  const int PARAMS = JSON_RPC_E_INVALID_PARAMS, INTERNAL = JSON_RPC_E_INTERNAL_ERROR;
  const struct { const char* name; const char* store; const char* params; int code; } cases[] = {
      {"as stored", R"({"u-1": {"host": "h", "port": "8773"}})", U1, 0},
      {"no store", nullptr, U1, PARAMS},
      {"uuid not a string", "{}", R"({"uuid": 5})", PARAMS},
      {"store an array", R"([{"uuid": "u-1"}])", U1, INTERNAL},
      {"member not an object", R"({"u-1": [1]})", U1, INTERNAL},
      {"store not json", R"({"u-1": )", U1, INTERNAL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink(tavrocloud_accounts::accounts_path().c_str());
    if (c.store != nullptr) std::ofstream(dir() + "/accounts.json") << c.store;
    Value result = Value("untouched");
    JSON_RPC_Error error;
    const Value params = json_spirit::JSON_Load(c.params);
    EXPECT_EQ(JSON_RPC_Registry::instance().call("tavrocloud.query", params, result, error),
              c.code == 0);
    EXPECT_EQ(c.code == 0 ? 0 : error.code, c.code);
    EXPECT_EQ(json_spirit::JSON_Dump(result),
              c.code == 0 ? R"({"host":"h","port":"8773"})" : "\"untouched\"");
  }
  // The damaged store (the last row's) is not overwritten by a later registration.
  EXPECT_FALSE(tavrocloud_accounts::store_account("u-3", account("h")));
}

// A method answering `answer`, or failing with "store offline" when not `ok`.
Method answering(const Value& answer, bool ok = true) {
  return [answer, ok](const Value&, Value& r, JSON_RPC_Error& e) {
    r = answer;
    if (!ok) e = JSON_RPC_Error{JSON_RPC_E_INTERNAL_ERROR, "store offline"};
    return ok;
  };
}

bool throwing(const Value&, Value&, JSON_RPC_Error&) { throw std::runtime_error("boom"); }

// A scripted method's result reaches the caller when it succeeded and has the type the
// caller wants; a guard puts the host's own method back.
TEST(JsonRpcRegistry, ScriptedMethodsAndResultTypes) {
  test::Log_Capture log;
  const Value array(json_spirit::Array{Value(1)});
  const Value untouched("untouched");
  const struct { const char* name; Method method; json_spirit::Value_type wanted; Value expected; }
      cases[] = {{"array", answering(array), ANY, array},
                 {"array where object wanted", answering(array), OBJECT, untouched},
                 {"failure", answering(Value("partial"), false), ANY, untouched},
                 {"throws", throwing, ANY, untouched}};
  JSON_RPC_Registry& registry = JSON_RPC_Registry::instance();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JSON_RPC_Method_Guard guard("tavrocloud.query", c.method);
    Value result = untouched;
    const bool ok = global_json_rpc("tavrocloud.query", Value(), -1, &result, c.wanted, -1);
    EXPECT_EQ(ok, c.expected != untouched);
    EXPECT_EQ(result, c.expected);
    JSON_RPC_Error error;  // a failed call leaves the result as it was
    result = untouched;
    EXPECT_TRUE(registry.call("tavrocloud.query", Value(), result, error) || result == untouched);
  }
  EXPECT_TRUE(log.contains("store offline", LM_ERROR));
  EXPECT_TRUE(log.contains("boom", LM_ERROR));
  Value result;
  JSON_RPC_Error error;
  EXPECT_FALSE(registry.call("tavrocloud.query", Value(), result, error));
  EXPECT_EQ(error.code, JSON_RPC_E_INVALID_PARAMS);  // the host's method is back
}

bool echo(const Value& params, Value& result, JSON_RPC_Error&) {
  result = params;
  return true;
}

TEST(JsonRpcRegistry, ConcurrentCallersAndRegistration) {
  JSON_RPC_Registry registry;
  registry.register_method("echo", echo);
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Value result;
        JSON_RPC_Error error;
        const Value sent(t * 1000 + i);
        ok += registry.call("echo", sent, result, error) && result == sent;
      }
    });
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) registry.register_method("other" + std::to_string(i % 3), echo);
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 800);
}

}  // namespace
