// The one place where the module's waits sleep: backoff loops, countdowns and the cloud
// client's waits call yolt_sleep, so that a test can install a hook and run every wait
// instantly while still seeing what would have been slept. The module keeps it to
// itself, hidden like the rest of its code: the host that loads the module offers it no
// sleep, and the host's own waits have a seam of their own.
#ifndef YOLT_SLEEP_H
#define YOLT_SLEEP_H

// A replacement for the module's real sleep: receives the whole seconds to wait. It may
// be called from any thread at once, so it must be thread-safe.
using Yolt_Sleep_Hook = void (*)(unsigned int secs);

// Blocks the calling thread for `secs` seconds through the installed hook (by default
// ACE_OS::sleep). Every wait of the module between retries goes through here.
void yolt_sleep(unsigned int secs);

// Installs `hook` for the module's waits in the whole process and returns the previous
// one (null for the real sleep); null restores the real sleep. Meant for tests: install
// before the code under test starts waiting.
Yolt_Sleep_Hook set_sleep_hook(Yolt_Sleep_Hook hook);

#endif  // YOLT_SLEEP_H
