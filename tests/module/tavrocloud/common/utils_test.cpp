#include "tavrocloud/common/utils.h"

#include <gtest/gtest.h>

#include <cstdlib>
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

// ---- tables -------------------------------------------------------------------------------

TEST(Status_Table, RoundTripAndWholeWordOnly) {
  for (int v = 1; v <= 18; ++v) {
    const tc::Status status = static_cast<tc::Status>(v);
    const char* name = tc::status_to_name(status);
    ASSERT_NE(nullptr, name) << v;
    EXPECT_EQ(status, tc::name_to_status(name, std::strlen(name))) << name;
  }
  EXPECT_EQ(nullptr, tc::status_to_name(static_cast<tc::Status>(19)));
  const struct {
    const char* text;
    size_t len;
    tc::Status expected;
  } cases[] = {
      {"complete", 7, tc::UNKNOWN},      // a prefix of a word
      {"completedX", 9, tc::COMPLETED},  // the length bounds the text
      {"IN-USE", 6, tc::UNKNOWN},        // case matters
      {nullptr, 5, tc::UNKNOWN},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, tc::name_to_status(c.text, c.len)) << c.len;
}

TEST(Network_Tables, RoundTripAndUnknownWords) {
  for (tc::Network_Interface_Type t : {tc::MAIN, tc::EXTEND}) {
    const char* name = tc::net_interface_to_str(t);
    EXPECT_EQ(t, tc::str_to_net_interface(name, std::strlen(name)));
  }
  EXPECT_EQ(tc::UNKNOWN_TYPE, tc::str_to_net_interface("MAIN", 4));
  for (auto op : {tc::Net_Operation::AUTO, tc::Net_Operation::RESERVE, tc::Net_Operation::SPECIFY}) {
    const char* name = tc::operation_to_str(op);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(op, tc::str_to_operation(name, std::strlen(name)));
  }
  EXPECT_EQ(tc::Net_Operation::UNKNOWN, tc::str_to_operation("specified", 9));
  EXPECT_EQ(nullptr, tc::operation_to_str(static_cast<tc::Net_Operation>(4)));
}

// ---- version gate -------------------------------------------------------------------------

TEST(Support_Tmp_Snapshot, VersionsWithAndWithoutPrefix) {
  const struct {
    const char* version;
    bool expected;
  } cases[] = {
      {"", false},      {"V", false},  {"v9.8.1", true}, {"V10.0", true},
      {"V9.7.9", false}, {"9.8", true}, {"x9.10", true}, {"V9", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    EXPECT_EQ(c.expected, tc::support_tmp_snapshot(c.version));
  }
}

// ---- device names -------------------------------------------------------------------------

TEST(Build_New_Device, NextNameOrLoggedFailure) {
  const struct {
    std::set<std::string> devices;
    bool ok;
    const char* device;   // the output afterwards
    const char* message;  // logged at error priority, or null for silence
  } cases[] = {
      {{}, false, "untouched", nullptr},
      {{"/dev/vda", "/dev/vdb"}, true, "/dev/vdc", nullptr},
      {{"/dev/vda", "/dev/vdaa"}, true, "/dev/vdab", nullptr},
      {{"/dev/vdY"}, true, "/dev/vdZ", nullptr},
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
    if (c.message != nullptr) {
      EXPECT_TRUE(log.contains(c.message, LM_ERROR)) << log.text();
    } else {
      EXPECT_TRUE(log.entries().empty()) << log.text();
    }
  }
}

// ---- JSON arrays into records ---------------------------------------------------------------

namespace {

const char ACCOUNT[] =
    R"({"host":"h","port":80,"ssl":false,"locale":"l","access_key":"a","security_key":"s"})";

}  // namespace

TEST(Trans_Array_To_Throw, SkipsNonObjectsAndAppends) {
  std::vector<tc::Login> out(1);
  const js::Value arr =
      js::JSON_Load(std::string("[1, \"x\", ") + ACCOUNT + ", null, " + ACCOUNT + "]");
  tc::trans_array_to_throw(out, arr.get_array());
  ASSERT_EQ(3u, out.size());
  EXPECT_EQ("", out[0].host);
  EXPECT_EQ("h", out[1].host);
  EXPECT_EQ("h", out[2].host);
}

TEST(Trans_Array_To_Throw, ThrowsAtTheFirstBadObjectKeepingEarlierOnes) {
  std::vector<tc::Login> out;
  const js::Value arr =
      js::JSON_Load(std::string("[") + ACCOUNT + R"(, {"host":"h"}, )" + ACCOUNT + "]");
  test::Log_Capture log;
  try {
    tc::trans_array_to_throw(out, arr.get_array());
    FAIL() << "no exception";
  } catch (const std::domain_error& e) {
    EXPECT_STREQ("Failed to load elem content from JSON", e.what());
  }
  EXPECT_EQ(1u, out.size());
}

// ---- account loading ------------------------------------------------------------------------

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
  RSA_Encoder encoder(plain.data(), plain.size(), pub.data(), pub.size(), true,
                      RSA_CODEC_OAEP_SHA256);
  return encoder.str();
}

