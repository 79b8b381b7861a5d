#include "tavrocloud/common/tavrocloud_login.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "json/json_load.h"
#include "support/log_capture.h"

namespace js = json_spirit;
using tavrocloud::Login;

namespace {

const char GOOD[] = R"({"host":"cloud.example","port":8773,"ssl":true,"locale":"region-1",)"
                    R"("access_key":"AKIDEXAMPLE","security_key":"c2VjcmV0"})";

js::Object doc(const std::string& text) { return js::JSON_Load(text).get_obj(); }

}  // namespace

// A bad member fails the whole account; the members before it were written, the keys
// are only replaced once everything was read, and nothing of the keys reaches the log.
TEST(Login, StrictParseKeepsKeysAndNamesNoSecret) {
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
    js::Object obj = doc(GOOD);
    if (*c.value == '\0') obj.erase(c.key);
    if (*c.value != '\0') obj[c.key] = js::JSON_Load(c.value);
    test::Log_Capture log;
    Login login("old-host", 2, false, "old-locale", secure_string("OLDAK"), secure_string("OLDSK"));
    EXPECT_EQ(c.written == 3, login << obj);
    EXPECT_EQ(c.written >= 1 ? "cloud.example" : "old-host", login.host);
    EXPECT_EQ(c.written == 3 ? obj["port"].get_int() : c.written == 2 ? 8773 : 2, login.port);
    EXPECT_EQ(secure_string(c.written == 3 ? "AKIDEXAMPLE" : "OLDAK"), login.access_key);
    EXPECT_EQ(secure_string(c.written == 3 ? "c2VjcmV0" : "OLDSK"), login.security_key);
    EXPECT_EQ(c.written != 3, log.contains("Failed to parse Login: ", LM_ERROR)) << log.text();
    EXPECT_EQ(std::string::npos, log.text().find("AKIDEXAMPLE"));
    EXPECT_EQ(std::string::npos, log.text().find("c2VjcmV0"));
  }
}

// What operator>> writes, operator<< reads back (the keys as secure strings).
TEST(Login, JsonFormRoundTrips) {
  Login login;
  ASSERT_TRUE(login << doc(GOOD));
  login.security_key = "plain secret";
  js::Object out{{"other", js::Value(1)}, {"host", js::Value("replaced")}};
  login >> out;
  EXPECT_EQ(7u, out.size());
  EXPECT_EQ(js::secure_str_type, out["security_key"].type());
  EXPECT_EQ("cloud.example", out["host"].get_str());
  Login back;
  ASSERT_TRUE(back << out);
  EXPECT_EQ(std::make_tuple(login.host, login.port, login.ssl, login.locale, login.access_key, login.security_key),
            std::make_tuple(back.host, back.port, back.ssl, back.locale, back.access_key, back.security_key));
}
