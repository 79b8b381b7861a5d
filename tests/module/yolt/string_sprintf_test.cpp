#include "yolt/string_sprintf.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

// A wide character the "C" locale cannot convert: "%ls" then fails with EILSEQ.
const wchar_t BAD_WIDE[] = {static_cast<wchar_t>(0x100), 0};

class String_Sprintf_Test : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(String_Sprintf_Test, AppendAcrossTheRoomBoundariesKeepsEarlierContents) {
  for (size_t prefix : {0u, 127u, 300u}) {
    for (size_t len : {0u, 126u, 127u, 128u, 129u, 5000u}) {
      std::string s(prefix, 'p');
      const std::string text(len, 'x');
      EXPECT_EQ(string_sprintf_append(s, "_%s", text.c_str()), static_cast<int>(prefix + 1 + len));
      EXPECT_EQ(s, std::string(prefix, 'p') + "_" + text);
      EXPECT_EQ(string_sprintf("%s", text.c_str()), text);
    }
  }
}

TEST_F(String_Sprintf_Test, ErrorsKeepAppendedContentsAndEmptyTheRest) {
  std::string s = "instance";
  EXPECT_LT(string_sprintf_append(s, "_%ls", BAD_WIDE), 0);
  EXPECT_EQ(s, "instance");
  EXPECT_EQ(string_sprintf("abc%ls", BAD_WIDE), "");
  snprintf_t<64, char> bad("Invalid subtype %ls", BAD_WIDE);
  EXPECT_LT(bad.length(), 0);
  EXPECT_STREQ(bad.c_str(), "");
}

TEST_F(String_Sprintf_Test, SnprintfTKeepsLongResultsWhole) {
  for (size_t len : {0u, 40u, 63u, 64u, 65u, 200u}) {
    const std::string id(len, 'v');
    snprintf_t<64, char> path("/dev/disk/by-id/virtio-%s", id.c_str());
    EXPECT_EQ(std::string(path.c_str()), "/dev/disk/by-id/virtio-" + id) << len;
    EXPECT_EQ(path.length(), static_cast<int>(23 + len)) << len;
  }
  snprintf_t<8, char> eight("%s", "12345678");  // the inline size exactly: needs the heap
  EXPECT_STREQ(eight.c_str(), "12345678");
}

}  // namespace
