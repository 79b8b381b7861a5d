#include "runtime/sleep.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned int> first_waits;
std::vector<unsigned int> second_waits;
void first(unsigned int secs) { first_waits.push_back(secs); }
void second(unsigned int secs) { second_waits.push_back(secs); }

TEST(Sleep_Hook, InstalledHookReceivesEveryWaitUntilReplaced) {
  EXPECT_EQ(nullptr, set_sleep_hook(&first));  // the real sleep was installed
  yolt_sleep(60);
  yolt_sleep(2);
  EXPECT_EQ(&first, set_sleep_hook(&second));
  yolt_sleep(7);
  EXPECT_EQ(&second, set_sleep_hook(nullptr));
  yolt_sleep(0);  // the real sleep again: returns at once
  EXPECT_EQ(nullptr, set_sleep_hook(nullptr));
  EXPECT_EQ((std::vector<unsigned int>{60, 2}), first_waits);
  EXPECT_EQ((std::vector<unsigned int>{7}), second_waits);
}

}  // namespace
