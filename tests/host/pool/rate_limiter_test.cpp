#include "pool/rate_limiter.h"

#include "support/temp_home.h"
#include "yolt/scoped_deleter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <vector>

namespace {

using std::chrono::milliseconds;

// The first window holding the time of day applies, also across midnight; none: no limit.
TEST(Rate_Limiter, WindowsPickTheLimit) {
  Rate_Limiter limiter({{3600, 7200, 100}, {79200, 3600, 200}, {0, 0, 300}});
  const std::pair<unsigned int, size_t> cases[] = {{3600, 100}, {7199, 100}, {7200, 300},
      {79200, 200}, {0, 200}, {3599, 200}, {50000, 300}};
  for (const auto& c : cases) EXPECT_EQ(limiter.limit_at(c.first), c.second) << c.first;
  EXPECT_EQ(Rate_Limiter({{3600, 7200, 100}}).limit_at(10), 0u);
}

TEST(Rate_Limiter, BucketHoldsOneSecondAndRefills) {
  Rate_Limiter limiter({{0, 0, 1000}});
  const Rate_Limiter::Clock::time_point t0{};
  const auto zero = Rate_Limiter::Clock::duration::zero();
  auto ms = [](Rate_Limiter::Clock::duration d) {
    return std::chrono::duration_cast<milliseconds>(d).count();
  };
  EXPECT_TRUE(limiter.reserve(600, t0, 0) == zero && limiter.reserve(400, t0, 0) == zero);
  // The bucket is empty: 500 more bytes need half a second; after that half second the
  // debt is paid, the next 250 bytes wait a quarter.
  EXPECT_EQ(ms(limiter.reserve(500, t0, 0)), 500);
  EXPECT_EQ(ms(limiter.reserve(250, t0 + milliseconds(500), 0)), 250);
  // A long pause refills no more than one second's worth.
  const auto t2 = t0 + std::chrono::seconds(61);
  EXPECT_TRUE(limiter.reserve(1000, t2, 0) == zero && limiter.reserve(1, t2, 0) > zero);
  // A window directly following another starts with a full bucket of its own rate.
  Rate_Limiter windows({{0, 3600, 100}, {3600, 7200, 1000}});
  EXPECT_EQ(windows.reserve(100, t0, 3599), zero);
  EXPECT_EQ(ms(windows.reserve(1500, t0 + std::chrono::seconds(1), 3600)), 500);
  // Outside every window there is no limit.
  EXPECT_EQ(Rate_Limiter({{0, 3600, 10}}).reserve(1 << 30, t0, 7200), zero);
}

// Windows are read in local time ("seconds after local midnight"), not UTC: in zones
// east and west of UTC, a window around the local time limits a transfer now and one
// around the UTC time does not. The zone is restored afterwards.
TEST(Rate_Limiter, WindowsAreTakenInLocalTime) {
  const auto zero = Rate_Limiter::Clock::duration::zero();
  // A window of 20 minutes around `second` (of the day), 1 byte per second.
  auto around = [](long second) {
    const auto at = [](long s) { return static_cast<unsigned int>((s % 86400 + 86400) % 86400); };
    return std::vector<Rate_Control_Entry>{{at(second - 600), at(second + 600), 1}};
  };
  auto second_of_day = [](const struct tm& t) { return t.tm_hour * 3600L + t.tm_min * 60 + t.tm_sec; };
  for (const char* zone : {"<+05>-5", "<-0930>9:30"}) {
    SCOPED_TRACE(zone);
    auto restore_zone = make_deleter([] { ::tzset(); });  // once TZ is back
    const test::Scoped_Env tz("TZ", zone);
    ::tzset();
    const time_t now = std::time(nullptr);
    struct tm local, utc;
    ASSERT_TRUE(::localtime_r(&now, &local) != nullptr && ::gmtime_r(&now, &utc) != nullptr);
    EXPECT_GT(Rate_Limiter(around(second_of_day(local))).reserve(1 << 20), zero);
    EXPECT_EQ(Rate_Limiter(around(second_of_day(utc))).reserve(1 << 20), zero);
  }
}

}  // namespace
