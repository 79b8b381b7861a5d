// Percent-encoding of request parameters: hostile texts must reach the cloud unchanged
// and can never add, split or reorder form fields.
#include "cloud/percent_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Everything but the unreserved characters is escaped and decodes back; malformed
// escapes are kept as they stand.
TEST(PercentEncoding, EncodesEverythingButUnreserved) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"abcXYZ019-._~", "abcXYZ019-._~"}, {"a b", "a%20b"}, {"a+b", "a%2Bb"},
      {"k=v&x=y", "k%3Dv%26x%3Dy"}, {"100%", "100%25"}, {"/path?q#f", "%2Fpath%3Fq%23f"},
      {"{\"k\": [1]}", "%7B%22k%22%3A%20%5B1%5D%7D"}, {"\xE4\xB8\xAD", "%E4%B8%AD"},
      {std::string("a\0b\n\r\t", 6), "a%00b%0A%0D%09"}, {"\xFF\x80", "%FF%80"}};
  for (const auto& c : cases) {
    EXPECT_EQ(cloud::percent_encode(c.first), c.second) << c.first;
    EXPECT_EQ(cloud::percent_decode(c.second), c.first) << c.second;
  }
  EXPECT_EQ(cloud::percent_encode("/a b/", true), "/a%20b/");
  for (const char* kept : {"%", "%4", "%zz", "a%2"}) EXPECT_EQ(cloud::percent_decode(kept), kept);
  EXPECT_EQ(cloud::percent_decode("%41%4a%4A"), "AJJ");
}

}  // namespace
