// The backup agent's own place in the cloud: finding the instance this machine is, and
// attaching volumes to an instance under a device name no other of its volumes uses.
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include "runtime/network_interface.h"
#include "runtime/read_line.h"
#include "tavrocloud/common/tavrocloud_restful_client_waits.h"
#include "yolt/lock_file.h"
#include "yolt/sleep.h"

#include <ace/Guard_T.h>
#include <ace/Log_Msg.h>

#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <mutex>
#include <set>

namespace tavrocloud {
namespace {

const char DEFAULT_PRODUCT_UUID_PATH[] = "/sys/class/dmi/id/product_uuid";

// Seconds between two tries at an attachment lock file that another process holds: its
// holder keeps it for a whole attachment, which takes seconds.
constexpr unsigned int ATTACHMENT_LOCK_POLL = 1;

std::mutex& product_uuid_path_mutex() {
  static std::mutex m;
  return m;
}

std::string& product_uuid_path_value() {
  static std::string path = DEFAULT_PRODUCT_UUID_PATH;
  return path;
}

std::string product_uuid_path() {
  std::lock_guard<std::mutex> lock(product_uuid_path_mutex());
  return product_uuid_path_value();
}

std::string trimmed(const std::string& text) {
  const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  const auto first = std::find_if_not(text.begin(), text.end(), space);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), space).base();
  return first < last ? std::string(first, last) : std::string();
}

bool same_mac(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The MAC text of this machine's first non-loopback IPv4 interface; empty when none.
std::string agent_mac_text() {
  Network_Interface_Enumerator interfaces;
  while (interfaces.next()) {
    const ::Network_Interface& nif = interfaces.value();
    if (nif.address.is_loopback() || nif.address.get_type() != AF_INET) continue;
    return ACE_MAC_Addr_String(nif.mac.data(), ':').c_str();
  }
  return std::string();
}

// Takes `lock` on the attachments to `instance_id`, waiting while another process of this
// host holds it and `stopped` (when given) says no. False, logged, when stopped or when
// the lock file cannot be had.
bool lock_attachments(yolt::Lock_File& lock, const std::string& instance_id,
                      const std::function<bool()>& stopped) {
  for (;;) {
    switch (lock.try_lock(instance_id)) {
      case yolt::Lock_File::TAKEN:
        return true;
      case yolt::Lock_File::FAILED:
        ACE_ERROR((LM_ERROR,
                   "Failed to lock the attachments to instance %s, which keeps other jobs of "
                   "this host from choosing the same device name; nothing attached.\n",
                   instance_id.c_str()));
        return false;
      case yolt::Lock_File::BUSY:
        break;
    }
    if (stopped && stopped()) {
      ACE_ERROR((LM_ERROR,
                 "Stopped while another job of this host was attaching a volume to instance "
                 "%s; nothing attached.\n",
                 instance_id.c_str()));
      return false;
    }
    yolt_sleep(ATTACHMENT_LOCK_POLL);
  }
}

}  // namespace

std::string RESTful_Client::set_product_uuid_path(const std::string& path) {
  std::lock_guard<std::mutex> lock(product_uuid_path_mutex());
  std::string previous = product_uuid_path_value();
  product_uuid_path_value() = path.empty() ? DEFAULT_PRODUCT_UUID_PATH : path;
  return previous;
}

bool RESTful_Client::agent_instance_id(std::string& agent_instance_id) {
  // A virtual machine's product identifier ends in its instance id. The line is trimmed
  // first, so white space around it never takes the place of identifier characters.
  std::string line;
  read_line(product_uuid_path().c_str(), line, true);
  line = trimmed(line);
  if (line.size() >= MIN_PRODUCT_UUID_LENGTH) {
    std::string id = line.substr(line.size() - MIN_PRODUCT_UUID_LENGTH);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
    agent_instance_id = "i-" + id;
    return true;
  }

  const std::string mac = agent_mac_text();
  Instances instances;
  if (!mac.empty() && query_instances(instances)) {
    for (const Instance& instance : instances) {
      if (!same_mac(instance.mac_address, mac)) continue;
      agent_instance_id = instance.id;
      ACE_DEBUG((LM_DEBUG, "Get instance %s by mac address %s succeeded.\n", instance.id.c_str(),
                 instance.mac_address.c_str()));
      return true;
    }
  }
  ACE_DEBUG((LM_DEBUG, "Failed to match agent instance by mac address %s.\n", mac.c_str()));
  return false;
}

bool RESTful_Client::with_attachment_lock(const std::string& instance_id,
                                          const std::function<bool()>& stopped,
                                          const std::function<bool()>& step) {
  // One step for the whole process and, through the lock file, for every process of
  // this host (each job runs in its own). The file is let go before the mutex.
  ACE_Guard<ACE_Thread_Mutex> guard(mutex_);
  if (!guard.locked()) return false;
  yolt::Lock_File host_lock(attachment_lock_kind());
  if (!lock_attachments(host_lock, instance_id, stopped)) return false;
  return step();
}

bool RESTful_Client::attach_volume_to_agent(const std::string& instance_id,
                                            const std::string& volume_id, std::string& device,
                                            bool* attach_accepted,
                                            const std::function<bool()>& stopped) {
  if (attach_accepted != nullptr) *attach_accepted = false;
  // Listing the devices, choosing the next name, attaching and waiting are one step, so
  // two attachments never choose the same name.
  return with_attachment_lock(instance_id, stopped, [&] {
    Volumes volumes;
    if (!query_instance_volumes(instance_id, volumes)) return false;
    std::set<std::string> devices;
    for (const Volume& volume : volumes) devices.insert(volume.volume_attachment.device);
    if (!build_new_device(devices, device)) return false;

    if (!attach_volume(instance_id, device, volume_id)) return false;
    if (attach_accepted != nullptr) *attach_accepted = true;
    return wait_volume_attached(instance_id, volume_id);
  });
}

bool RESTful_Client::wait_volume_attached(const std::string& instance_id,
                                          const std::string& volume_id) {
  Wait_Deadline deadline(WAIT_CHANGE_TIMEOUT);
  Volume volume;
  for (const unsigned int delay : poll_backoff()) {
    if (!query_volume(volume_id, volume)) return false;
    const Volume_Attachment& attachment = volume.volume_attachment;
    if (attachment.status == ATTACHED) {
      if (attachment.instance_id == instance_id) return true;
      ACE_ERROR((LM_ERROR, "Volume %s is attached to instance %s, not to %s.\n", volume_id.c_str(),
                 attachment.instance_id.c_str(), instance_id.c_str()));
      return false;
    }
    if (attachment.status != ATTACHING && volume.status != IN_USE) {
      ACE_ERROR((LM_ERROR, "Unexpected volume %s status %d, attachment status %d.\n",
                 volume_id.c_str(), static_cast<int>(volume.status),
                 static_cast<int>(attachment.status)));
      return false;
    }
    if (!deadline.sleep(delay)) break;
  }
  ACE_ERROR((LM_ERROR, "Wait attach volume %s be target timeout.\n", volume_id.c_str()));
  return false;
}

}  // namespace tavrocloud
