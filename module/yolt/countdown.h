// Ranges for retry loops written as range-based for loops. exponential_backoff(...)
// yields the waits of a backoff and the loop body sleeps them (through yolt_sleep);
// countdown(...) runs the body at once and again after each wait, sleeping inside the
// iterator, until a budget of seconds is spent, with a last pass exactly at the deadline.
#ifndef YOLT_COUNTDOWN_H
#define YOLT_COUNTDOWN_H

#include "runtime/exponential_backoff.h"

#include <boost/range/iterator_range.hpp>

#include <cstdint>
#include <ctime>
#include <iterator>

// The range from `i` to the end of its sequence.
inline boost::iterator_range<Exponential_Backoff_Iterator> exponential_backoff(
    const Exponential_Backoff_Iterator& i) {
  return boost::make_iterator_range(i, Exponential_Backoff_Iterator());
}

// The waits of a backoff starting at `slot_time` seconds, doubling up to `capped`, at
// most `max_retries` of them; each at least 1 second.
inline boost::iterator_range<Exponential_Backoff_Iterator> exponential_backoff(
    uint32_t slot_time, uint32_t max_retries, uint32_t capped, bool jitter) {
  return exponential_backoff(Exponential_Backoff_Iterator(slot_time, max_retries, capped, jitter));
}

class Countdown_Iterator {
 public:
  // What the loop body sees on each pass (seconds).
  struct Tick {
    time_t tick_nr;       // passes made before this one (0 on the first)
    time_t sleep_secs;    // slept just before this pass (0 on the first)
    time_t elapsed_secs;  // slept in total so far
    time_t timeout_secs;  // the budget
  };

  using iterator_category = std::input_iterator_tag;
  using value_type = Tick;
  using difference_type = std::ptrdiff_t;
  using pointer = const Tick*;
  using reference = const Tick&;

  // A countdown over `timeout_secs` whose waits back off from `start_sleep_secs` up to
  // `max_sleep_secs`; a budget of 0 or less is done at once.
  Countdown_Iterator(time_t timeout_secs, time_t start_sleep_secs, time_t max_sleep_secs,
                     bool jitter);

  reference operator*() const { return tick_; }
  pointer operator->() const { return &tick_; }

  // Sleeps min(backoff value, time left), or, after the pass at the deadline, ends.
  Countdown_Iterator& operator++();

  // The budget is spent (or was never there).
  bool done() const { return tick_.elapsed_secs > tick_.timeout_secs || tick_.timeout_secs == 0; }

  // Iterators compare equal when both are done: a loop runs while its begin is not done.
  friend bool operator==(const Countdown_Iterator& l, const Countdown_Iterator& r) {
    return l.done() && r.done();
  }
  friend bool operator!=(const Countdown_Iterator& l, const Countdown_Iterator& r) {
    return !(l == r);
  }

 private:
  Tick tick_;
  Exponential_Backoff_Iterator exp_it_;
};

// A countdown over `timeout_secs` seconds: the body runs at once, then after each wait of
// min(backoff value, time left), the last time exactly at the deadline. A budget of 0 is
// logged and taken as 1 second; a `max_sleep_secs` of 0 means the whole budget. No wait
// is shorter than 1 second, so the loop never spins.
boost::iterator_range<Countdown_Iterator> countdown(time_t timeout_secs, time_t start_sleep_secs,
                                                    time_t max_sleep_secs, bool jitter);

#endif  // YOLT_COUNTDOWN_H
