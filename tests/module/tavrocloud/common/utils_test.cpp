#include "tavrocloud/common/utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "json/json_load.h"
#include "jsonrpc/json_rpc.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "support/log_capture.h"
#include "support/temp_home.h"
#include "tavrocloud/common/tavrocloud_login.h"

namespace js = json_spirit;
namespace tc = tavrocloud;

TEST(Tables, RoundTripsAndWholeWordsOnly) {
  for (int v = 1; v <= 18; ++v) {
    const char* name = tc::status_to_name(static_cast<tc::Status>(v));
    ASSERT_NE(nullptr, name) << v;
    EXPECT_EQ(v, tc::name_to_status(name, std::strlen(name))) << name;
  }
  EXPECT_EQ(nullptr, tc::status_to_name(static_cast<tc::Status>(19)));
  EXPECT_EQ(tc::UNKNOWN, tc::name_to_status("complete", 7));  // a prefix of a word
  EXPECT_EQ(tc::COMPLETED, tc::name_to_status("completedX", 9));
  EXPECT_EQ(tc::UNKNOWN, tc::name_to_status("IN-USE", 6));
  EXPECT_EQ(tc::UNKNOWN, tc::name_to_status(nullptr, 5));
  for (tc::Network_Interface_Type t : {tc::MAIN, tc::EXTEND}) {
    const char* name = tc::net_interface_to_str(t);
    EXPECT_EQ(t, tc::str_to_net_interface(name, std::strlen(name)));
  }
  EXPECT_EQ(tc::UNKNOWN_TYPE, tc::str_to_net_interface("MAIN", 4));
  EXPECT_STREQ("", tc::net_interface_to_str(tc::UNKNOWN_TYPE));
  for (auto op : {tc::Net_Operation::AUTO, tc::Net_Operation::RESERVE, tc::Net_Operation::SPECIFY}) {
    const char* name = tc::operation_to_str(op);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(op, tc::str_to_operation(name, std::strlen(name)));
  }
  EXPECT_EQ(tc::Net_Operation::UNKNOWN, tc::str_to_operation("specified", 9));
}

TEST(Support_Tmp_Snapshot, VersionsWithAndWithoutPrefix) {
  const std::pair<const char*, bool> cases[] = {
      {"", false},       {"V", false},   {"v9.8.1", true}, {"V10.0", true},
      {"V9.7.9", false}, {"9.8", true},  {"x9.10", true},  {"V9", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, tc::support_tmp_snapshot(c.first)) << c.first;
}

TEST(Build_New_Device, NextNameOrLoggedFailure) {
  const struct {
    std::set<std::string> devices;
    bool ok;
    const char* device;   // the output afterwards
    const char* message;  // logged at error priority, or "" for silence
  } cases[] = {
      {{}, false, "untouched", ""},
      {{"/dev/vda", "/dev/vdb"}, true, "/dev/vdc", ""},
      {{"/dev/vda", "/dev/vdaa"}, true, "/dev/vdab", ""},
      {{"/dev/vdY"}, true, "/dev/vdZ", ""},
      {{"/dev/vd1"}, false, "/dev/vd1", "device name /dev/vd1 doesn't end with alpha.\n"},
      {{""}, false, "", "device name is empty.\n"},
      {{"/dev/vdZ"}, false, "/dev/vdZ", "device name /dev/vdZ ends with the last letter"},
      // A byte above 127 is no letter, whatever its sign as a char.
      {{"/dev/vd\xe9"}, false, "/dev/vd\xe9", "doesn't end with alpha"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.device);
    test::Log_Capture log;
    std::string device = "untouched";
    EXPECT_EQ(c.ok, tc::build_new_device(c.devices, device));
    EXPECT_EQ(c.device, device);
    EXPECT_EQ(*c.message == '\0', log.text().empty()) << log.text();
    EXPECT_TRUE(log.contains(c.message, LM_ERROR) || *c.message == '\0') << log.text();
  }
}

namespace {

const char ACCOUNT[] =
    R"({"host":"10.0.0.5","port":8773,"ssl":false,"locale":"l","access_key":"AK","security_key":"s"})";

}  // namespace

// Objects are appended, other values skipped; the first bad object throws, keeping the
// records before it.
TEST(Trans_Array_To_Throw, SkipsNonObjectsAndStopsAtABadOne) {
  std::vector<tc::Login> out(1);
  tc::trans_array_to_throw(out, js::JSON_Load(std::string("[1, \"x\", ") + ACCOUNT + ", null]").get_array());
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ("10.0.0.5", out[1].host);
  test::Log_Capture log;
  const js::Value bad = js::JSON_Load(std::string("[") + ACCOUNT + R"(, {"host":"h"}, )" + ACCOUNT + "]");
  EXPECT_THROW(tc::trans_array_to_throw(out, bad.get_array()), std::domain_error);
  EXPECT_EQ(3u, out.size());
}

namespace {

// A host home of its own with a fresh RSA key pair, for the whole binary.
class Key_Home : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<test::Temp_Home>("quillon3-tc-common-");
    ASSERT_TRUE(home_->made());
    ASSERT_TRUE(Host_Manager::initialise_home(home_->dir(), "tc-common-test", 2048));
    ASSERT_TRUE(Host_Manager::instance().reload());
  }
  void TearDown() override { home_.reset(); }

 private:
  std::unique_ptr<test::Temp_Home> home_;
};

