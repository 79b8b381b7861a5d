// Holds a pool transfer to the job's bandwidth limits: a token bucket whose rate is the
// limit of the time window that holds the current local time of day. Client_IO asks it
// before every transfer and sleeps for the delay it answers.
#ifndef POOL_RATE_LIMITER_H
#define POOL_RATE_LIMITER_H

#include "client_io/client_io_base.h"

#include <chrono>
#include <cstdint>
#include <vector>

class Rate_Limiter {
 public:
  using Clock = std::chrono::steady_clock;

  Rate_Limiter() = default;
  explicit Rate_Limiter(std::vector<Rate_Control_Entry> limits) : limits_(std::move(limits)) {}

  // Bytes per second allowed at `second_of_day` (0..86399); 0 when no window limits it.
  size_t limit_at(unsigned int second_of_day) const;

  // Takes `bytes` from the bucket at `now` (local time `second_of_day`) and returns how
  // long the transfer must wait to keep to the limit; zero when unlimited.
  Clock::duration reserve(size_t bytes, Clock::time_point now, unsigned int second_of_day);

  // reserve() at the current time.
  Clock::duration reserve(size_t bytes);

  bool unlimited() const { return limits_.empty(); }

 private:
  std::vector<Rate_Control_Entry> limits_;
  size_t rate_ = 0;
  double tokens_ = 0;
  Clock::time_point last_{};
  bool started_ = false;
};

#endif  // POOL_RATE_LIMITER_H
