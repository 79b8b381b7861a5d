// The small helpers of yolt: bounded number parsing, name tables, time stamps, device and
// UUID checks.
#include "yolt/key_value.h"
#include "yolt/natoi.h"
#include "yolt/posix_time_format.h"
#include "yolt/utils.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <climits>

namespace {

TEST(Natoi, Table) {
  const struct {
    std::string text;
    int value, error;
    size_t stop;  // where the scan stopped, from the start
  } cases[] = {
      {"42", 42, 0, 2},           {"-2147483648", INT_MIN, 0, 11},
      {"2147483648", INT_MAX, ERANGE, 9}, {"-2147483649", INT_MAX, ERANGE, 10},
      {"-", 0, EINVAL, 1},        {"", 0, EINVAL, 0},
      {"12ab", 12, 0, 2},         {" 5", 0, EINVAL, 0},
  };
  for (const auto& c : cases) {
    const char* stop = nullptr;
    errno = 12345;
    EXPECT_EQ(natoi<int>(c.text.c_str(), c.text.c_str() + c.text.size(), &stop), c.value)
        << c.text;
    EXPECT_EQ(errno, c.error) << c.text;
    EXPECT_EQ(static_cast<size_t>(stop - c.text.c_str()), c.stop) << c.text;
  }
  EXPECT_EQ(natoi<long>("9223372036854775807", 19), LONG_MAX);
  EXPECT_EQ(natoi<long>("21474836480", 11), 21474836480L);
  EXPECT_EQ(natoi<int>("123456", 3), 123);  // never reads past the range
  errno = 0;
  EXPECT_EQ(natoi<int>(nullptr, 5), 0);
  EXPECT_EQ(errno, EINVAL);
}

enum class Color { RED, GREEN, UNKNOWN };
const Key2_Value_T<Color> COLORS[] = {
    {"red", 3, Color::RED}, {"green", 5, Color::GREEN}, {"greenish", 8, Color::GREEN},
    {nullptr, 0, Color::UNKNOWN}};

TEST(Key_Value, NeedsTheWholeNameAndRoundTrips) {
  const struct {
    const char* text;
    size_t len;
    const char* found;  // null: the terminating row
  } cases[] = {{"greenish", 5, "green"}, {"greenish", 8, "greenish"}, {"gree", 4, nullptr},
               {"Red", 3, nullptr},      {"", 0, nullptr},            {nullptr, 3, nullptr}};
  for (const auto& c : cases) {
    const auto* row = get_key_value_entry(COLORS, c.text, c.len);
    EXPECT_STREQ(row->key, c.found);
  }
  EXPECT_EQ(get_key_value_entry(COLORS, "green ")->key, nullptr);
  EXPECT_STREQ(get_key_value_entry(COLORS, Color::GREEN)->key, "green");  // the first row
  EXPECT_EQ(get_key_value_entry(COLORS, Color::UNKNOWN)->key, nullptr);
}

TEST(POSIX_Time_Format, UtcLocalAndTooSmallBuffers) {
  const time_t t = 1714564800;  // 2024-05-01 12:00:00 UTC
  EXPECT_STREQ((POSIX_Time_Format<16, false>(t, "%Y%m%d_%H%M%S").c_str()), "20240501_120000");
  EXPECT_STREQ((POSIX_Time_Format<16, false>(t, "%Y%m%d_%H%M%S_x").c_str()), "");
  {
    test::Scoped_Env zone("TZ", "UTC-2");  // two hours east of UTC
    ::tzset();
    EXPECT_STREQ((POSIX_Time_Format<16, true>(t, "%Y%m%d_%H%M%S").c_str()), "20240501_140000");
  }
  ::tzset();
}

TEST(Utils, IsBlockDeviceRefusesOtherFilesAndKeepsTheId) {
  dev_t id = 77;
  for (const char* path : {"/proc/self/exe", "/tmp", "/nonexistent/yolt", (const char*)nullptr})
    EXPECT_FALSE(is_block_device(path, &id)) << (path ? path : "(null)");
  EXPECT_EQ(id, 77u);
  for (const char* candidate : {"/dev/loop0", "/dev/sda", "/dev/vda", "/dev/nvme0n1"}) {
    struct stat st;
    if (::stat(candidate, &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    EXPECT_TRUE(is_block_device(candidate, &id));
    EXPECT_EQ(id, st.st_rdev);
    break;
  }
}

TEST(Utils, UuidTextToBytes) {
  const std::string bytes = uuid_string_to_binary(std::string("00112233-4455-6677-8899-AABBCCDDEEFF"));
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[15]), 0xFF);
  EXPECT_EQ(uuid_string_to_binary(std::string("not-a-uuid")), "");
}

}  // namespace
