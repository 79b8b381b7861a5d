// Loading JSON text and dumping values back to text.
#include "json/json_load.h"

#include "json/json_dump.h"
#include "json/value_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace js = json_spirit;

namespace {

// `depth` objects, each the only member of the one around it.
std::string nested_objects(size_t depth) {
  std::string text = "1";
  for (size_t i = 0; i < depth; ++i) text = "{\"a\":" + text + "}";
  return text;
}

// Texts that load, with the compact text they dump back to ("": the text itself; reals
// keep a fraction).
TEST(JSON_Load, LoadsAndDumpsBack) {
  const size_t max = js::Value_Builder::max_depth;
  const std::string deepest = std::string(max, '[') + std::string(max, ']');
  const std::pair<std::string, std::string> cases[] = {
      {R"({"b":1, "a":[true,false,null]})", R"({"a":[true,false,null],"b":1})"}, {" [ ] ", "[]"},
      {"9223372036854775807", ""}, {"9223372036854775808", ""},
      {"18446744073709551615", ""}, {"-9223372036854775808", ""},
      {"-9223372036854775809", "-9223372036854775808.0"},
      {"18446744073709551616", "18446744073709551616.0"},
      {"-0", "0"}, {"0.1", ""}, {"1e3", "1000.0"}, {"-2.5E-3", "-0.0025"},
      {R"("\u00e9")", "\"\xc3\xa9\""}, {R"("\ud83d\ude00")", "\"\xf0\x9f\x98\x80\""},
      {R"("a\"b\\c\n\/\u0000")", R"("a\"b\\c\n/\u0000")"},
      {R"({"k":1,"k":2})", R"({"k":2})"},  // the last duplicate wins
      {R"({"x":{"y":[1,{"z":[]}]}})", ""}, {deepest, ""}, {nested_objects(max), ""}};
  for (const auto& [text, expected] : cases) {
    js::Value v;
    std::string error;
    ASSERT_TRUE(js::JSON_Load(text, v, &error)) << text << ": " << error;
    const std::string dumped = js::JSON_Dump(v);
    EXPECT_EQ(expected.empty() ? text : expected, dumped);
    EXPECT_EQ(v, js::JSON_Load(dumped)) << text;  // and back again, unchanged
  }
  EXPECT_TRUE(js::JSON_Load("9223372036854775808").is_uint64());
  EXPECT_FALSE(js::JSON_Load("9223372036854775807").is_uint64());
}

TEST(JSON_Load, RefusesBadTextAndLeavesTheTarget) {
  const size_t max = js::Value_Builder::max_depth;
  const std::string too_deep = std::string(max + 1, '[') + std::string(max + 1, ']');
  const std::string cases[] = {"", "   ", "{", "[1,]", R"({"a" 1})", "1 2", "tru", R"("\x")",
                               "\"\xff\"", "{1:2}", "[1e999]", "'a'", "/*c*/ 1", "[1] x", too_deep,
                               "{\"a\":" + too_deep + "}", nested_objects(max + 1),
                               std::string(100000, '[')};
  for (const std::string& text : cases) {
    js::Value v("untouched");
    std::string error;
    EXPECT_FALSE(js::JSON_Load(text, v, &error)) << text.substr(0, 20);
    EXPECT_FALSE(error.empty()) << text.substr(0, 20);
    EXPECT_EQ(js::Value("untouched"), v);
    EXPECT_TRUE(js::JSON_Load(text).is_null());
  }
  js::Value v;
  std::string error;
  EXPECT_FALSE(js::JSON_Load("{\"a\":" + too_deep + "}", v, &error));
  EXPECT_EQ("document nested too deeply", error);
  EXPECT_TRUE(js::JSON_Load(static_cast<const char*>(nullptr)).is_null());
}

TEST(JSON_Dump, RealsReadBackExactlyAndStayReals) {
  for (double d : {0.1, 1.0 / 3, -0.0, 1e300, 5e-324, 123456789.0, 2.0}) {
    const std::string text = js::JSON_Dump(js::Value(d));
    const js::Value back = js::JSON_Load(text);
    ASSERT_EQ(js::real_type, back.type()) << text;
    EXPECT_EQ(d, back.get_real()) << text;
  }
}

TEST(JSON_Dump, UnwritableValuesGiveEmptyText) {
  const js::Value cases[] = {js::Value(std::numeric_limits<double>::quiet_NaN()),
                             js::Value(js::Array{js::Value(1), js::Value(HUGE_VAL)}),
                             js::Value(std::string("\xff\xfe"))};
  for (const js::Value& v : cases) EXPECT_EQ("", js::JSON_Dump(v));
}

}  // namespace
