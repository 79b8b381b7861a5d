// The client's shared helpers: status and type words both ways, the version gate of
// temporary snapshots, device naming, and the cloud account: its JSON form and its
// loading from the host with the key decrypted.
#include "tavrocloud/common/utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
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
using tc::Login;

namespace {

const char ACCOUNT[] = R"({"host":"cloud.example","port":8773,"ssl":true,"locale":"region-1",)"
                       R"("access_key":"AKIDEXAMPLE","security_key":"c2VjcmV0"})";

// The account with member `key` set to the JSON text `json` ("": removed).
js::Object account(const std::string& key = "", const std::string& json = "") {
  js::Object obj = js::JSON_Load(ACCOUNT).get_obj();
  if (json.empty()) obj.erase(key);
  if (!json.empty()) obj[key] = js::JSON_Load(json);
  return obj;
}
std::string keys(const Login& l) {
  return l.host + " " + std::to_string(l.port) + " " + l.access_key.c_str() + " " +
         l.security_key.c_str();
}

}  // namespace

// Every status name reads back as its status; the interface and operation words are read
// back by the parsers' and the restore's tests.
TEST(Tables, RoundTripsAndWholeWordsOnly) {
  for (int v = 1; v <= 18; ++v) {
    const char* name = tc::status_to_name(static_cast<tc::Status>(v));
    ASSERT_NE(nullptr, name) << v;
    EXPECT_EQ(v, tc::name_to_status(name, std::strlen(name))) << name;
  }
  EXPECT_EQ(nullptr, tc::status_to_name(static_cast<tc::Status>(19)));
  EXPECT_STREQ("", tc::net_interface_to_str(tc::UNKNOWN_TYPE));
  // A prefix, a longer word, another case or no text is no word.
  const std::vector<tc::Status> words = {
      tc::name_to_status("complete", 7), tc::name_to_status("completedX", 9),
      tc::name_to_status("IN-USE", 6), tc::name_to_status(nullptr, 5)};
  EXPECT_EQ((std::vector<tc::Status>{tc::UNKNOWN, tc::COMPLETED, tc::UNKNOWN, tc::UNKNOWN}), words);
  EXPECT_EQ(tc::UNKNOWN_TYPE, tc::str_to_net_interface("MAIN", 4));
  EXPECT_EQ(tc::Net_Operation::UNKNOWN, tc::str_to_operation("specified", 9));
}

TEST(Support_Tmp_Snapshot, VersionsWithAndWithoutPrefix) {
  for (auto v : {"v9.8.1", "V10.0", "9.8", "x9.10"}) EXPECT_TRUE(tc::support_tmp_snapshot(v)) << v;
  for (auto v : {"", "V", "V9.7.9", "V9"}) EXPECT_FALSE(tc::support_tmp_snapshot(v)) << v;
}

TEST(Build_New_Device, NextNameOrLoggedFailure) {
  const struct {
    std::set<std::string> devices;
    const char* want;  // the verdict, the output afterwards and what was logged at error priority
  } cases[] = {
      {{}, "0 untouched "},
      {{"/dev/vda", "/dev/vdb"}, "1 /dev/vdc "},
      {{"/dev/vda", "/dev/vdaa"}, "1 /dev/vdab "},
      {{"/dev/vdY"}, "1 /dev/vdZ "},
      {{"/dev/vd1"}, "0 /dev/vd1 device name /dev/vd1 doesn't end with alpha.\n"},
      {{""}, "0  device name is empty.\n"},
      {{"/dev/vdZ"},
       "0 /dev/vdZ device name /dev/vdZ ends with the last letter, no next device name.\n"},
      // A byte above 127 is no letter, whatever its sign as a char.
      {{"/dev/vd\xe9"}, "0 /dev/vd\xe9 device name /dev/vd\xe9 doesn't end with alpha.\n"},
  };
  for (const auto& c : cases) {
    test::Log_Capture log;
    std::string device = "untouched";
    const bool ok = tc::build_new_device(c.devices, device);
    EXPECT_EQ(c.want, std::to_string(ok) + " " + device + " " + log.text());
    EXPECT_EQ(!log.text().empty(), log.contains("", LM_ERROR));
  }
}

