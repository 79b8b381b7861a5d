#include "tavrocloud/job/common.h"

#include "yolt/countdown.h"
#include "yolt/sleep.h"
#include "yolt/string_sprintf.h"
#include "yolt/utils.h"

#include <ace/Log_Msg.h>

#include <cstdlib>
#include <memory>

namespace tavrocloud {
namespace {

// The kernel names an attached virtio disk by its serial, which the cloud sets to the
// identifier of what was attached. The resolved device may be written to, so only
// identifiers that cannot climb out of the link folder or smuggle in odd names pass.
bool is_safe_device_id(const std::string& id) {
  for (const char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '_' || c == '.';
    if (!ok) return false;
  }
  return true;
}

enum { CLEANUP_RETRIES = 3, CLEANUP_FIRST_WAIT = 2, CLEANUP_MAX_WAIT = 8 };

struct Free_Deleter {
  void operator()(char* p) const { std::free(p); }
};

}  // namespace

bool get_local_device(const std::string& id, std::string& device) {
  if (id.empty()) return false;
  if (!is_safe_device_id(id)) {
    ACE_ERROR((LM_ERROR,
               "Refused to look up the local device of an identifier holding characters "
               "other than letters, digits, '-', '_' and '.'.\n"));
    return false;
  }
  const snprintf_t<64, char> link("/dev/disk/by-id/virtio-%s", id.c_str());

  // Once the link resolved, its target is tested again on later passes: the kernel may
  // make the link before the device node is ready.
  std::unique_ptr<char, Free_Deleter> resolved;
  for (const unsigned int delay : exponential_backoff(2, 10, 60, false)) {
    if (resolved == nullptr) resolved.reset(::realpath(link.c_str(), nullptr));
    if (resolved != nullptr && *resolved != '\0' && is_block_device(resolved.get())) {
      device = resolved.get();
      return true;
    }
    yolt_sleep(delay);
  }
  ACE_ERROR((LM_ERROR, "Get local device for volume %s timeout.\n", id.c_str()));
  return false;
}

bool retry_cleanup(const std::function<bool()>& step) {
  for (const unsigned int delay :
       exponential_backoff(CLEANUP_FIRST_WAIT, CLEANUP_RETRIES, CLEANUP_MAX_WAIT, false)) {
    if (step()) return true;
    yolt_sleep(delay);
  }
  return step();
}

bool lock_instance(Instance_Lock& lock, const std::string& instance_id, const char* work) {
  switch (lock.try_lock(instance_id)) {
    case Instance_Lock::TAKEN:
      return true;
    case Instance_Lock::BUSY:
      ACE_ERROR((LM_ERROR,
                 "Skipped tavrocloud instance %s in this %s: another job on this host is "
                 "backing it up or restoring it.\n",
                 instance_id.c_str(), work));
      return false;
    case Instance_Lock::FAILED:
      break;
  }
  ACE_ERROR((LM_ERROR, "Failed to lock tavrocloud instance %s for its %s.\n",
             instance_id.c_str(), work));
  return false;
}

}  // namespace tavrocloud
