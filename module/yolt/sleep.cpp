#include "yolt/sleep.h"

namespace {

Sleep_Seam seam;

}  // namespace

void yolt_sleep(unsigned int secs) { seam.sleep(secs); }

Sleep_Hook set_sleep_hook(Sleep_Hook hook) { return seam.replace(hook); }
