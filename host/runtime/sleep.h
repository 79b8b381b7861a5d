// The one place where retry waits sleep. Backoff loops, countdowns and the cloud
// client's waits call yolt_sleep instead of ACE_OS::sleep, so that a test can install a
// recorder and run every wait instantly while still seeing what would have been slept.
#ifndef HOST_RUNTIME_SLEEP_H
#define HOST_RUNTIME_SLEEP_H

// A replacement for the real sleep: receives the number of whole seconds to wait.
using Sleep_Hook = void (*)(unsigned int secs);

// Blocks the calling thread for `secs` seconds through the installed hook (by default
// ACE_OS::sleep). Every wait between retries goes through here.
void yolt_sleep(unsigned int secs);

// Installs `hook` for the whole process and returns the previous one; null restores the
// real sleep. Meant for tests: install before the code under test starts waiting. The
// hook may be called from any thread, so it must be thread-safe itself.
Sleep_Hook set_sleep_hook(Sleep_Hook hook);

#endif  // HOST_RUNTIME_SLEEP_H
