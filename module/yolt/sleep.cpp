#include "yolt/sleep.h"

#include <ace/OS_NS_unistd.h>

#include <atomic>

namespace {

std::atomic<Yolt_Sleep_Hook> sleep_hook{nullptr};

}  // namespace

void yolt_sleep(unsigned int secs) {
  const Yolt_Sleep_Hook hook = sleep_hook.load(std::memory_order_acquire);
  if (hook != nullptr) {
    hook(secs);
  } else {
    ACE_OS::sleep(secs);
  }
}

Yolt_Sleep_Hook set_sleep_hook(Yolt_Sleep_Hook hook) {
  return sleep_hook.exchange(hook, std::memory_order_acq_rel);
}
