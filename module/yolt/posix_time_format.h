// A point in time as text in a fixed buffer of N characters, in UTC (Local false) or the
// local time zone. Names of cloud resources and history times are built from it.
#ifndef YOLT_POSIX_TIME_FORMAT_H
#define YOLT_POSIX_TIME_FORMAT_H

#include <ace/OS_NS_time.h>

#include <cstddef>
#include <ctime>

template <size_t N, bool Local>
class POSIX_Time_Format {
  static_assert(N > 0, "the buffer needs room for the terminator");

 public:
  // Formats `t` with the strftime format `fmt`. The text is empty when `fmt` is null,
  // the time does not convert, or the result does not fit in N characters.
  POSIX_Time_Format(time_t t, const char* fmt) {
    buf_[0] = '\0';
    struct tm tm_buf;
    if (fmt == nullptr || !convert(t, &tm_buf)) return;
    // strftime leaves the buffer undefined when the text does not fit.
    if (ACE_OS::strftime(buf_, N, fmt, &tm_buf) == 0) buf_[0] = '\0';
  }

  const char* c_str() const { return buf_; }

 private:
  static bool convert(time_t t, struct tm* out) {
    return (Local ? ACE_OS::localtime_r(&t, out) : ACE_OS::gmtime_r(&t, out)) != nullptr;
  }

  char buf_[N];
};

#endif  // YOLT_POSIX_TIME_FORMAT_H