js::Object stored_account(const std::string& security_key) {
  js::Object obj = js::JSON_Load(ACCOUNT).get_obj();
  obj["host"] = "10.0.0.5";
  obj["port"] = 8773;
  obj["access_key"] = "AKID-STORED";
  obj["security_key"] = security_key;
  return obj;
}

// Installs a scripted "tavrocloud.query" that answers `answer` (or fails when null) and
// remembers the params it was called with.
struct Scripted_Query {
  explicit Scripted_Query(const js::Value* answer)
      : guard(tavrocloud_accounts::QUERY_METHOD,
              [this, answer](const js::Value& params, js::Value& result, JSON_RPC_Error& error) {
                seen = params;
                if (answer == nullptr) {
                  error.code = JSON_RPC_E_INVALID_PARAMS;
                  error.message = "no such account";
                  return false;
                }
                result = *answer;
                return true;
              }) {}
  js::Value seen;
  JSON_RPC_Method_Guard guard;
};

}  // namespace

TEST(Decrypt_Security_Key, ReplacesCiphertextByPlainText) {
  secure_string key(encrypt("wJalrXUtnFEMI/K7MDENG").c_str());
  ASSERT_FALSE(key.empty());
  ASSERT_TRUE(tc::decrypt_security_key(key));
  EXPECT_EQ(secure_string("wJalrXUtnFEMI/K7MDENG"), key);
}

TEST(Decrypt_Security_Key, RejectedKeyStaysAndNothingIsLogged) {
  for (const char* bad : {"", "not base64 at all!", "c2VjcmV0"}) {
    SCOPED_TRACE(bad);
    test::Log_Capture log;
    secure_string key(bad);
    EXPECT_FALSE(tc::decrypt_security_key(key));
    EXPECT_EQ(secure_string(bad), key);
    EXPECT_TRUE(log.entries().empty()) << log.text();
  }
}

TEST(Get_Login_Info, LoadsAndDecryptsTheStoredAccount) {
  const js::Value answer(stored_account(encrypt("the secret")));
  Scripted_Query query(&answer);
  tc::Login login;
  ASSERT_TRUE(tc::get_login_info("uuid-1", login));
  EXPECT_EQ(js::Value(js::Object{{"uuid", js::Value("uuid-1")}}), query.seen);
  EXPECT_EQ("10.0.0.5", login.host);
  EXPECT_EQ(8773, login.port);
  EXPECT_EQ(secure_string("AKID-STORED"), login.access_key);
  EXPECT_EQ(secure_string("the secret"), login.security_key);
}

TEST(Get_Login_Info, FailuresAndTheirMessages) {
  const js::Value array_answer(js::Array{js::Value(stored_account(encrypt("s")))});
  js::Object no_locale = stored_account(encrypt("s"));
  no_locale.erase("locale");
  const js::Value bad_account(no_locale);
  const js::Value undecryptable(stored_account("bm90IGEgY2lwaGVydGV4dA=="));
  const struct {
    const char* name;
    const js::Value* answer;
    std::vector<std::pair<const char*, ACE_Log_Priority>> logged;
    const char* not_logged;
    const char* key_after;  // the account's security key afterwards
  } cases[] = {
      {"host call fails", nullptr, {}, "Failed to load login info.", ""},
      {"array answer",
       &array_answer,
       {{"tavrocloud/common/utils", LM_EMERGENCY}, {"result is not object!", LM_EMERGENCY}},
       "Failed to load login info.",
       ""},
      {"bad account",
       &bad_account,
       {{"Failed to parse Login: ", LM_ERROR}, {"Failed to load login info.\n", LM_ERROR}},
       nullptr,
       ""},
      // The stored (encrypted) text stays; the caller must not log in with it.
      {"key does not decrypt", &undecryptable, {}, "Failed to load login info.",
       "bm90IGEgY2lwaGVydGV4dA=="},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Scripted_Query query(c.answer);
    test::Log_Capture log;
    tc::Login login;
    EXPECT_FALSE(tc::get_login_info("uuid-1", login));
    for (const auto& l : c.logged) EXPECT_TRUE(log.contains(l.first, l.second)) << log.text();
    if (c.not_logged != nullptr) {
      EXPECT_FALSE(log.contains(c.not_logged)) << log.text();
    }
    EXPECT_EQ(secure_string(c.key_after), login.security_key);
  }
}

// The host's own method, over an account stored in the host home.
TEST(Get_Login_Info, ThroughTheHostsStore) {
  ASSERT_TRUE(tavrocloud_accounts::store_account("uuid-stored", stored_account(encrypt("k2"))));
  tc::Login login;
  ASSERT_TRUE(tc::get_login_info("uuid-stored", login));
  EXPECT_EQ(secure_string("k2"), login.security_key);

  tc::Login other;
  EXPECT_FALSE(tc::get_login_info("uuid-unknown", other));
}
