// A count-down latch for tests of threaded code: threads wait on it, with a generous
// time-out, until enough count_down() calls were made. With a count of one it is a gate
// that a test opens once. Tests never sleep to synchronise.
#ifndef TESTS_SUPPORT_LATCH_H
#define TESTS_SUPPORT_LATCH_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace test {

constexpr std::chrono::seconds GENEROUS{60};

class Latch {
 public:
  explicit Latch(int count = 1) : count_(count) {}
  Latch(const Latch&) = delete;
  Latch& operator=(const Latch&) = delete;

  void count_down() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ > 0 && --count_ == 0) cond_.notify_all();
  }
  // For a gate: the same as count_down().
  void open() { count_down(); }

  // True when the latch opened within the time-out.
  bool wait(std::chrono::seconds timeout = GENEROUS) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [this] { return count_ == 0; });
  }
  bool is_open() {
    std::lock_guard<std::mutex> lock(mutex_);
    return count_ == 0;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
  int count_;
};

}  // namespace test

#endif  // TESTS_SUPPORT_LATCH_H
