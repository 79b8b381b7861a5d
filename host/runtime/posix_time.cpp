#include "runtime/posix_time.h"

const char* const POSIX_Time_To_ISO8601::DEFAULT_FORMAT = "%Y-%m-%dT%H:%M:%SZ";

POSIX_Time_To_ISO8601::POSIX_Time_To_ISO8601(time_t t, const char* fmt)
    : POSIX_Time_Format<32, false>(t, fmt) {}