[[maybe_unused]] ::testing::Environment* const key_home =
    ::testing::AddGlobalTestEnvironment(new Key_Home);

std::string encrypt(const std::string& plain) {
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  RSA_Encoder encoder(plain.data(), plain.size(), pub.data(), pub.size(), true, RSA_CODEC_OAEP_SHA256);
  return encoder.str();
}

js::Object stored_account(const std::string& security_key) {
  js::Object obj = js::JSON_Load(ACCOUNT).get_obj();
  obj["security_key"] = security_key;
  return obj;
}

}  // namespace

// The account comes from the host's "tavrocloud.query" (scripted here), its key decrypted;
// a key that does not decrypt stays as it was and reaches no log.
TEST(Get_Login_Info, LoadsAndDecryptsOrFailsWithItsMessage) {
  js::Object no_locale = stored_account(encrypt("s"));
  no_locale.erase("locale");
  const js::Value good(stored_account(encrypt("the secret"))), bad_account(no_locale),
      array_answer(js::Array{good}), undecryptable(stored_account("bm90IGEgY2lwaGVydGV4dA=="));
  const struct {
    const js::Value* answer;  // null: the host call fails
    bool ok;
    const char* logged;  // "" for nothing in particular
    bool load_failure_logged;
    const char* key_after;
  } cases[] = {
      {&good, true, "", false, "the secret"},
      {nullptr, false, "", false, ""},
      {&array_answer, false, "result is not object!", false, ""},
      {&bad_account, false, "Failed to parse Login: ", true, ""},
      // The stored (encrypted) text stays; the caller must not log in with it.
      {&undecryptable, false, "", false, "bm90IGEgY2lwaGVydGV4dA=="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key_after);
    js::Value seen;
    JSON_RPC_Method_Guard guard(tavrocloud_accounts::QUERY_METHOD,
                                [&](const js::Value& params, js::Value& result, JSON_RPC_Error& error) {
                                  seen = params;
                                  if (c.answer == nullptr) error.code = JSON_RPC_E_INVALID_PARAMS;
                                  if (c.answer != nullptr) result = *c.answer;
                                  return c.answer != nullptr;
                                });
    test::Log_Capture log;
    tc::Login login;
    EXPECT_EQ(c.ok, tc::get_login_info("uuid-1", login));
    EXPECT_EQ(js::Value(js::Object{{"uuid", js::Value("uuid-1")}}), seen);
    EXPECT_EQ(secure_string(c.key_after), login.security_key);
    EXPECT_EQ(std::string::npos, log.text().find("bm90IGEgY2lwaGVydGV4dA=="));
    EXPECT_TRUE(*c.logged == '\0' || log.contains(c.logged)) << log.text();
    EXPECT_EQ(c.load_failure_logged, log.contains("Failed to load login info.")) << log.text();
  }
}