// A bad member fails the whole account; the members before it were written, the keys
// are only replaced once everything was read, and nothing of the keys reaches the log.
TEST(Login, StrictParseKeepsKeysAndNamesNoSecret) {
  const char* const after[] = {"old-host 2 OLDAK OLDSK", "cloud.example 2 OLDAK OLDSK",
                               "cloud.example 8773 OLDAK OLDSK"};
  const struct {
    const char* key;
    const char* value;  // "" removes the member
    int written;        // 0 nothing, 1 the host, 2 host and port, 3 all
  } cases[] = {
      {"port", "1", 3},          {"port", "65535", 3},        {"host", "", 0},
      {"host", "5", 0},          {"port", "", 1},             {"port", "\"8773\"", 1},
      {"port", "0", 1},          {"port", "65536", 1},        {"port", "-1", 1},
      {"port", "4294975069", 1}, {"ssl", "\"true\"", 2},      {"locale", "", 2},
      {"locale", "null", 2},     {"access_key", "", 2},       {"access_key", "42", 2},
      {"security_key", "", 2},   {"security_key", "[]", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    const js::Object obj = account(c.key, c.value);
    test::Log_Capture log;
    Login login("old-host", 2, false, "old-locale", secure_string("OLDAK"), secure_string("OLDSK"));
    EXPECT_EQ(c.written == 3, login << obj);
    const std::string all = "cloud.example " + std::string(c.value) + " AKIDEXAMPLE c2VjcmV0";
    EXPECT_EQ(c.written == 3 ? all : after[c.written], keys(login));
    EXPECT_EQ(c.written != 3, log.contains("Failed to parse Login: ", LM_ERROR)) << log.text();
    EXPECT_FALSE(log.contains("AKIDEXAMPLE") || log.contains("c2VjcmV0")) << log.text();
  }
}

// What operator>> writes (the keys as secure strings, over what was there), operator<<
// reads back.
TEST(Login, JsonFormRoundTrips) {
  Login login;
  ASSERT_TRUE(login << account());
  js::Object out{{"host", js::Value("replaced")}};
  login >> out;
  EXPECT_EQ(js::secure_str_type, out["security_key"].type());
  Login back;
  ASSERT_TRUE(back << out);
  EXPECT_EQ(keys(login) + " " + login.locale + std::to_string(login.ssl),
            keys(back) + " " + back.locale + std::to_string(back.ssl));
}

// Objects are appended, other values skipped; the first bad object throws, keeping the
// records before it.
TEST(Trans_Array_To_Throw, SkipsNonObjectsAndStopsAtABadOne) {
  std::vector<Login> out(1);
  const std::string list = std::string("[1, \"x\", ") + ACCOUNT + R"(, null, {"host":"h"}, )" +
                           ACCOUNT + "]";
  test::Log_Capture log;
  EXPECT_THROW(tc::trans_array_to_throw(out, js::JSON_Load(list).get_array()), std::domain_error);
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ("cloud.example", out[1].host);
}

// The account comes from the host's "tavrocloud.query" (scripted here), its key decrypted;
// a key that does not decrypt stays as it was and reaches no log.
TEST(Get_Login_Info, LoadsAndDecryptsOrFailsWithItsMessage) {
  test::Temp_Home home("quillon3-tc-common-");
  ASSERT_TRUE(Host_Manager::initialise_home(home.dir(), "tc-common-test", 2048));
  ASSERT_TRUE(Host_Manager::instance().reload());
  const auto encrypted = [](const std::string& plain) {
    const std::string& pub = Host_Manager::instance().rsa_pubkey();
    return "\"" + RSA_Encoder(plain.data(), plain.size(), pub.data(), pub.size(), true,
                              RSA_CODEC_OAEP_SHA256).str() + "\"";
  };
  const std::string NOT_CIPHER = "bm90IGEgY2lwaGVydGV4dA==";
  const js::Value good(account("security_key", encrypted("the secret")));
  const struct {
    js::Value answer;  // null: the host call fails
    std::string want;  // the verdict, the key afterwards and what the log holds
  } cases[] = {
      {good, "1 the secret "},
      {js::Value(), "0  JSON-RPC call tavrocloud.query (id -1) failed: -32602 \n"},
      {js::Array{good}, "0  result is not object!\n"},
      {account("locale"),
       "0  Failed to parse Login: JSON member 'locale' not found\nFailed to load login info.\n"},
      // The stored (encrypted) text stays (the caller must not log in with it), and is not logged.
      {account("security_key", "\"" + NOT_CIPHER + "\""), "0 " + NOT_CIPHER + " "},
  };
  for (const auto& c : cases) {
    js::Value seen;
    const auto query = [&](const js::Value& params, js::Value& result, JSON_RPC_Error& error) {
      seen = params;
      if (c.answer.is_null()) error.code = JSON_RPC_E_INVALID_PARAMS;
      result = c.answer;
      return !c.answer.is_null();
    };
    JSON_RPC_Method_Guard guard(tavrocloud_accounts::QUERY_METHOD, query);
    test::Log_Capture log;
    Login login;
    const bool ok = tc::get_login_info("uuid-1", login);
    const std::regex origin("Unexpected error in [^,]*, ");
    const std::string logged = std::regex_replace(log.text(), origin, "");
    EXPECT_EQ(c.want, std::to_string(ok) + " " + login.security_key.c_str() + " " + logged);
    EXPECT_EQ(js::Value(js::Object{{"uuid", js::Value("uuid-1")}}), seen);
  }
}
