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

TEST(JSON_Reader, FinalChunkThenEmptyFinalChunk) {
  js::Value v;
  JSON_Reader r(v);
  ASSERT_EQ(0, r.open());
  EXPECT_EQ(0, r.read(doc.data(), doc.size(), true));
  EXPECT_EQ(0, r.read("", 0, true));
  EXPECT_EQ(js::JSON_Load(doc), v);
  EXPECT_EQ(-1, r.read(" 1", 2, true));  // text after the end
}

TEST(JSON_Reader, FailuresLeaveTheBoundValue) {
  struct Case {
    const char* first;
    const char* second;
  } cases[] = {
      {"[1,", "]"},        // bad in the second chunk
      {"{\"a\":", ""},     // cut short
      {"[1] [2", "]"},     // two values
      {"", ""},            // nothing at all
      {"{\"a\":tru", "e"}, // fine in pieces, but not closed
  };
  for (const Case& c : cases) {
    js::Value v("untouched");
    JSON_Reader r(v);
    ASSERT_EQ(0, r.open());
    int rc = r.read(c.first, std::char_traits<char>::length(c.first), false);
    if (rc == 0) rc = r.read(c.second, std::char_traits<char>::length(c.second), true);
    EXPECT_EQ(-1, rc) << c.first << c.second;
    EXPECT_FALSE(r.error().empty()) << c.first << c.second;
    EXPECT_EQ(js::Value("untouched"), v);
    EXPECT_EQ(-1, r.read("1", 1, true));  // a failed text stays failed until reopened
  }
}

TEST(JSON_Reader, NeedsOpenAndCanBeReopened) {
  JSON_Reader r;
  EXPECT_EQ(-1, r.read("1", 1, true));
  ASSERT_EQ(0, r.open());
  ASSERT_EQ(0, r.read("{\"a\":1}", 7, true));
  ASSERT_EQ(0, r.open());
  EXPECT_FALSE(r.complete());
  ASSERT_EQ(0, r.read("[true]", 6, true));
  EXPECT_EQ(js::JSON_Load("[true]"), r.value());
}

}  // namespace
