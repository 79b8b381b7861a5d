// The console's login and list handlers, driven through the host's JSON-RPC handler
// interface against the simulator, with accounts in a temporary host home.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "json/json_dump.h"
#include "json/json_load.h"
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
    ASSERT_TRUE(home_->made());
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

std::string encrypt(const std::string& plain) {
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  return RSA_Encoder(plain.data(), plain.size(), pub.data(), pub.size(), true,
                     RSA_CODEC_OAEP_SHA256)
      .str();
}

js::Object account(const std::string& secret, uint16_t port = test::Console_Sim::port()) {
  return js::Object{{"host", js::Value("127.0.0.1")}, {"port", js::Value(port)},
                    {"ssl", js::Value(false)},        {"locale", js::Value("")},
                    {"access_key", js::Value(test::CONSOLE_AK)},
                    {"security_key", js::Value(encrypt(secret))}};
}

// "code message" of an error reply, or the result as JSON.
std::string answer(JSON_RPC_Handler& handler, const js::Value& params) {
  js::Object reply;
  if (!json_rpc_exchange(handler, "test", params, reply)) return "no reply";
  EXPECT_EQ(js::Value(1), reply["id"]);
  if (reply.count("error") != 0) {
    const js::Object& e = reply["error"].get_obj();
    EXPECT_TRUE(e.at("data").is_null());
    return std::to_string(e.at("code").get_int()) + " " + e.at("message").get_str();
  }
  return js::JSON_Dump(reply["result"]);
}

class Console_Handlers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(0, test::Console_Sim::port()) << test::Console_Sim::error(); }
};

TEST_F(Console_Handlers, ObjectsThatAreNoRequestGetNoReply) {
  tavrocloud::JSON_RPC_Tavrocloud_Login_Handler login;
  tavrocloud::JSON_RPC_Tavrocloud_List_Handler list;
  for (JSON_RPC_Handler* handler : std::vector<JSON_RPC_Handler*>{&login, &list}) {
    JSON_RPC_Reply_Channel* const channel = new JSON_RPC_Reply_Channel;
    const JSON_RPC_Channel_ptr owner(channel);
    const JSON_RPC_Request request("m", js::Object(), js::Value(7));
    for (JSON_RPC_Object* obj : std::vector<JSON_RPC_Object*>{
             new JSON_RPC_Notify("m", js::Object()), new JSON_RPC_Response(&request)}) {
      test::Log_Capture log;
      EXPECT_EQ(-1, handler->handle_object_i(owner, JSON_RPC_Object_ptr(obj)));
      EXPECT_TRUE(log.contains("obj is not JSON-RPC request!", LM_EMERGENCY)) << log.text();
    }
    EXPECT_TRUE(channel->replies().empty());
  }
}

TEST_F(Console_Handlers, LoginAnswers) {
  js::Object text_port = account(test::CONSOLE_SK);
  text_port["port"] = "8773";
  js::Object plain_key = account(test::CONSOLE_SK);
  plain_key["security_key"] = test::CONSOLE_SK;
  const std::string unusable = "-32603 Failed to parse or decrypt security key";
  const struct {
    const char* name;
    js::Value params;
    std::string reply;
  } cases[] = {
      {"array params", js::Array{js::Value(account(test::CONSOLE_SK))}, "-32602 Invalid params"},
      {"text port", text_port, unusable},
      {"key not encrypted", plain_key, unusable},
      {"wrong secret", account("not the secret"), "-32603 Failed to login"},
      // No version learnt: an unreachable cloud is no login.
      {"nobody listening", account(test::CONSOLE_SK, test::Loopback_Http_Server::closed_port()),
       "-32603 Failed to login"},
      {"success", account(test::CONSOLE_SK),
       R"({"code":0,"message":"Success to login","version":"V9.8"})"},
  };
  tavrocloud::JSON_RPC_Tavrocloud_Login_Handler handler;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    EXPECT_EQ(c.reply, answer(handler, c.params));
    EXPECT_EQ(std::string::npos, log.text().find(test::CONSOLE_SK));
  }
}

TEST_F(Console_Handlers, ListAnswers) {
  ASSERT_TRUE(tavrocloud_accounts::store_account("good", account(test::CONSOLE_SK)));
  ASSERT_TRUE(tavrocloud_accounts::store_account("refused", account("wrong")));
  auto params = [](const char* uuid, const std::string& subtype, const char* view,
                   const char* type, const char* moid) {
    return js::Object{{"uuid", js::Value(uuid)}, {"subtype", js::Value(subtype)},
                      {"view", js::Value(view)}, {"type", js::Value(type)},
                      {"moid", js::Value(moid)}};
  };
  js::Object bad_search = params("good", "search", "", "", "");
  bad_search["search_type"] = "Flavor";  // no such search
  js::Object search_without_view = bad_search;
  search_without_view.erase("view");
  const std::string long_subtype(100, 's');
  const struct {
    const char* name;
    js::Value params;
    std::string reply;
  } cases[] = {
      {"string params", js::Value("uuid=good"), "-32602 Invalid params: params type must be object."},
      {"search without view", search_without_view, "-32602 Invalid params"},
      {"moid not a string", js::Object{{"uuid", js::Value("good")}, {"moid", js::Value(1)}},
       "-32602 Invalid params"},
      {"unknown account, bad subtype", params("nobody", "bogus", "instances", "", ""),
       "-32603 Failed to get login info"},
      {"refused account", params("refused", "inventory", "instances", "", ""),
       "-32603 Failed to login tavrocloud"},
      {"subtype in another case", params("good", "Inventory", "instances", "", ""),
       "-32602 Invalid subtype Inventory"},
      {"subtype with a NUL", params("good", "inventory\0x"s, "instances", "", ""),
       "-32602 Invalid subtype inventory"},
      {"long subtype", params("good", long_subtype, "instances", "", ""),
       "-32602 Invalid subtype " + long_subtype},
      {"no such step", params("good", "inventory", "instances", "Instance", ""),
       "-32603 Failed to list items"},
      {"no such search", bad_search, "-32603 Failed to search items"},
      {"inventory", params("good", "inventory", "instances", "", ""),
       R"([{"extended_attr":{},"has_children":true,"moid":"cloud-1","name":"Cloud One",)"
       R"("size":0.0,"status":"available","sub_type":"","type":"Cloud"}])"},
      {"empty listing", params("good", "inventory", "recovery", "Subnet", "vpc-free"), "[]"},
  };
  tavrocloud::JSON_RPC_Tavrocloud_List_Handler handler;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    EXPECT_EQ(c.reply, answer(handler, c.params));
    if (c.reply == "-32602 Invalid params") {
      EXPECT_TRUE(log.contains("Failed to parse params : ", LM_ERROR)) << log.text();
    }
  }
}

}  // namespace
