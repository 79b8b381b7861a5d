#include "runtime/exponential_backoff.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using It = Exponential_Backoff_Iterator;
using Waits = std::vector<unsigned int>;

Waits values(It it, size_t limit = 100) {
  Waits out;
  for (; it != It() && out.size() < limit; ++it) out.push_back(*it);
  return out;
}

TEST(Exponential_Backoff_Iterator, SequencesWithoutJitter) {
  const struct { const char* name; unsigned slot, retries, cap; Waits waits; } cases[] = {
      {"cloud poll", 2, 8, 60, {2, 4, 8, 16, 32, 60, 60, 60}},
      {"slot above cap", 90, 3, 60, {60, 60, 60}},
      {"slot 0 waits at least 1", 0, 4, 60, {1, 2, 4, 8}},
      {"cap 0 waits 1", 5, 3, 0, {1, 1, 1}},
      {"no retries", 2, 0, 60, {}},
      {"near overflow", 0x80000000u, 3, 0xFFFFFFFFu, {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFFu}}};
  for (const auto& c : cases)
    EXPECT_EQ(c.waits, values(It(c.slot, c.retries, c.cap, false))) << c.name;
}

TEST(Exponential_Backoff_Iterator, JitterStaysWithinBoundsAndCopiesAgree) {
  const Waits plain = values(It(2, 12, 60, false));
  for (int run = 0; run < 50; ++run) {
    It it(2, 12, 60, true);
    const Waits jittered = values(it);
    EXPECT_EQ(jittered, values(it));  // multi-pass: a copy sees the same extras
    ASSERT_EQ(plain.size(), jittered.size());
    for (size_t i = 0; i < plain.size(); ++i)
      EXPECT_TRUE(jittered[i] >= plain[i] && jittered[i] <= std::min(2 * plain[i], 60u)) << i;
  }
  EXPECT_EQ(Waits(4, 1u), values(It(0, 4, 1, true)));
}

}  // namespace
