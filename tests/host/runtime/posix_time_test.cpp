#include "runtime/posix_time.h"

#include <gtest/gtest.h>

namespace {

TEST(POSIX_Time_To_ISO8601, DefaultAndHistoryFormats) {
  EXPECT_STREQ(POSIX_Time_To_ISO8601(1714564800).c_str(), "2024-05-01T12:00:00Z");
  EXPECT_STREQ(POSIX_Time_To_ISO8601(1714564800, "%Y-%m-%d %H:%M:%S").c_str(),
               "2024-05-01 12:00:00");
  EXPECT_STREQ(POSIX_Time_To_ISO8601(1714564800, nullptr).c_str(), "");
}

}  // namespace
