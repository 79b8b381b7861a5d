#include "yolt/string_sprintf.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

// Appends across the inline room keep earlier contents; long results stay whole; an
// encoding error ("%ls" of a character the "C" locale cannot convert) keeps what was
// appended before and empties the rest.
TEST(String_Sprintf, RoomBoundariesAndErrors) {
  std::setlocale(LC_ALL, "C");
  for (size_t prefix : {0u, 127u, 300u}) {
    for (size_t len : {0u, 126u, 127u, 128u, 129u, 5000u}) {
      std::string s(prefix, 'p');
      const std::string text(len, 'x');
      EXPECT_EQ(string_sprintf_append(s, "_%s", text.c_str()), static_cast<int>(prefix + 1 + len));
      EXPECT_EQ(s, std::string(prefix, 'p') + "_" + text);
      snprintf_t<64, char> path("/dev/disk/by-id/virtio-%s", text.c_str());
      EXPECT_EQ(std::string(path.c_str()), "/dev/disk/by-id/virtio-" + text) << len;
      EXPECT_EQ(path.length(), static_cast<int>(23 + len)) << len;
    }
  }
  EXPECT_STREQ((snprintf_t<8, char>("%s", "12345678").c_str()), "12345678");
  const wchar_t bad_wide[] = {static_cast<wchar_t>(0x100), 0};
  std::string s = "instance";
  EXPECT_LT(string_sprintf_append(s, "_%ls", bad_wide), 0);
  EXPECT_EQ(s, "instance");
  EXPECT_EQ(string_sprintf("abc%ls", bad_wide), "");
  snprintf_t<64, char> bad("Invalid subtype %ls", bad_wide);
  EXPECT_LT(bad.length(), 0);
  EXPECT_STREQ(bad.c_str(), "");
}

}  // namespace
