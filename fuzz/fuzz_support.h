// Shared pieces of the fuzz targets: a quiet log (a malformed input is logged at error
// priority by design, which would only slow the fuzzer down).
#ifndef FUZZ_FUZZ_SUPPORT_H
#define FUZZ_FUZZ_SUPPORT_H

#include <ace/Log_Msg.h>

namespace fuzz {

inline void silence_log() {
  ACE_LOG_MSG->priority_mask(0, ACE_Log_Msg::PROCESS);
}

}  // namespace fuzz

#endif  // FUZZ_FUZZ_SUPPORT_H
