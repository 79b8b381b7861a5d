#include "tavrocloud/common/tavrocloud_login.h"

#include <gtest/gtest.h>

#include <string>

#include "json/json_load.h"
#include "support/log_capture.h"

namespace js = json_spirit;
using tavrocloud::Login;

namespace {

const char GOOD[] = R"({"host":"cloud.example","port":8773,"ssl":true,"locale":"region-1",)"
                    R"("access_key":"AKIDEXAMPLE","security_key":"c2VjcmV0"})";

js::Object doc(const std::string& text) { return js::JSON_Load(text).get_obj(); }

// The good account with one member replaced (or removed when `value` is empty).
js::Object with(const char* key, const char* value) {
  js::Object obj = doc(GOOD);
  if (*value == '\0') {
    obj.erase(key);
  } else {
    obj[key] = js::JSON_Load(value);
  }
  return obj;
}

Login stale() {
  return Login("old-host", 1, false, "old-locale", secure_string("OLDAK"), secure_string("OLDSK"));
}

}  // namespace

TEST(Login, ReadsEveryMember) {
  Login login;
  ASSERT_TRUE(login << doc(GOOD));
  EXPECT_EQ("cloud.example", login.host);
  EXPECT_EQ(8773, login.port);
  EXPECT_TRUE(login.ssl);
  EXPECT_EQ("region-1", login.locale);
  EXPECT_EQ(secure_string("AKIDEXAMPLE"), login.access_key);
  EXPECT_EQ(secure_string("c2VjcmV0"), login.security_key);
}

// A bad member fails the whole account; the members before it were written, the keys
// are only replaced once everything was read, and nothing of the keys reaches the log.
TEST(Login, StrictParseKeepsKeysAndNamesNoSecret) {
  struct Case {
    const char* key;
    const char* value;  // "" removes the member
    bool host_written;
    bool port_written;
  } cases[] = {
      {"host", "", false, false},         {"host", "5", false, false},
      {"port", "", true, false},          {"port", "\"8773\"", true, false},
      {"port", "0", true, false},         {"port", "65536", true, false},
      {"port", "-1", true, false},        {"port", "4294975069", true, false},
      {"ssl", "\"true\"", true, true},    {"locale", "", true, true},
      {"locale", "null", true, true},     {"access_key", "", true, true},
      {"access_key", "42", true, true},   {"security_key", "", true, true},
      {"security_key", "[]", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    test::Log_Capture log;
    Login login = stale();
    EXPECT_FALSE(login << with(c.key, c.value));
    EXPECT_TRUE(log.contains("Failed to parse Login: ", LM_ERROR)) << log.text();
    EXPECT_EQ(c.host_written ? "cloud.example" : "old-host", login.host);
    EXPECT_EQ(c.port_written ? 8773 : 1, login.port);
    EXPECT_EQ(secure_string("OLDAK"), login.access_key);
    EXPECT_EQ(secure_string("OLDSK"), login.security_key);
    EXPECT_EQ(std::string::npos, log.text().find("AKIDEXAMPLE"));
    EXPECT_EQ(std::string::npos, log.text().find("c2VjcmV0"));
  }
}

TEST(Login, PortRangeEdges) {
  for (unsigned port : {1u, 443u, 65535u}) {
    Login login;
    js::Object obj = doc(GOOD);
    obj["port"] = js::Value(port);
    ASSERT_TRUE(login << obj);
    EXPECT_EQ(port, login.port);
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
  EXPECT_EQ("cloud.example", out["host"].get_str());
  EXPECT_EQ(8773, out["port"].get_int());
  EXPECT_EQ(js::secure_str_type, out["security_key"].type());
  EXPECT_EQ(secure_string("plain secret"), out["security_key"].get_secure_str());

  Login back;
  ASSERT_TRUE(back << out);
  EXPECT_EQ(login.host, back.host);
  EXPECT_EQ(login.port, back.port);
  EXPECT_EQ(login.ssl, back.ssl);
  EXPECT_EQ(login.locale, back.locale);
  EXPECT_EQ(login.access_key, back.access_key);
  EXPECT_EQ(login.security_key, back.security_key);
}
