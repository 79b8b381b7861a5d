// The one place where the module's waits sleep: backoff loops, countdowns and the cloud
// client's waits call yolt_sleep, so that a test can run every wait instantly (see
// Sleep_Seam). The module keeps it to itself, hidden like the rest of its code: the host
// that loads the module offers it no sleep.
#ifndef YOLT_SLEEP_H
#define YOLT_SLEEP_H

#include "runtime/sleep.h"

// Blocks the calling thread for `secs` seconds through the module's seam (by default
// ACE_OS::sleep). Every wait of the module between retries goes through here.
void yolt_sleep(unsigned int secs);

// Installs `hook` for the module's waits in the whole process (see Sleep_Seam::replace).
// Meant for tests: install before the code under test starts waiting.
Sleep_Hook set_sleep_hook(Sleep_Hook hook);

#endif  // YOLT_SLEEP_H
