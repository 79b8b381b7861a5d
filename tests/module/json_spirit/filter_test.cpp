#include "json_spirit/filter.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace js = json_spirit;

namespace {

TEST(Filter, VisitsOnlyElementsOfTheType) {
  const js::Value doc = js::JSON_Load(R"([1, {}, "s", {"a":1}, 2.5, "t", [3], true])");
  const js::Array& arr = doc.get_array();

  std::vector<const js::Object*> objs;
  for (const js::Object& o : arr | js::get_obj) objs.push_back(&o);
  ASSERT_EQ(2u, objs.size());
  EXPECT_EQ(&arr[1].get_obj(), objs[0]);
  EXPECT_EQ(&arr[3].get_obj(), objs[1]);

  std::vector<std::string> strs;
  for (const std::string& s : arr | js::get_str) strs.push_back(s);
  EXPECT_EQ((std::vector<std::string>{"s", "t"}), strs);

  EXPECT_TRUE((js::Array() | js::get_obj).empty());
}

TEST(Filter, NonConstArrayYieldsWritableObjects) {
  js::Value doc = js::JSON_Load(R"([{"a":1}, 5, {"b":2}])");
  for (js::Object& o : doc.get_array() | js::get_obj) o["seen"] = js::Value(true);
  EXPECT_EQ(js::JSON_Load(R"([{"a":1,"seen":true}, 5, {"b":2,"seen":true}])"), doc);
}

}  // namespace
