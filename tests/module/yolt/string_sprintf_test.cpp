#include "yolt/string_sprintf.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <clocale>
#include <string>
#include <type_traits>

namespace {

// A wide character the "C" locale cannot convert: "%ls" then fails with EILSEQ.
const wchar_t BAD_WIDE[] = {static_cast<wchar_t>(0x100), 0};

int vsprintf_into(std::string& s, bool append, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int rc = string_vsprintf(s, fmt, ap, append);
  va_end(ap);
  return rc;
}

int vset_into(snprintf_t<64, char>& t, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int rc = t.vset(fmt, ap);
  va_end(ap);
  return rc;
}

class String_Sprintf_Test : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(String_Sprintf_Test, FormatsAcrossTheRoomBoundaries) {
  for (size_t len : {0u, 1u, 126u, 127u, 128u, 129u, 130u, 255u, 256u, 257u, 5000u}) {
    const std::string text(len, 'x');
    const std::string s = string_sprintf("%s", text.c_str());
    EXPECT_EQ(s, text) << len;
    EXPECT_EQ(s.size(), len) << len;
  }
}

TEST_F(String_Sprintf_Test, AppendKeepsEarlierContentsAndReturnsTotalSize) {
  for (size_t prefix : {0u, 5u, 127u, 128u, 300u}) {
    for (size_t len : {0u, 127u, 128u, 129u, 1000u}) {
      std::string s(prefix, 'p');
      const std::string text(len, 'x');
      const int rc = string_sprintf_append(s, "_%s", text.c_str());
      EXPECT_EQ(s, std::string(prefix, 'p') + "_" + text);
      EXPECT_EQ(rc, static_cast<int>(prefix + 1 + len));
    }
  }
}

TEST_F(String_Sprintf_Test, ReplaceModeDropsEarlierContents) {
  for (size_t before : {0u, 10u, 128u, 300u}) {
    std::string s(before, 'o');
    EXPECT_EQ(vsprintf_into(s, false, "%d-%s", 42, "abc"), 6);
    EXPECT_EQ(s, "42-abc");
    s.assign(before, 'o');
    EXPECT_LT(vsprintf_into(s, false, "%ls", BAD_WIDE), 0);
    EXPECT_EQ(s, "");
  }
}

TEST_F(String_Sprintf_Test, AppendErrorKeepsContents) {
  std::string s = "instance";
  const int rc = string_sprintf_append(s, "_%ls", BAD_WIDE);
  EXPECT_LT(rc, 0);
  EXPECT_EQ(s, "instance");
}

TEST_F(String_Sprintf_Test, ErrorGivesEmptyString) {
  EXPECT_EQ(string_sprintf("abc%ls", BAD_WIDE), "");
}

TEST_F(String_Sprintf_Test, SnprintfTKeepsLongResultsWhole) {
  static_assert(!std::is_copy_constructible<snprintf_t<64, char>>::value, "owner of heap");
  static_assert(!std::is_copy_assignable<snprintf_t<64, char>>::value, "owner of heap");
  for (size_t len : {0u, 40u, 63u, 64u, 65u, 66u, 200u}) {
    const std::string id(len, 'v');
    snprintf_t<64, char> path("/dev/disk/by-id/virtio-%s", id.c_str());
    EXPECT_EQ(std::string(path.c_str()), "/dev/disk/by-id/virtio-" + id) << len;
    EXPECT_EQ(path.length(), static_cast<int>(23 + len)) << len;
  }
  snprintf_t<8, char> tiny("%d", 1234567);  // exactly the inline size: needs the heap
  EXPECT_STREQ(tiny.c_str(), "1234567");
  snprintf_t<8, char> eight("%s", "12345678");
  EXPECT_STREQ(eight.c_str(), "12345678");
}

TEST_F(String_Sprintf_Test, SnprintfTReformatsAndEmptiesOnError) {
  snprintf_t<64, char> msg("Invalid subtype %s", std::string(100, 's').c_str());
  ASSERT_EQ(msg.length(), 116);
  EXPECT_EQ(vset_into(msg, "short %s", "x"), 7);
  EXPECT_STREQ(msg.c_str(), "short x");

  snprintf_t<64, char> bad("Invalid subtype %ls", BAD_WIDE);
  EXPECT_LT(bad.length(), 0);
  EXPECT_STREQ(bad.c_str(), "");
}

}  // namespace
