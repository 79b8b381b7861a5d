#include "json/json_reader.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace js = json_spirit;

namespace {

const std::string doc =
    "[{\"deviceName\":\"/dev/vda\",\"isRoot\":true,\"size\":18446744073709551615},"
    " {\"name\":\"\\ud83d\\ude00 \\u00e9\",\"n\":-1.25e2,\"x\":null}, []]";

TEST(JSON_Reader, ChunkedTextGivesTheSameValueAsOneLoad) {
  const js::Value expected = js::JSON_Load(doc);
  ASSERT_EQ(js::array_type, expected.type());
  for (size_t chunk = 1; chunk <= doc.size(); ++chunk) {
    js::Value v;
    JSON_Reader r(v);
    ASSERT_EQ(0, r.open());
    for (size_t at = 0; at < doc.size(); at += chunk) {
      const size_t n = std::min(chunk, doc.size() - at);
      ASSERT_EQ(0, r.read(doc.data() + at, n, false)) << chunk << ": " << r.error();
      EXPECT_TRUE(v.is_null());  // nothing is published before the end
    }
    ASSERT_EQ(0, r.read(nullptr, 0, true)) << chunk;
    EXPECT_TRUE(r.complete());
    EXPECT_EQ(expected, v) << chunk;
  }
}

// A reader needs open(); a failed text (also text after the end) stays failed and leaves
// the bound value until the reader is opened again.
TEST(JSON_Reader, FailuresLeaveTheBoundValueUntilReopened) {
  const std::pair<const char*, const char*> cases[] = {
      {"[1,", "]"}, {"{\"a\":", ""}, {"[1] [2", "]"}, {"", ""}, {"{\"a\":tru", "e"}, {"[1]", " 1"}};
  js::Value v("untouched");
  JSON_Reader r(v);
  EXPECT_EQ(-1, r.read("1", 1, true));
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.first) + "|" + c.second);
    ASSERT_EQ(0, r.open());
    EXPECT_FALSE(r.complete());
    int rc = r.read(c.first, std::char_traits<char>::length(c.first), false);
    if (rc == 0) rc = r.read(c.second, std::char_traits<char>::length(c.second), true);
    EXPECT_EQ(-1, rc);
    EXPECT_FALSE(r.error().empty());
    EXPECT_EQ(-1, r.read("1", 1, true));
    EXPECT_EQ(js::Value("untouched"), v);
  }
  ASSERT_EQ(0, r.open());
  ASSERT_EQ(0, r.read("[true]", 6, true));
  EXPECT_EQ(0, r.read("", 0, true));  // an empty final chunk after the end
  EXPECT_EQ(-1, r.read(" 1", 2, true));
  EXPECT_EQ(js::JSON_Load("[true]"), v);
}

}  // namespace
