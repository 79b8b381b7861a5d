// Test stand-in for the sleep of backoffs, countdowns and the cloud client's waits: while
// a Sleep_Recorder lives, every wait returns at once and is recorded instead, so a test
// sees what would have been slept without waiting for it.
#ifndef TESTS_SUPPORT_SLEEP_RECORDER_H
#define TESTS_SUPPORT_SLEEP_RECORDER_H

#include <cstddef>
#include <functional>
#include <vector>

#include "runtime/sleep.h"

namespace test {

// Sends every wait of the module and of the host through `hook` while it lives; puts the
// previous sleeps back when it goes.
class Sleep_Override {
 public:
  explicit Sleep_Override(Sleep_Hook hook);
  ~Sleep_Override();
  Sleep_Override(const Sleep_Override&) = delete;
  Sleep_Override& operator=(const Sleep_Override&) = delete;

 private:
  Sleep_Hook module_previous_;
  Sleep_Hook host_previous_;
};

class Sleep_Recorder {
 public:
  // Starts with no waits recorded. `on_sleep` (when given) runs at each wait on the
  // waiting thread, with the number of waits recorded so far, so that a test can change
  // the world while the code under test waits.
  explicit Sleep_Recorder(std::function<void(size_t)> on_sleep = {});
  // Puts the previous sleep back.
  ~Sleep_Recorder();
  Sleep_Recorder(const Sleep_Recorder&) = delete;
  Sleep_Recorder& operator=(const Sleep_Recorder&) = delete;

  // The seconds of each wait, in order.
  std::vector<unsigned int> waits() const;

 private:
  Sleep_Override override_;
};

}  // namespace test

#endif  // TESTS_SUPPORT_SLEEP_RECORDER_H
