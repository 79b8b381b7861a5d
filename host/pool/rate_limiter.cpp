#include "pool/rate_limiter.h"

#include <ace/OS_NS_time.h>

#include <algorithm>
#include <ctime>

namespace {

bool in_window(const Rate_Control_Entry& e, unsigned int t) {
  if (e.start_time == e.end_time) return true;  // the whole day
  if (e.start_time < e.end_time) return t >= e.start_time && t < e.end_time;
  return t >= e.start_time || t < e.end_time;
}

unsigned int local_second_of_day() {
  const time_t now = ACE_OS::time(nullptr);
  struct tm tm_now;
  if (ACE_OS::localtime_r(&now, &tm_now) == nullptr) return 0;
  return static_cast<unsigned int>(tm_now.tm_hour * 3600 + tm_now.tm_min * 60 + tm_now.tm_sec);
}

}  // namespace

size_t Rate_Limiter::limit_at(unsigned int second_of_day) const {
  for (const Rate_Control_Entry& e : limits_) {
    if (in_window(e, second_of_day)) return e.max_bytes_per_second;
  }
  return 0;
}

Rate_Limiter::Clock::duration Rate_Limiter::reserve(size_t bytes, Clock::time_point now,
                                                    unsigned int second_of_day) {
  const size_t rate = limit_at(second_of_day);
  if (rate == 0) {
    started_ = false;
    return Clock::duration::zero();
  }
  if (!started_ || rate != rate_) {
    // A new window starts with a full bucket of one second's worth.
    rate_ = rate;
    tokens_ = static_cast<double>(rate);
    last_ = now;
    started_ = true;
  }
  const double elapsed = std::chrono::duration<double>(now - last_).count();
  last_ = now;
  tokens_ = std::min(static_cast<double>(rate_), tokens_ + elapsed * static_cast<double>(rate_));
  tokens_ -= static_cast<double>(bytes);
  if (tokens_ >= 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(-tokens_ / static_cast<double>(rate_)));
}

Rate_Limiter::Clock::duration Rate_Limiter::reserve(size_t bytes) {
  if (limits_.empty()) return Clock::duration::zero();
  return reserve(bytes, Clock::now(), local_second_of_day());
}
