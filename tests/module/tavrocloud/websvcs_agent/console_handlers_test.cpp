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
using V = json_spirit::Value;

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

[[maybe_unused]] ::testing::Environment* const key_home =
    ::testing::AddGlobalTestEnvironment(new Key_Home);
[[maybe_unused]] ::testing::Environment* const console_sim =
    ::testing::AddGlobalTestEnvironment(new test::Console_Sim);

// Login parameters of the simulator's account with `secret`, encrypted for the host.
js::Object account(const std::string& secret, uint16_t port = test::Console_Sim::port()) {
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  const std::string key = RSA_Encoder(secret.data(), secret.size(), pub.data(), pub.size(), true,
                                      RSA_CODEC_OAEP_SHA256).str();
  return js::Object{{"host", V("127.0.0.1")}, {"port", V(port)}, {"ssl", V(false)},
                    {"locale", V("")}, {"access_key", V(test::CONSOLE_AK)},
                    {"security_key", V(key)}};
}

// List parameters: the account, the subtype, the view, the type and the object.
js::Object list(const char* uuid, const std::string& subtype, const char* view,
                const char* type = "", const char* moid = "") {
  return js::Object{{"uuid", V(uuid)}, {"subtype", V(subtype)}, {"view", V(view)},
                    {"type", V(type)}, {"moid", V(moid)}};
}

// A JSON-RPC reply: the result's JSON, or the error's code and message ("with data" when
// it carries some).
std::string reply_text(js::Object& reply) {
  if (!reply.count("error")) return js::JSON_Dump(reply["result"]);
  const js::Object& error = reply["error"].get_obj();
  return std::to_string(error.at("code").get_int()) + " " + error.at("message").get_str() +
         (error.at("data").is_null() ? "" : " with data");
}

// Every refusal is an error reply without data, and no secret reaches the log; objects
// that are no request get no reply at all.
TEST(Console_Handlers, Answers) {
  ASSERT_NE(0, test::Console_Sim::port()) << test::Console_Sim::error();
  const char* const sk = test::CONSOLE_SK;
  ASSERT_TRUE(tavrocloud_accounts::store_account("good", account(sk)));
  ASSERT_TRUE(tavrocloud_accounts::store_account("refused", account("wrong")));
  js::Object text_port = account(sk), bad_search = list("good", "search", "");
  text_port["port"] = "8773";
  bad_search["search_type"] = "Flavor";  // no such search
  js::Object search_without_view = bad_search;
  search_without_view.erase("view");
  const std::string unusable = "-32603 Failed to parse or decrypt security key";
  const std::string bad_params = "-32602 Invalid params", subtype = "-32602 Invalid subtype ";
  test::Loopback_Http_Server no_version([](const test::Http_Request&, test::Http_Stream& out) {
    out.write(test::Loopback_Http_Server::reply_text(500, ""));
  });
  // Knows its version; answers anything else with a document of another kind.
  test::Loopback_Http_Server other_kind([](const test::Http_Request& r, test::Http_Stream& out) {
    const bool version = r.body.find("Action=GetCloudVersion&") == 0;
    out.write(test::Loopback_Http_Server::reply_text(
        200, version ? "<GetCloudVersionResponse><getCloudVersionResult><version>V9.8</version>"
                       "</getCloudVersionResult></GetCloudVersionResponse>"
                     : "<DescribeNothingResponse><item/></DescribeNothingResponse>"));
  });
  ASSERT_TRUE(tavrocloud_accounts::store_account("other-kind", account(sk, other_kind.port())));
  const struct {
    const char* name;
    bool login;
    V params;
    std::string reply;
  } cases[] = {
      {"login: array params", true, js::Array{V(account(sk))}, bad_params},
      {"login: text port", true, text_port, unusable},
      {"login: wrong secret", true, account("not the secret"), "-32603 Failed to login"},
      {"login: no version learnt", true, account(sk, no_version.port()), "-32603 Failed to login"},
      {"login", true, account(sk), R"({"code":0,"message":"Success to login","version":"V9.8"})"},
      {"string params", false, V("uuid=good"), bad_params + ": params type must be object."},
      {"search without view", false, search_without_view, bad_params},
      {"unknown account, bad subtype", false, list("nobody", "bogus", "instances"),
       "-32603 Failed to get login info"},
      {"refused account", false, list("refused", "inventory", "instances"),
       "-32603 Failed to login tavrocloud"},
      {"subtype in another case", false, list("good", "Inventory", "instances"),
       subtype + "Inventory"},
      {"subtype with a NUL", false, list("good", "inventory\0x"s, "instances"),
       subtype + "inventory"},
      {"no such step", false, list("good", "inventory", "instances", "Instance"),
       "-32603 Failed to list items"},
      {"no such search", false, bad_search, "-32603 Failed to search items"},
      {"empty listing", false, list("good", "inventory", "recovery", "Subnet", "vpc-free"), "[]"},
      {"answers of another kind", false, list("other-kind", "inventory", "instances", "Cloud"),
       "-32603 Failed to list items"},
  };
  tavrocloud::JSON_RPC_Tavrocloud_Login_Handler login;
  tavrocloud::JSON_RPC_Tavrocloud_List_Handler lister;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    js::Object reply;
    JSON_RPC_Handler& handler = c.login ? static_cast<JSON_RPC_Handler&>(login) : lister;
    ASSERT_TRUE(json_rpc_exchange(handler, "m", c.params, reply));
    EXPECT_EQ(reply["id"], V(1));
    EXPECT_EQ(reply_text(reply), c.reply);
    EXPECT_EQ(log.text().find(sk), std::string::npos);
    const bool parse_failed = log.contains("Failed to parse params : ", LM_ERROR);
    EXPECT_TRUE(c.login || c.reply != bad_params || parse_failed);
  }
  for (JSON_RPC_Handler* handler : std::vector<JSON_RPC_Handler*>{&login, &lister}) {
    test::Log_Capture log;
    const JSON_RPC_Channel_ptr channel(new JSON_RPC_Reply_Channel);
    const JSON_RPC_Object_ptr notice(new JSON_RPC_Notify("m", js::Object()));
    EXPECT_EQ(-1, handler->handle_object_i(channel, notice));
    EXPECT_TRUE(log.contains("obj is not JSON-RPC request!", LM_EMERGENCY)) << log.text();
  }
}

}  // namespace
