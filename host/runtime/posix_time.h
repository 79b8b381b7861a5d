// Times as text in UTC for job histories and logs ("2024-05-01T12:00:00Z" by default;
// the executors pass "%Y-%m-%d %H:%M:%S").
#ifndef HOST_RUNTIME_POSIX_TIME_H
#define HOST_RUNTIME_POSIX_TIME_H

#include "yolt/posix_time_format.h"

#include <ctime>

class POSIX_Time_To_ISO8601 : public POSIX_Time_Format<32, false> {
 public:
  static const char* const DEFAULT_FORMAT;  // "%Y-%m-%dT%H:%M:%SZ"

  // `t` in UTC with the strftime format `fmt`; empty text when `fmt` is null, the time
  // does not convert or the text does not fit in 31 characters.
  explicit POSIX_Time_To_ISO8601(time_t t, const char* fmt = DEFAULT_FORMAT);
};

#endif  // HOST_RUNTIME_POSIX_TIME_H
