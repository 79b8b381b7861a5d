#include "yolt/loose_version.h"

#include <gtest/gtest.h>

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(Loose_Version, CompareTable) {
  const struct { const char* a; const char* b; int expected; } cases[] = {
      {"9.8", "9.10", -1},  // numeric, not textual
      {"9.8", "9.8.0", 0},  // a missing part counts as 0
      {"V9.8", "9.8", 0},  // letters only separate parts
      {"v9.8rc2", "9.8.2", 0}, {"", "0", 0}, {"", "0.1", -1},
      {"99999999999999", "2147483647", 0}};  // too large: the largest int
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(sign(Loose_Version(c.a).compare(Loose_Version(c.b))), c.expected);
    EXPECT_EQ(sign(Loose_Version(c.b).compare(Loose_Version(c.a))), -c.expected);
    EXPECT_EQ(Loose_Version(c.a) >= Loose_Version(c.b), c.expected >= 0);
  }
  EXPECT_TRUE(Loose_Version(static_cast<const char*>(nullptr)).values().empty());
}

}  // namespace
