// Waits between retries sleep through a Sleep_Seam rather than ACE_OS::sleep, so that a
// test can install a recorder and run every wait instantly while still seeing what would
// have been slept. The host's own waits (the pool's) use the seam below; the module keeps
// a seam of its own (yolt/sleep.h), as the host offers the module no sleep.
#ifndef HOST_RUNTIME_SLEEP_H
#define HOST_RUNTIME_SLEEP_H

#include <ace/OS_NS_unistd.h>

#include <atomic>

// A replacement for the real sleep: receives the number of whole seconds to wait.
using Sleep_Hook = void (*)(unsigned int secs);

// One replaceable sleep, all inline.
class Sleep_Seam {
 public:
  // Blocks the calling thread for `secs` seconds through the installed hook (by default
  // ACE_OS::sleep).
  void sleep(unsigned int secs) const {
    const Sleep_Hook hook = hook_.load(std::memory_order_acquire);
    if (hook != nullptr) {
      hook(secs);
    } else {
      ACE_OS::sleep(secs);
    }
  }

  // Installs `hook` and returns the previous one (null for the real sleep); null restores
  // the real sleep. The hook may be called from any thread, so it must be thread-safe.
  Sleep_Hook replace(Sleep_Hook hook) { return hook_.exchange(hook, std::memory_order_acq_rel); }

 private:
  std::atomic<Sleep_Hook> hook_{nullptr};
};

// Blocks the calling thread for `secs` seconds through the host's seam. Every wait of the
// host between retries goes through here.
void runtime_sleep(unsigned int secs);

// Installs `hook` for the host's waits in the whole process (see Sleep_Seam::replace).
// Meant for tests: install before the code under test starts waiting.
Sleep_Hook set_runtime_sleep_hook(Sleep_Hook hook);

#endif  // HOST_RUNTIME_SLEEP_H
