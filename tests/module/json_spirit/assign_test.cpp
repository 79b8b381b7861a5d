// The small helpers of the JSON values: insertion chains and type filters over arrays.
#include "json_spirit/assign.h"
#include "json_spirit/filter.h"

#include "json/json_load.h"

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
  EXPECT_EQ(js::secure_str_type, o.at("secret").type());
  o.erase("secret");
  EXPECT_EQ(js::JSON_Load(R"({"code":0,"port":65535,"size":18446744073709551615})"), js::Value(o));
}

// The filters visit only the elements of their type, in order; over a non-const array
// the objects are the array's own, writable.
TEST(Filter, VisitsOnlyElementsOfTheType) {
  js::Value doc = js::JSON_Load(R"([1, {}, "s", {"a":1}, 2.5, "t", [3], true])");
  int n = 0;
  for (js::Object& o : doc.get_array() | js::get_obj) o["n"] = js::Value(++n);
  EXPECT_EQ(js::JSON_Load(R"([1, {"n":1}, "s", {"a":1,"n":2}, 2.5, "t", [3], true])"), doc);
  const js::Array& arr = doc.get_array();
  std::string seen;
  for (const js::Object& o : arr | js::get_obj) seen += std::to_string(o.size());
  EXPECT_EQ("12", seen);
  EXPECT_TRUE((js::Array() | js::get_obj).empty());
}

}  // namespace
