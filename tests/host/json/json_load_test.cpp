#include "json/json_load.h"

#include "json/json_dump.h"
#include "json/value_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace js = json_spirit;

namespace {

// Texts that load, with the value's type and the compact text it dumps back to.
TEST(JSON_Load, LoadsAndDumpsBack) {
  struct Case {
    std::string text;
    js::Value_type type;
    std::string dumped;
  } cases[] = {
      {"{\"b\":1, \"a\":[true,false,null]}", js::obj_type, "{\"a\":[true,false,null],\"b\":1}"},
      {" [ ] ", js::array_type, "[]"},
      {"9223372036854775807", js::int_type, "9223372036854775807"},
      {"9223372036854775808", js::int_type, "9223372036854775808"},
      {"18446744073709551615", js::int_type, "18446744073709551615"},
      {"-9223372036854775808", js::int_type, "-9223372036854775808"},
      {"-9223372036854775809", js::real_type, "-9223372036854775808.0"},
      {"18446744073709551616", js::real_type, "18446744073709551616.0"},
      {"-0", js::int_type, "0"},
      {"0.1", js::real_type, "0.1"},
      {"1e3", js::real_type, "1000.0"},
      {"-2.5E-3", js::real_type, "-0.0025"},
      {"\"\\u00e9\"", js::str_type, "\"\xc3\xa9\""},
      {"\"\\ud83d\\ude00\"", js::str_type, "\"\xf0\x9f\x98\x80\""},
      {"\"a\\\"b\\\\c\\n\\/\"", js::str_type, "\"a\\\"b\\\\c\\n/\""},
      {"{\"k\":1,\"k\":2}", js::obj_type, "{\"k\":2}"},  // the last duplicate wins
      {"{\"x\":{\"y\":[1,{\"z\":[]}]}}", js::obj_type, "{\"x\":{\"y\":[1,{\"z\":[]}]}}"},
  };
  for (const Case& c : cases) {
    js::Value v;
    std::string error;
    ASSERT_TRUE(js::JSON_Load(c.text, v, &error)) << c.text << ": " << error;
    EXPECT_EQ(c.type, v.type()) << c.text;
    const std::string dumped = js::JSON_Dump(v);
    EXPECT_EQ(c.dumped, dumped) << c.text;
    EXPECT_EQ(v, js::JSON_Load(dumped)) << c.text;  // and back again, unchanged
  }
  EXPECT_TRUE(js::JSON_Load("9223372036854775808").is_uint64());
  EXPECT_FALSE(js::JSON_Load("9223372036854775807").is_uint64());
  EXPECT_EQ(std::string("\0a", 2), js::JSON_Load("\"\\u0000a\"").get_str());
}

TEST(JSON_Load, RefusesBadTextAndLeavesTheTarget) {
  const std::string too_deep = std::string(1000, '[') + std::string(1000, ']');
  const std::string cases[] = {
      "",          "   ",        "{",         "[1,]",    "{\"a\" 1}", "1 2",
      "tru",       "\"\\x\"",    "\"\xff\"",  "{1:2}",   "[1e999]",   "'a'",
      "/*c*/ 1",   "[1] x",      too_deep,
  };
  for (const std::string& text : cases) {
    js::Value v("untouched");
    std::string error;
    EXPECT_FALSE(js::JSON_Load(text, v, &error)) << text.substr(0, 20);
    EXPECT_FALSE(error.empty()) << text.substr(0, 20);
    EXPECT_EQ(js::Value("untouched"), v);
    EXPECT_TRUE(js::JSON_Load(text).is_null());
  }
  EXPECT_TRUE(js::JSON_Load(static_cast<const char*>(nullptr)).is_null());
}

TEST(JSON_Load, AcceptsTheDeepestAllowedNesting) {
  const size_t max = js::Value_Builder::max_depth;
  const std::string deep = std::string(max, '[') + std::string(max, ']');
  js::Value v;
  EXPECT_TRUE(js::JSON_Load(deep, v));
  EXPECT_EQ(deep, js::JSON_Dump(v));
  const std::string deeper = "[" + deep + "]";
  EXPECT_FALSE(js::JSON_Load(deeper, v));
  std::string error;
  EXPECT_FALSE(js::JSON_Load("{\"a\":" + deeper + "}", v, &error));
  EXPECT_EQ("document nested too deeply", error);
}

}  // namespace
