#include "pool/rate_limiter.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using std::chrono::milliseconds;

TEST(Rate_Limiter, WindowsPickTheLimit) {
  Rate_Limiter limiter({{3600, 7200, 100}, {79200, 3600, 200}, {0, 0, 300}});
  struct Case {
    unsigned int t;
    size_t limit;
  } cases[] = {{3600, 100}, {7199, 100}, {7200, 300}, {79200, 200},
               {0, 200},    {3599, 200}, {50000, 300}};
  for (const Case& c : cases) EXPECT_EQ(limiter.limit_at(c.t), c.limit) << c.t;
  EXPECT_EQ(Rate_Limiter({{3600, 7200, 100}}).limit_at(10), 0u);
  EXPECT_TRUE(Rate_Limiter().unlimited());
}

TEST(Rate_Limiter, BucketHoldsOneSecondAndRefills) {
  Rate_Limiter limiter({{0, 0, 1000}});
  const Rate_Limiter::Clock::time_point t0{};
  EXPECT_EQ(limiter.reserve(600, t0, 0), Rate_Limiter::Clock::duration::zero());
  EXPECT_EQ(limiter.reserve(400, t0, 0), Rate_Limiter::Clock::duration::zero());
  // The bucket is empty: 500 more bytes need half a second.
  EXPECT_EQ(std::chrono::duration_cast<milliseconds>(limiter.reserve(500, t0, 0)).count(), 500);
  // After that half second the debt is paid: the next 250 bytes wait a quarter.
  const auto t1 = t0 + milliseconds(500);
  EXPECT_EQ(std::chrono::duration_cast<milliseconds>(limiter.reserve(250, t1, 0)).count(), 250);
  // A long pause refills no more than one second's worth.
  const auto t2 = t1 + std::chrono::seconds(60);
  EXPECT_EQ(limiter.reserve(1000, t2, 0), Rate_Limiter::Clock::duration::zero());
  EXPECT_GT(limiter.reserve(1, t2, 0), Rate_Limiter::Clock::duration::zero());
  // Outside every window there is no limit.
  Rate_Limiter night({{0, 3600, 10}});
  EXPECT_EQ(night.reserve(1 << 30, t0, 7200), Rate_Limiter::Clock::duration::zero());
}

}  // namespace
