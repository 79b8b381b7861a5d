#include "runtime/sleep.h"

#include <ace/OS_NS_unistd.h>

#include <atomic>

namespace {

void real_sleep(unsigned int secs) { ACE_OS::sleep(secs); }

std::atomic<Sleep_Hook> sleep_hook{&real_sleep};

}  // namespace

void yolt_sleep(unsigned int secs) { sleep_hook.load(std::memory_order_acquire)(secs); }

Sleep_Hook set_sleep_hook(Sleep_Hook hook) {
  Sleep_Hook previous =
      sleep_hook.exchange(hook != nullptr ? hook : &real_sleep, std::memory_order_acq_rel);
  return previous == &real_sleep ? nullptr : previous;
}
