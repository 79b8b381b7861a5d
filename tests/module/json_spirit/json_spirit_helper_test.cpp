#include "json_spirit/json_spirit_helper.h"

#include <gtest/gtest.h>

namespace js = json_spirit;

namespace {

TEST(To_New_Array, ReplacesAnyValueWithAnEmptyArrayFilledInPlace) {
  js::Value v(js::Object{{"a", js::Value(1)}});
  js::Array& arr = js::to_new_array(v);
  EXPECT_EQ(js::Value(js::Array()), v);
  arr.push_back(js::Value("x"));
  EXPECT_EQ(js::Value(js::Array{js::Value("x")}), v);
  js::to_new_array(v);
  EXPECT_TRUE(v.get_array().empty());
}

}  // namespace
