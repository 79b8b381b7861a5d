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

TEST(JSON_Pointer, ResolvesPaths) {
  const js::Value doc = js::JSON_Load(rfc_doc);
  ASSERT_EQ(js::obj_type, doc.type());
  const std::pair<const char*, js::Value> cases[] = {
      {"/foo/0", js::Value("bar")}, {"/foo/1", js::Value("baz")}, {"/", js::Value(0)}, {"/a~1b", js::Value(1)},
      {"/c%d", js::Value(2)}, {"/e^f", js::Value(3)}, {"/g|h", js::Value(4)}, {"/i\\j", js::Value(5)},
      {"/k\"l", js::Value(6)}, {"/ ", js::Value(7)}, {"/m~0n", js::Value(8)},
      {"/n/01", js::Value("key")},  // a member name, not an index
      {"/n/x", js::Value()},
      // Paths that name nothing.
      {"/nope", js::Value("-")}, {"/foo/2", js::Value("-")}, {"/foo/-", js::Value("-")}, {"/foo/01", js::Value("-")},
      {"/foo/+1", js::Value("-")}, {"/foo/0/x", js::Value("-")}, {"/a/b", js::Value("-")},
      {"/foo/99999999999999999999", js::Value("-")}};
  js::JSON_Pointer p;
  for (const auto& [path, expected] : cases) {
    ASSERT_TRUE(p.path(path, false)) << path;
    const js::Value* v = p.get(doc);
    EXPECT_EQ(expected, v ? *v : js::Value("-")) << path;
  }
  ASSERT_TRUE(p.path("", false));
  EXPECT_EQ(&doc, p.get(doc));
}

TEST(JSON_Pointer, RefusesBadSyntaxAndLogsOnlyWhenAsked) {
  const js::Value doc = js::JSON_Load(rfc_doc);
  test::Log_Capture log;
  js::JSON_Pointer p;
  for (const char* path : {"foo", "/~2", "/a~", "/m~n"}) {
    EXPECT_FALSE(p.path(path, false)) << path;
    EXPECT_EQ(nullptr, p.get(doc)) << path;
  }
  EXPECT_FALSE(p.path(nullptr, false));
  EXPECT_EQ(0u, log.entries().size());
  EXPECT_FALSE(p.path("foo", true));
  EXPECT_TRUE(log.contains("Invalid JSON Pointer path 'foo'", LM_ERROR));
  js::JSON_Pointer logging(true);
  EXPECT_FALSE(logging.path("/~x", false));
  EXPECT_TRUE(log.contains("'/~x'", LM_ERROR));
}

TEST(JSON_Pointer, TypedLookupsLeaveTheTargetOnMismatch) {
  js::Value doc = js::JSON_Load(rfc_doc);
  js::JSON_Pointer p;
  ASSERT_TRUE(p.path("/foo", false));
  const js::Object* sentinel = &doc.get_obj();
  const js::Object* obj = sentinel;
  EXPECT_FALSE(p.get(static_cast<const js::Value&>(doc), obj));
  EXPECT_EQ(sentinel, obj);
  js::Array* marr = nullptr;
  ASSERT_TRUE(p.get(doc, marr));
  EXPECT_EQ(&doc.get_obj().at("foo").get_array(), marr);
}

TEST(JSON_Pointer, AppendTokenEscapesForARoundTrip) {
  std::string path;
  js::JSON_Pointer::append_token(path, "m~n");
  js::JSON_Pointer::append_token(path, "a/b");
  EXPECT_EQ("/m~0n/a~1b", path);
  js::JSON_Pointer p;
  ASSERT_TRUE(p.path(path, false));
  EXPECT_EQ((std::vector<std::string>{"m~n", "a/b"}), p.tokens());
  EXPECT_EQ(path, p.str());
}

}  // namespace
