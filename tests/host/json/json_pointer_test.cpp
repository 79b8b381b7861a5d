#include "json/json_pointer.h"

#include "json/json_load.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

const char* const rfc_doc = R"({
  "foo": ["bar", "baz"], "": 0, "a/b": 1, "c%d": 2, "e^f": 3, "g|h": 4,
  "i\\j": 5, "k\"l": 6, " ": 7, "m~n": 8, "n": {"01": "key", "x": null}
})";

// What each path names: "-" for nothing, "bad" for a path refused (not logged unless asked).
TEST(JSON_Pointer, ResolvesPaths) {
  const js::Value doc = js::JSON_Load(rfc_doc);
  ASSERT_EQ(js::obj_type, doc.type());
  const js::Value none("-"), bad("bad");
  using V = js::Value;
  const std::pair<const char*, js::Value> cases[] = {
      {"/foo/0", V("bar")}, {"/foo/1", V("baz")}, {"/", V(0)}, {"/a~1b", V(1)}, {"/c%d", V(2)},
      {"/e^f", V(3)}, {"/g|h", V(4)}, {"/i\\j", V(5)}, {"/k\"l", V(6)}, {"/ ", V(7)},
      {"/m~0n", V(8)}, {"/n/01", V("key")},  // a member name, not an index
      {"/n/x", V()}, {"", doc}, {"/nope", none}, {"/foo/2", none}, {"/foo/-", none},
      {"/foo/01", none}, {"/foo/+1", none}, {"/foo/0/x", none}, {"/a/b", none},
      {"/foo/99999999999999999999", none}, {"foo", bad}, {"/~2", bad}, {"/a~", bad},
      {"/m~n", bad}, {nullptr, bad}};
  test::Log_Capture log;
  js::JSON_Pointer p;
  for (const auto& [path, expected] : cases) {
    const bool ok = p.path(path, false);
    const js::Value* v = p.get(doc);
    EXPECT_EQ(expected, !ok ? bad : v ? *v : none) << (path ? path : "null");
    EXPECT_TRUE(ok || v == nullptr);
  }
  EXPECT_EQ(0u, log.entries().size());  // callers never ask for refusals to be logged
}

}  // namespace
