#include "yolt/posix_time_format.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

TEST(POSIX_Time_Format, FormatsInUtc) {
  const time_t t = 1714564800;  // 2024-05-01 12:00:00 UTC
  EXPECT_STREQ((POSIX_Time_Format<32, false>(t, "%Y-%m-%d %H:%M:%S").c_str()),
               "2024-05-01 12:00:00");
  EXPECT_STREQ((POSIX_Time_Format<32, false>(t, "%Y%m%d%H%M%S").c_str()), "20240501120000");
  EXPECT_STREQ((POSIX_Time_Format<32, false>(0, "%Y-%m-%d").c_str()), "1970-01-01");
}

TEST(POSIX_Time_Format, LocalTimeFollowsTheZone) {
  {
    test::Scoped_Env zone("TZ", "UTC-2");  // two hours east of UTC
    ::tzset();
    EXPECT_STREQ((POSIX_Time_Format<16, true>(1714564800, "%Y%m%d_%H%M%S").c_str()),
                 "20240501_140000");
  }
  ::tzset();
}

TEST(POSIX_Time_Format, FailuresGiveEmptyText) {
  EXPECT_STREQ((POSIX_Time_Format<32, false>(1714564800, nullptr).c_str()), "");
  // "20240501_140000" plus one character does not fit in 16.
  EXPECT_STREQ((POSIX_Time_Format<16, false>(1714564800, "%Y%m%d_%H%M%S_x").c_str()), "");
  // 15 characters and the terminator fill the buffer exactly.
  EXPECT_STREQ((POSIX_Time_Format<16, false>(1714564800, "%Y%m%d_%H%M%S").c_str()),
               "20240501_120000");
}

}  // namespace
