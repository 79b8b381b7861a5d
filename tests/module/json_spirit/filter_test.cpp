#include "json_spirit/filter.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

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
  for (const std::string& s : arr | js::get_str) seen += s;
  EXPECT_EQ("12st", seen);
  EXPECT_TRUE((js::Array() | js::get_obj).empty());
}

}  // namespace
