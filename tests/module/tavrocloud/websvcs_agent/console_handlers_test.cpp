// The console's login and list handlers, driven through the host's JSON-RPC handler
// interface against the simulator, with accounts in a temporary host home.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "json/json_dump.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "module/tavrocloud/common/console_sim.h"
#include "support/log_capture.h"
#include "support/loopback_http.h"
#include "tavrocloud/websvcs_agent/tavrocloud_list_handler.h"
#include "tavrocloud/websvcs_agent/tavrocloud_login_handler.h"

using namespace std::string_literals;
namespace js = json_spirit;

namespace {

class Key_Home : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<test::Temp_Home>("quillon3-console-");
    ASSERT_TRUE(Host_Manager::initialise_home(home_->dir(), "console-test", 2048));
    ASSERT_TRUE(Host_Manager::instance().reload());
  }
  void TearDown() override { home_.reset(); }

 private:
  std::unique_ptr<test::Temp_Home> home_;
};

[[maybe_unused]] ::testing::Environment* const key_home = ::testing::AddGlobalTestEnvironment(new Key_Home);
[[maybe_unused]] ::testing::Environment* const console_sim = ::testing::AddGlobalTestEnvironment(new test::Console_Sim);

js::Object account(const std::string& secret, uint16_t port = test::Console_Sim::port(), bool encrypted = true) {
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  const std::string key =
      encrypted ? RSA_Encoder(secret.data(), secret.size(), pub.data(), pub.size(), true, RSA_CODEC_OAEP_SHA256).str()
                : secret;
  return js::Object{{"host", js::Value("127.0.0.1")}, {"port", js::Value(port)}, {"ssl", js::Value(false)},
                    {"locale", js::Value("")}, {"access_key", js::Value(test::CONSOLE_AK)},
                    {"security_key", js::Value(key)}};
}

js::Object list(const char* uuid, const std::string& subtype, const char* view, const char* type = "",
                const char* moid = "") {
  return js::Object{{"uuid", js::Value(uuid)}, {"subtype", js::Value(subtype)}, {"view", js::Value(view)},
                    {"type", js::Value(type)}, {"moid", js::Value(moid)}};
}

// Every refusal is an error reply without data, and no secret reaches the log; objects
// that are no request get no reply at all.
TEST(Console_Handlers, Answers) {
  ASSERT_NE(0, test::Console_Sim::port()) << test::Console_Sim::error();
  ASSERT_TRUE(tavrocloud_accounts::store_account("good", account(test::CONSOLE_SK)));
  ASSERT_TRUE(tavrocloud_accounts::store_account("refused", account("wrong")));
  js::Object text_port = account(test::CONSOLE_SK), bad_search = list("good", "search", "");
  text_port["port"] = "8773";
  bad_search["search_type"] = "Flavor";  // no such search
  js::Object search_without_view = bad_search;
  search_without_view.erase("view");
  const std::string long_subtype(100, 's'), unusable = "-32603 Failed to parse or decrypt security key";
  test::Loopback_Http_Server no_version([](const test::Http_Request&, test::Http_Stream& out) {
    out.write(test::Loopback_Http_Server::reply_text(500, ""));
  });
  const struct {
    const char* name;
    bool login;
    js::Value params;
    std::string reply;
  } cases[] = {
      {"login: array params", true, js::Array{js::Value(account(test::CONSOLE_SK))}, "-32602 Invalid params"},
      {"login: text port", true, text_port, unusable},
      {"login: key not encrypted", true, account(test::CONSOLE_SK, test::Console_Sim::port(), false), unusable},
      {"login: wrong secret", true, account("not the secret"), "-32603 Failed to login"},
      {"login: no version learnt", true, account(test::CONSOLE_SK, no_version.port()), "-32603 Failed to login"},
      {"login", true, account(test::CONSOLE_SK), R"({"code":0,"message":"Success to login","version":"V9.8"})"},
      {"string params", false, js::Value("uuid=good"), "-32602 Invalid params: params type must be object."},
      {"search without view", false, search_without_view, "-32602 Invalid params"},
      {"moid not a string", false, js::Object{{"uuid", js::Value("good")}, {"moid", js::Value(1)}},
       "-32602 Invalid params"},
      {"unknown account, bad subtype", false, list("nobody", "bogus", "instances"), "-32603 Failed to get login info"},
      {"refused account", false, list("refused", "inventory", "instances"), "-32603 Failed to login tavrocloud"},
      {"subtype in another case", false, list("good", "Inventory", "instances"), "-32602 Invalid subtype Inventory"},
      {"subtype with a NUL", false, list("good", "inventory\0x"s, "instances"), "-32602 Invalid subtype inventory"},
      {"long subtype", false, list("good", long_subtype, "instances"), "-32602 Invalid subtype " + long_subtype},
      {"no such step", false, list("good", "inventory", "instances", "Instance"), "-32603 Failed to list items"},
      {"no such search", false, bad_search, "-32603 Failed to search items"},
      {"inventory", false, list("good", "inventory", "instances"),
       R"([{"extended_attr":{},"has_children":true,"moid":"cloud-1","name":"Cloud One",)"
       R"("size":0.0,"status":"available","sub_type":"","type":"Cloud"}])"},
      {"empty listing", false, list("good", "inventory", "recovery", "Subnet", "vpc-free"), "[]"},
  };
  tavrocloud::JSON_RPC_Tavrocloud_Login_Handler login;
  tavrocloud::JSON_RPC_Tavrocloud_List_Handler lister;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    js::Object reply;
    ASSERT_TRUE(json_rpc_exchange(c.login ? static_cast<JSON_RPC_Handler&>(login) : lister, "m", c.params, reply));
    EXPECT_EQ(reply["id"], js::Value(1));
    const js::Value error = reply.count("error") ? reply["error"] : js::Value();
    EXPECT_EQ(error.is_null() ? js::JSON_Dump(reply["result"])
                              : std::to_string(error.get_obj().at("code").get_int()) + " " +
                                    error.get_obj().at("message").get_str() +
                                    (error.get_obj().at("data").is_null() ? "" : " with data"), c.reply);
    EXPECT_EQ(log.text().find(test::CONSOLE_SK), std::string::npos);
    EXPECT_TRUE(c.login || c.reply != "-32602 Invalid params" || log.contains("Failed to parse params : ", LM_ERROR));
  }
  for (JSON_RPC_Handler* handler : std::vector<JSON_RPC_Handler*>{&login, &lister}) {
    test::Log_Capture log;
    EXPECT_EQ(-1, handler->handle_object_i(JSON_RPC_Channel_ptr(new JSON_RPC_Reply_Channel),
                                           JSON_RPC_Object_ptr(new JSON_RPC_Notify("m", js::Object()))));
    EXPECT_TRUE(log.contains("obj is not JSON-RPC request!", LM_EMERGENCY)) << log.text();
  }
}

}  // namespace
