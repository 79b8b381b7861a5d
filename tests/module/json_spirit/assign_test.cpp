#include "json_spirit/assign.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

enum Code { CODE_SUCCESS = 0, CODE_FAILED = 1 };

TEST(Insert, ChainAddsAndReplaces) {
  js::Object o{{"code", js::Value("old")}};
  const std::string host = "cloud.local";
  std::string locale = "zone-1";
  unsigned long size = 18446744073709551615ul;
  js::insert(o)("host", host)("locale", locale)("port", static_cast<unsigned short>(65535))(
      "ssl", true)("code", CODE_FAILED)("size", size)("set_size", 5ul)(
      "secret", secure_string("k"))("obj", js::Object{{"a", js::Value(1)}})(
      "arr", js::Array{js::Value("x")})("code", CODE_SUCCESS);
  EXPECT_EQ(10u, o.size());
  EXPECT_EQ(js::Value("cloud.local"), o.at("host"));
  EXPECT_EQ(js::Value("zone-1"), o.at("locale"));
  EXPECT_EQ(65535, o.at("port").get_int64());
  EXPECT_EQ(js::Value(true), o.at("ssl"));
  EXPECT_EQ(js::Value(0), o.at("code"));  // the later value of a repeated key wins
  EXPECT_EQ(size, o.at("size").get_uint64());
  EXPECT_EQ(5u, o.at("set_size").get_uint64());
  EXPECT_EQ(js::secure_str_type, o.at("secret").type());
  EXPECT_EQ(js::obj_type, o.at("obj").type());
  EXPECT_EQ(js::Value(js::Array{js::Value("x")}), o.at("arr"));
}

TEST(Insert, NamedInserterSteps) {
  js::Object o;
  js::Object_Inserter ins = js::insert(o);
  ins("a", js::Value(1))("b", js::Value("two"));
  ins("a", js::Value(3));
  EXPECT_EQ((js::Object{{"a", js::Value(3)}, {"b", js::Value("two")}}), o);
}

}  // namespace
