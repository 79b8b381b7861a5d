#include "json_spirit/json_pointer.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace js = json_spirit;

namespace {

const char* const source =
    R"({"entries":[{"id":"i-1"},{"id":"i-2"}],"opts":{"list":[{"id":"a"},7,{"id":"b"}]}})";

std::string thrown(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::domain_error& e) {
    return e.what();
  }
  return "(no throw)";
}

// A path that names no array (missing, out of range, not a JSON Pointer, another type)
// leaves the target alone, or under FG_THROW names the path in its error.
TEST(Pextract, ReadsAnArrayOrLeavesTheTarget) {
  js::Value doc = js::JSON_Load(R"({"other":[],"obj":{}})");
  for (const char* path : {"/other", "/missing", "/other/0", "other", "/obj"}) {
    const js::Array sentinel;
    const js::Array* target = &sentinel;
    js::pextract(doc)(path, target);
    EXPECT_EQ(target == &sentinel, std::string(path) != "/other") << path;
    const std::string error = thrown([&] { js::pextract(doc).get(path, target, js::FG_THROW); });
    const std::string missing = std::string("JSON Pointer path '") + path + "' not exist in JSON!";
    EXPECT_EQ(error, target == &sentinel ? missing : "(no throw)");
  }
}

// After a chroot paths are relative to the sub-document; a chroot to nothing breaks reads
// until the next one succeeds.
TEST(Pextract, ChrootMakesPathsRelativeAndBreaksReadsWhenItFails) {
  js::Value doc = js::JSON_Load(source);
  auto ext = js::pextract(doc);
  const js::Array* list = nullptr;
  const std::string* id = nullptr;
  ASSERT_TRUE(ext.chroot("/opts", js::FG_NOTHROW));
  EXPECT_EQ("/opts/list", ext.abs_path("/list"));
  ext("/list", list);
  ASSERT_TRUE(list != nullptr && list->size() == 3u);
  list = nullptr;
  EXPECT_FALSE(ext.chroot("/missing", js::FG_NOTHROW));
  EXPECT_TRUE(ext.is_broken("/list", js::FG_NOTHROW));
  ext("/list", list);
  EXPECT_EQ(nullptr, list);
  const std::string error = thrown([&] { ext.get("/list", list, js::FG_THROW); });
  EXPECT_EQ("JSON Pointer path '/opts/list' not exist in JSON!", error);
  ASSERT_TRUE(ext.chroot("/list/2", js::FG_NOTHROW));  // relative to /opts
  EXPECT_FALSE(ext.is_broken("/id", js::FG_THROW));
  ext("/id", id);
  ASSERT_TRUE(id != nullptr && *id == "b");
}

struct Entry {
  std::string id;
  bool operator<<(const js::Object& o) { return js::object_get(o, "id", id); }
};

// Objects load in order (other types skipped) until one refuses its content; the
// elements before it stay.
TEST(Pextract, LoadsObjectsIntoAContainer) {
  const js::Value doc =
      js::JSON_Load(R"({"l":[{"id":"a"},7,{"id":"b"},{"x":1}],"ok":[{"id":"c"}]})");
  std::vector<Entry> out;
  EXPECT_TRUE(js::pextract(doc).load("/ok", out, js::FG_NOTHROW));
  EXPECT_FALSE(js::pextract(doc).load("/l", out, js::FG_NOTHROW));
  EXPECT_FALSE(js::pextract(doc).load("/none", out, js::FG_NOTHROW));
  std::string ids;
  for (const Entry& e : out) ids += e.id;
  EXPECT_EQ("cab", ids);
  EXPECT_THROW(js::pextract(doc).load("/l", out, js::FG_THROW), std::domain_error);
}

}  // namespace
