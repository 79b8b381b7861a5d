#include "yolt/countdown.h"

#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

namespace {

using Tick = Countdown_Iterator::Tick;

// "nr/slept/elapsed/budget" of each pass of a countdown loop; stops past 1000 passes.
std::vector<std::string> passes(time_t timeout, time_t start, time_t max_sleep) {
  std::vector<std::string> seen;
  for (const Tick& t : countdown(timeout, start, max_sleep, false)) {
    seen.push_back(std::to_string(t.tick_nr) + "/" + std::to_string(t.sleep_secs) + "/" +
                   std::to_string(t.elapsed_secs) + "/" + std::to_string(t.timeout_secs));
    if (seen.size() > 1000) return {"does not end"};
  }
  return seen;
}

// The waits add up to the budget with a last pass at the deadline; a budget of 0 is
// logged and runs as 1 second; a negative one never runs the body.
TEST(Countdown, WaitsAddUpToTheBudget) {
  using Texts = std::vector<std::string>;
  struct Case { time_t timeout, start, max_sleep; std::vector<unsigned> waits; Texts passes; };
  const Case cases[] = {
      {10, 4, 60, {4, 6}, {"0/0/0/10", "1/4/4/10", "2/6/10/10"}},
      {5, 100, 0, {5}, {"0/0/0/5", "1/5/5/5"}},
      {3, 0, 60, {1, 2}, {"0/0/0/3", "1/1/1/3", "2/2/3/3"}},
      {0, 0, 0, {1}, {"0/0/0/1", "1/1/1/1"}},
      {-5, 1, 60, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeout);
    test::Sleep_Recorder recorder;
    test::Log_Capture log;
    const auto seen = passes(c.timeout, c.start, c.max_sleep);
    EXPECT_EQ(c.waits, recorder.waits());
    EXPECT_EQ(c.passes, seen);
    const char* const warning =
        "timeout_secs must be at least 1, or else the for loop never invokes.\n";
    EXPECT_EQ(c.timeout == 0 ? warning : "", log.text());
  }
}

// The capped doubling and the sleeps of the loop body are checked by their users' tests.
TEST(Exponential_Backoff_Range, EmptyWithoutRetriesEndlessWithTheMostOfThem) {
  EXPECT_TRUE(exponential_backoff(2, 0, 60, false).empty());
  unsigned n = 0;  // an unending poll runs as long as the caller wants
  for (const unsigned secs : exponential_backoff(2, 0xFFFFFFFFu, 60, false))
    if (++n == 1000 || secs > 60) break;
  EXPECT_EQ(1000u, n);
}

}  // namespace
