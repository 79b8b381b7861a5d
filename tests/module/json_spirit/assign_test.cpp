#include "json_spirit/assign.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

enum Code { CODE_SUCCESS = 0, CODE_FAILED = 1 };

TEST(Insert, ChainAddsAndTheLaterValueOfAKeyWins) {
  js::Object o{{"code", js::Value("old")}};
  const unsigned long size = 18446744073709551615ul;
  js::insert(o)("port", static_cast<unsigned short>(65535))("code", CODE_FAILED)("size", size)(
      "secret", secure_string("k"))("code", CODE_SUCCESS);
  EXPECT_EQ(4u, o.size());
  EXPECT_EQ(65535, o.at("port").get_int64());
  EXPECT_EQ(js::Value(0), o.at("code"));
  EXPECT_EQ(size, o.at("size").get_uint64());
  EXPECT_EQ(js::secure_str_type, o.at("secret").type());
}

}  // namespace
