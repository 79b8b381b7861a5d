#include "json_spirit/json_params_helper.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

TEST(Params_To_Array, OneValuePerArgumentInOrder) {
  js::Value v;
  params_to_array(v, std::string("i-1"), std::string("web"), std::string("timeout"));
  EXPECT_EQ(js::Value(js::Array{js::Value("i-1"), js::Value("web"), js::Value("timeout")}), v);

  params_to_array(v, 5ul);  // the old array is discarded
  EXPECT_EQ(js::Value(js::Array{js::Value(5)}), v);
  EXPECT_EQ(js::int_type, v.get_array()[0].type());

  params_to_array(v);
  EXPECT_EQ(js::Value(js::Array()), v);
}

}  // namespace
