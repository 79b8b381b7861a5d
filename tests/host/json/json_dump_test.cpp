#include "json/json_dump.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace js = json_spirit;

namespace {

TEST(JSON_Dump, CompactFormIsDeterministic) {
  js::Object a;
  a["z"] = js::Value(1);
  a["a"] = js::Value("s");
  a["m"] = js::Value(js::Array{js::Value(), js::Value(false), js::Value(0.5)});
  js::Object b;  // the same members, inserted in another order
  b["m"] = a["m"];
  b["a"] = a["a"];
  b["z"] = a["z"];
  EXPECT_EQ("{\"a\":\"s\",\"m\":[null,false,0.5],\"z\":1}", js::JSON_Dump(js::Value(a)));
  EXPECT_EQ(js::JSON_Dump(js::Value(a)), js::JSON_Dump(js::Value(b)));
}

TEST(JSON_Dump, SecretStringsAreWrittenAsStrings) {
  js::Object o{{"security_key", js::Value(secure_string("s3cr\"t"))}};
  const std::string text = js::JSON_Dump(js::Value(o));
  EXPECT_EQ("{\"security_key\":\"s3cr\\\"t\"}", text);
  EXPECT_EQ(js::Value("s3cr\"t"), js::JSON_Load(text).get_obj().at("security_key"));
}

TEST(JSON_Dump, RealsReadBackExactlyAndStayReals) {
  const double cases[] = {0.1, 1.0 / 3, -0.0, 1e300, 5e-324, 123456789.0, 2.0};
  for (double d : cases) {
    const std::string text = js::JSON_Dump(js::Value(d));
    const js::Value back = js::JSON_Load(text);
    ASSERT_EQ(js::real_type, back.type()) << text;
    EXPECT_EQ(d, back.get_real()) << text;
  }
}

TEST(JSON_Dump, UnwritableValuesGiveEmptyText) {
  const js::Value cases[] = {
      js::Value(std::numeric_limits<double>::quiet_NaN()),
      js::Value(js::Array{js::Value(1), js::Value(HUGE_VAL)}),
      js::Value(std::string("\xff\xfe")),
  };
  for (const js::Value& v : cases) EXPECT_EQ("", js::JSON_Dump(v));
}

TEST(JSON_Dump, PrettyFormReadsBackEqual) {
  const js::Value v = js::JSON_Load("{\"a\":[1,2,{\"b\":null}],\"c\":\"d\"}");
  const std::string pretty = js::JSON_Dump(v, true);
  EXPECT_NE(std::string::npos, pretty.find("\n    \"a\""));
  EXPECT_NE('\n', pretty.back());
  EXPECT_EQ(v, js::JSON_Load(pretty));
}

}  // namespace
