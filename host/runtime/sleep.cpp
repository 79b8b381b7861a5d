#include "runtime/sleep.h"

namespace {

Sleep_Seam seam;

}  // namespace

void runtime_sleep(unsigned int secs) { seam.sleep(secs); }

Sleep_Hook set_runtime_sleep_hook(Sleep_Hook hook) { return seam.replace(hook); }
