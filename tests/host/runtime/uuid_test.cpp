#include "runtime/uuid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

TEST(Uuid, RandomUuidsRoundTripThroughText) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    unsigned char bin[16], back[16];
    ASSERT_EQ(uuid_binary(bin), 0);
    EXPECT_TRUE(bin[6] >> 4 == 4 && (bin[8] & 0xC0) == 0x80);  // version 4, RFC 4122 variant
    const std::string text = uuid_binary_to_string(bin);
    ASSERT_EQ(text.size(), 36u);
    ASSERT_TRUE(uuid_string_to_binary(text.c_str(), back));
    EXPECT_EQ(std::memcmp(bin, back, 16), 0);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 100u);
  unsigned char bin[16];  // upper case is read, lower case written
  ASSERT_TRUE(uuid_string_to_binary("0123ABCD-ef01-4567-89aB-cdef01234567", bin));
  EXPECT_EQ(uuid_binary_to_string(bin), "0123abcd-ef01-4567-89ab-cdef01234567");
}

TEST(Uuid, BadTextLeavesTheOutputAlone) {
  // Short, long, no hyphens, a wrong separator, not hex, a misplaced hyphen, braces.
  const char* bad[] = {
      nullptr, "", "0123abcd-ef01-4567-89ab-cdef0123456", "0123abcd-ef01-4567-89ab-cdef012345678",
      "0123abcdef01456789abcdef0123456701234", "0123abcd_ef01-4567-89ab-cdef01234567",
      "0123abcd-ef01-4567-89ab-cdef0123456g", "0123abc-def01-4567-89ab-cdef01234567",
      "{123abcd-ef01-4567-89ab-cdef0123456}"};
  for (const char* text : bad) {
    unsigned char out[16];
    std::memset(out, 0xA5, sizeof out);
    EXPECT_FALSE(uuid_string_to_binary(text, out)) << (text ? text : "(null)");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 16), std::string(16, '\xA5'));
  }
}

}  // namespace
