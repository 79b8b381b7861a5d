// The host's out-of-line part of the pool options records (client_io/client_io_base.h).
#include "client_io/client_io_base.h"

#include <algorithm>

const std::string Rate_Limits::dest_key = "dest";
const std::string Rate_Limits::src_key = "src";

void set_rate_limits_by_channels(Rate_Limits& limits, size_t channels) {
  if (channels <= 1) return;
  for (auto* list : {&limits.dest_rate_limits, &limits.src_rate_limits}) {
    for (Rate_Control_Entry& e : *list) {
      if (e.max_bytes_per_second == 0) continue;
      e.max_bytes_per_second = std::max<size_t>(1, e.max_bytes_per_second / channels);
    }
  }
}
