#include "json/json_dump.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace js = json_spirit;

namespace {

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
