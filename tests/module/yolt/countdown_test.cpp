#include "yolt/countdown.h"

#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <vector>

// Found by argument-dependent lookup, so they live next to the Tick type.
static bool operator==(const Countdown_Iterator::Tick& l, const Countdown_Iterator::Tick& r) {
  return l.tick_nr == r.tick_nr && l.sleep_secs == r.sleep_secs &&
         l.elapsed_secs == r.elapsed_secs && l.timeout_secs == r.timeout_secs;
}

static void PrintTo(const Countdown_Iterator::Tick& t, std::ostream* os) {
  *os << "{nr " << t.tick_nr << ", slept " << t.sleep_secs << ", elapsed " << t.elapsed_secs
      << ", budget " << t.timeout_secs << "}";
}

namespace {

const char ZERO_BUDGET[] = "timeout_secs must be at least 1, or else the for loop never invokes.\n";

using test::Sleep_Recorder;
using Tick = Countdown_Iterator::Tick;

// The passes of a countdown loop; stops (and fails) past 1000 passes instead of spinning.
std::vector<Tick> passes(time_t timeout, time_t start, time_t max_sleep) {
  std::vector<Tick> seen;
  for (const Tick& t : countdown(timeout, start, max_sleep, false)) {
    seen.push_back(t);
    if (seen.size() > 1000) {
      ADD_FAILURE() << "countdown does not end";
      break;
    }
  }
  return seen;
}

TEST(Countdown, WaitsAddUpToTheBudgetWithALastPassAtTheDeadline) {
  struct Case {
    const char* name;
    time_t timeout, start, max_sleep;
    std::vector<unsigned int> waits;
  };
  const Case cases[] = {
      {"snapshot clearing", 360, 1, 60, {1, 2, 4, 8, 16, 32, 60, 60, 60, 60, 57}},
      {"step cut to the time left", 10, 4, 60, {4, 6}},
      {"max 0 with a start beyond the budget", 5, 100, 0, {5}},
      {"start 0 still waits", 3, 0, 60, {1, 2}},
  };
  for (const Case& c : cases) {
    Sleep_Recorder recorder;
    test::Log_Capture log;
    const std::vector<Tick> seen = passes(c.timeout, c.start, c.max_sleep);
    EXPECT_EQ(c.waits, recorder.waits()) << c.name;
    ASSERT_EQ(c.waits.size() + 1, seen.size()) << c.name;
    EXPECT_EQ((Tick{0, 0, 0, c.timeout}), seen.front()) << c.name;
    time_t elapsed = 0;
    for (size_t i = 1; i < seen.size(); ++i) {
      elapsed += c.waits[i - 1];
      EXPECT_EQ((Tick{time_t(i), time_t(c.waits[i - 1]), elapsed, c.timeout}), seen[i])
          << c.name;
    }
    EXPECT_EQ(c.timeout, seen.back().elapsed_secs) << c.name;
    EXPECT_EQ("", log.text()) << c.name;
  }
}

TEST(Countdown, ZeroBudgetIsLoggedOnceAndRunsAsOneSecond) {
  for (const time_t max_sleep : {0, 60}) {
    for (const time_t start : {0, 5}) {
      Sleep_Recorder recorder;
      test::Log_Capture log;
      const std::vector<Tick> seen = passes(0, start, max_sleep);
      EXPECT_EQ(1u, log.count(ZERO_BUDGET)) << max_sleep << " " << start;
      EXPECT_EQ((std::vector<unsigned int>{1}), recorder.waits()) << max_sleep << " " << start;
      EXPECT_EQ((std::vector<Tick>{{0, 0, 0, 1}, {1, 1, 1, 1}}), seen)
          << max_sleep << " " << start;
    }
  }
}

TEST(Countdown, NegativeBudgetNeverRunsTheBody) {
  Sleep_Recorder recorder;
  test::Log_Capture log;
  EXPECT_TRUE(passes(-5, 1, 60).empty());
  EXPECT_TRUE(recorder.waits().empty());
  EXPECT_EQ("", log.text());
}

TEST(Countdown, IncrementPastTheDeadlineDoesNotSleepAndStaysDone) {
  Sleep_Recorder recorder;
  Countdown_Iterator it(3, 2, 60, false);
  ++it;  // sleeps 2
  ++it;  // sleeps the 1 second left: the deadline pass
  ASSERT_FALSE(it.done());
  EXPECT_EQ((Tick{2, 1, 3, 3}), *it);
  ++it;
  ++it;
  EXPECT_TRUE(it.done());
  EXPECT_EQ((std::vector<unsigned int>{2, 1}), recorder.waits());
}

TEST(Exponential_Backoff_Range, YieldsEachRetryThenEnds) {
  Sleep_Recorder recorder;
  std::vector<unsigned int> waits;
  for (const unsigned int secs : exponential_backoff(2, 10, 60, false)) waits.push_back(secs);
  EXPECT_EQ((std::vector<unsigned int>{2, 4, 8, 16, 32, 60, 60, 60, 60, 60}), waits);
  EXPECT_TRUE(recorder.waits().empty());  // the loop body sleeps, not the range

  EXPECT_TRUE(exponential_backoff(2, 0, 60, false).empty());

  unsigned int n = 0;  // an unending poll runs as long as the caller wants
  unsigned int last = 0;
  for (const unsigned int secs : exponential_backoff(2, 0xFFFFFFFFu, 60, false)) {
    last = secs;
    if (++n == 1000) break;
  }
  EXPECT_EQ(1000u, n);
  EXPECT_EQ(60u, last);
}

}  // namespace
