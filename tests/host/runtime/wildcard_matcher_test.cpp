#include "yolt/wildcard_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

bool matches(const std::string& pattern, const std::string& text) {
  Wildcard_Matcher m;
  m.add_pattern(pattern);
  return m.match(text);
}

TEST(Wildcard_Matcher, MatchTable) {
  const struct { const char* pattern; std::string text; bool expected; } cases[] = {
      {"web-*", "web-1", true}, {"web-*", "db-1", false}, {"web-*", "web-", true},
      {"*", "", true}, {"", "", true}, {"", "a", false}, {"?", "", false}, {"?", "a", true},
      {"a?c", "abc", true}, {"a?c", "ac", false}, {"*b*", "abc", true}, {"*.*.*", "a.b", false},
      {"a*b*c", "axxbyyc", true}, {"a*b*c", "axxbyy", false}, {"a**", "a", true},
      {"a*a*a*a*b", std::string(43, 'a'), false}, {"*ab", "aab", true}, {"*", "*", true},
      {"Web-*", "web-1", false},  // case-sensitive
      {"web", "web-1", false},    // whole text
      {"\\*", "\\x", true},       // no escapes: '\' is literal, '*' still a wildcard
      // "été" is three characters.
      {"??", "\xc3\xa9t\xc3\xa9", false}, {"???", "\xc3\xa9t\xc3\xa9", true},
      {"\xc3\xa9*", "\xc3\xa9t\xc3\xa9", true},
      {"?\xe6\x9c\xba", "\xe4\xb8\xbb\xe6\x9c\xba", true},  // CJK, 3 bytes each
      {"?", "\xf0\x9f\x98\x80", true},                       // one 4-byte character
      // An invalid byte is one character.
      {"?", "\xff", true}, {"\xff", "\xff", true}, {"\xff", "\xfe", false},
      {"?", "\xc3", true},                                    // a cut sequence: one byte
      {"??", "\xc0\xaf", true}, {"/", "\xc0\xaf", false}};     // overlong '/' stays two bytes
  for (const auto& c : cases) {
    EXPECT_EQ(matches(c.pattern, c.text), c.expected)
        << "pattern \"" << c.pattern << "\" text \"" << c.text << "\"";
  }
}

TEST(Wildcard_Matcher, AnyPatternOfTheSet) {
  Wildcard_Matcher m;
  EXPECT_FALSE(m.match("anything"));
  m.add_patterns(std::vector<std::string>{"web-*", "db-?"});
  EXPECT_TRUE(m.match("web-9") && m.match("db-1"));
  EXPECT_FALSE(m.match("db-10"));
}

}  // namespace
