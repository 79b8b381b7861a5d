#include "yolt/loose_version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int sign(int v) { return (v > 0) - (v < 0); }

TEST(Loose_Version, CompareTable) {
  const struct {
    const char* a;
    const char* b;
    int expected;
  } cases[] = {
      {"9.8", "9.10", -1},    // numeric, not textual
      {"9.8", "9.8.0", 0},    // a missing part counts as 0
      {"9.8.1", "9.8", 1},
      {"V9.8", "9.8", 0},     // letters only separate parts
      {"v9.8rc2", "9.8.2", 0},
      {"", "0", 0},
      {"", "0.1", -1},
      {"99999999999999", "2147483647", 0},  // too large: the largest int
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(Loose_Version(c.a).compare(Loose_Version(c.b))), c.expected)
        << c.a << " vs " << c.b;
    EXPECT_EQ(sign(Loose_Version(c.b).compare(Loose_Version(c.a))), -c.expected)
        << c.b << " vs " << c.a;
  }
}

TEST(Loose_Version, AtLeastGate) {
  const Loose_Version gate("9.8");
  for (const char* yes : {"9.8", "9.8.1", "10.0", "9.10"}) {
    EXPECT_TRUE(Loose_Version(std::string(yes)) >= gate) << yes;
  }
  for (const char* no : {"9.7.9", "9", "8.99", ""}) {
    EXPECT_FALSE(Loose_Version(std::string(no)) >= gate) << no;
  }
  EXPECT_TRUE(Loose_Version(static_cast<const char*>(nullptr)).values().empty());
}

}  // namespace
