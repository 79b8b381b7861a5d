// The JSON-RPC registry and the host's "tavrocloud.query": answers from a real accounts
// store in a temporary host home, scripted methods, failures and concurrent callers.
#include "jsonrpc/json_rpc.h"

#include "json/json_load.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using json_spirit::Object;
using json_spirit::Value;

class Accounts_Home : public test::Temp_Home_Test {
 protected:
  Accounts_Home() : Temp_Home_Test("json_rpc_test_") {}
  void write_store(const std::string& text) { std::ofstream(dir() + "/accounts.json") << text; }

  static Object account(const std::string& host) {
    Object a;
    a["host"] = host;
    a["port"] = 8773;
    a["ssl"] = false;
    a["locale"] = "region-1";
    a["access_key"] = "AK";
    a["security_key"] = "ZW5jcnlwdGVk";
    return a;
  }

  static Value uuid_params(const std::string& uuid) {
    Object p;
    p["uuid"] = uuid;
    return p;
  }
};

TEST_F(Accounts_Home, QueryAnswersTheStoredAccount) {
  ASSERT_TRUE(tavrocloud_accounts::store_account("u-1", account("10.0.0.1")));
  ASSERT_TRUE(tavrocloud_accounts::store_account("u-2", account("10.0.0.2")));
  ASSERT_TRUE(tavrocloud_accounts::store_account("u-1", account("10.0.0.9")));  // replaced
  struct stat st {};
  ASSERT_EQ(::stat(tavrocloud_accounts::accounts_path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Value result;
  ASSERT_TRUE(global_json_rpc("tavrocloud.query", uuid_params("u-1"), -1, &result,
                              json_spirit::null_type, -1));
  EXPECT_EQ(result, Value(account("10.0.0.9")));
  ASSERT_TRUE(global_json_rpc("tavrocloud.query", uuid_params("u-2"), 7, &result,
                              json_spirit::obj_type, 1000));
  EXPECT_EQ(json_spirit::object_get_str_or_throw(result.get_obj(), "host"), "10.0.0.2");

  ASSERT_TRUE(tavrocloud_accounts::remove_account("u-2"));
  EXPECT_FALSE(tavrocloud_accounts::remove_account("u-2"));
  test::Log_Capture log;
  EXPECT_FALSE(global_json_rpc("tavrocloud.query", uuid_params("u-2"), -1, &result,
                               json_spirit::null_type, -1));
}

// Sixteen processes add one account each at once: every one is kept and the store stays
// a JSON object, with no temporary file left beside it.
TEST_F(Accounts_Home, ConcurrentAddsFromManyProcessesAreAllKept) {
  std::vector<pid_t> children;
  for (int i = 0; i < 16; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int round = 0; round < 5; ++round) {
        ok = tavrocloud_accounts::store_account("u-" + std::to_string(i), account("h")) && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  Object accounts;
  ASSERT_TRUE(tavrocloud_accounts::load_accounts(accounts));
  EXPECT_EQ(accounts.size(), 16u);
  for (const auto& entry : std::filesystem::directory_iterator(dir())) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "accounts.json" || name == "accounts.json.lock") << name;
  }
}

TEST_F(Accounts_Home, QueryFailures) {
  struct Failure_Case {
    const char* name;
    const char* store;  // null: no store file
    Value params;
    int code;
  } cases[] = {
      {"no store", nullptr, uuid_params("u-1"), JSON_RPC_E_INVALID_PARAMS},
      {"unknown uuid", "{\"u-2\": {}}", uuid_params("u-1"), JSON_RPC_E_INVALID_PARAMS},
      {"params not an object", "{}", Value(json_spirit::Array{Value("u-1")}),
       JSON_RPC_E_INVALID_PARAMS},
      {"uuid not a string", "{}", Value(Object{{"uuid", Value(5)}}), JSON_RPC_E_INVALID_PARAMS},
      {"store not json", "{\"u-1\": ", uuid_params("u-1"), JSON_RPC_E_INTERNAL_ERROR},
      {"store an array", "[{\"uuid\": \"u-1\"}]", uuid_params("u-1"), JSON_RPC_E_INTERNAL_ERROR},
      {"member not an object", "{\"u-1\": [1]}", uuid_params("u-1"), JSON_RPC_E_INTERNAL_ERROR},
  };
  for (const auto& c : cases) {
    ::unlink(tavrocloud_accounts::accounts_path().c_str());
    if (c.store != nullptr) write_store(c.store);
    Value result = Value("untouched");
    JSON_RPC_Error error;
    EXPECT_FALSE(JSON_RPC_Registry::instance().call("tavrocloud.query", c.params, result, error))
        << c.name;
    EXPECT_EQ(error.code, c.code) << c.name;
    EXPECT_EQ(result, Value("untouched")) << c.name;
  }
  // A store that is damaged is not overwritten by a later registration.
  write_store("{\"u-1\": ");
  EXPECT_FALSE(tavrocloud_accounts::store_account("u-3", account("h")));
}

// A stored account is handed out as stored, even when the module will refuse it.
TEST_F(Accounts_Home, QueryDoesNotJudgeTheAccount) {
  write_store("{\"u-1\": {\"host\": \"h\", \"port\": \"8773\"}}");
  Value result;
  ASSERT_TRUE(global_json_rpc("tavrocloud.query", uuid_params("u-1"), -1, &result,
                              json_spirit::null_type, -1));
  EXPECT_EQ(json_spirit::object_get_str_or_throw(result.get_obj(), "port"), "8773");
}

TEST(JsonRpcRegistry, ScriptedMethodsAndResultTypes) {
  test::Log_Capture log;
  struct Script_Case {
    const char* name;
    JSON_RPC_Registry::Method method;
    json_spirit::Value_type wanted;
    bool ok;
    Value expected;
  } cases[] = {
      {"object",
       [](const Value&, Value& r, JSON_RPC_Error&) {
         r = Object{{"host", Value("h")}};
         return true;
       },
       json_spirit::null_type, true, Value(Object{{"host", Value("h")}})},
      {"array",
       [](const Value&, Value& r, JSON_RPC_Error&) {
         r = json_spirit::Array{Value(1)};
         return true;
       },
       json_spirit::null_type, true, Value(json_spirit::Array{Value(1)})},
      {"array where object wanted",
       [](const Value&, Value& r, JSON_RPC_Error&) {
         r = json_spirit::Array{};
         return true;
       },
       json_spirit::obj_type, false, Value("untouched")},
      {"failure",
       [](const Value&, Value& r, JSON_RPC_Error& e) {
         r = Value("partial");
         e.code = JSON_RPC_E_INTERNAL_ERROR;
         e.message = "store offline";
         return false;
       },
       json_spirit::null_type, false, Value("untouched")},
      {"throws",
       [](const Value&, Value&, JSON_RPC_Error&) -> bool { throw std::runtime_error("boom"); },
       json_spirit::null_type, false, Value("untouched")},
  };
  for (auto& c : cases) {
    JSON_RPC_Method_Guard guard("test.scripted", c.method);
    Value result = Value("untouched");
    EXPECT_EQ(global_json_rpc("test.scripted", Value(), -1, &result, c.wanted, -1), c.ok) << c.name;
    EXPECT_EQ(result, c.expected) << c.name;
  }
  EXPECT_FALSE(JSON_RPC_Registry::instance().has_method("test.scripted"));
  EXPECT_TRUE(log.contains("store offline", LM_ERROR));
  EXPECT_TRUE(log.contains("boom", LM_ERROR));

  Value result;
  JSON_RPC_Error error;
  EXPECT_FALSE(JSON_RPC_Registry::instance().call("no.such.method", Value(), result, error));
  EXPECT_EQ(error.code, JSON_RPC_E_METHOD_NOT_FOUND);
}

TEST(JsonRpcRegistry, GuardRestoresTheHostMethod) {
  ASSERT_TRUE(JSON_RPC_Registry::instance().has_method("tavrocloud.query"));
  {
    JSON_RPC_Method_Guard guard("tavrocloud.query", [](const Value&, Value& r, JSON_RPC_Error&) {
      r = Value(1);
      return true;
    });
    Value result;
    ASSERT_TRUE(
        global_json_rpc("tavrocloud.query", Value(), -1, &result, json_spirit::null_type, -1));
    EXPECT_EQ(result, Value(1));
  }
  JSON_RPC_Error error;
  Value result;
  EXPECT_FALSE(JSON_RPC_Registry::instance().call("tavrocloud.query", Value(), result, error));
  EXPECT_EQ(error.code, JSON_RPC_E_INVALID_PARAMS);
}

TEST(JsonRpcRegistry, ConcurrentCallersAndRegistration) {
  JSON_RPC_Registry registry;
  registry.register_method("echo", [](const Value& p, Value& r, JSON_RPC_Error&) {
    r = p;
    return true;
  });
  std::atomic<int> ok{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        Value result;
        JSON_RPC_Error error;
        if (registry.call("echo", Value(t * 1000 + i), result, error) &&
            result == Value(t * 1000 + i))
          ++ok;
      }
    });
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i)
      registry.register_method("other" + std::to_string(i % 3),
                               [](const Value&, Value&, JSON_RPC_Error&) { return true; });
  });
  for (auto& t : threads) t.join();
  EXPECT_EQ(ok.load(), 800);
}

}  // namespace
