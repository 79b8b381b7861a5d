#include "yolt/countdown.h"

#include "yolt/sleep.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <limits>

namespace {

// Seconds as the backoff's unsigned count; 0 and negatives become the backoff's floor
// (1 second), larger values saturate.
unsigned int to_backoff_secs(time_t secs) {
  if (secs <= 0) return 1;
  return static_cast<unsigned int>(
      std::min<time_t>(secs, std::numeric_limits<unsigned int>::max()));
}

}  // namespace

Countdown_Iterator::Countdown_Iterator(time_t timeout_secs, time_t start_sleep_secs,
                                       time_t max_sleep_secs, bool jitter)
    : tick_{0, 0, 0, timeout_secs}, exp_it_() {
  exp_it_.init(to_backoff_secs(start_sleep_secs), std::numeric_limits<unsigned int>::max(),
               to_backoff_secs(max_sleep_secs), jitter);
}

Countdown_Iterator& Countdown_Iterator::operator++() {
  if (done()) return *this;
  if (tick_.elapsed_secs == tick_.timeout_secs) {
    // The pass at the deadline has run: step past the budget without sleeping.
    tick_.elapsed_secs += *exp_it_;
    tick_.sleep_secs = 0;
    ++tick_.tick_nr;
    return *this;
  }
  const time_t left = tick_.timeout_secs - tick_.elapsed_secs;
  tick_.sleep_secs = std::min<time_t>(*exp_it_, left);
  if (tick_.sleep_secs != 0) {
    yolt_sleep(static_cast<unsigned int>(tick_.sleep_secs));
    tick_.elapsed_secs += tick_.sleep_secs;
  }
  ++exp_it_;
  ++tick_.tick_nr;
  return *this;
}

boost::iterator_range<Countdown_Iterator> countdown(time_t timeout_secs, time_t start_sleep_secs,
                                                    time_t max_sleep_secs, bool jitter) {
  if (timeout_secs == 0) {
    ACE_ERROR((LM_ERROR,
               "timeout_secs must be at least 1, or else the for loop never invokes.\n"));
    timeout_secs = 1;
  }
  if (max_sleep_secs == 0) max_sleep_secs = timeout_secs;
  return boost::make_iterator_range(Countdown_Iterator(timeout_secs, start_sleep_secs,
                                                       max_sleep_secs, jitter),
                                    Countdown_Iterator(0, 0, 0, false));
}
