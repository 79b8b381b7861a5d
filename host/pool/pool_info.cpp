#include "pool/pool_info.h"

#include "pool/pool_registry.h"
#include "runtime/http_head.h"
#include "runtime/sleep.h"

#include <ace/Log_Msg.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace {

bool fail(std::string* error, const std::string& text) {
  ACE_DEBUG((LM_ERROR, "%s.\n", text.c_str()));
  if (error != nullptr) *error = text;
  return false;
}

bool directory_exists(const std::string& dir) {
  struct stat st;
  return !dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Encryption_Algorithm cipher_of(const std::string& text) {
  if (text.empty() || text == "none" || text == "0") return ENCRYPT_NONE;
  if (text == "aes-128-cbc" || text == "1") return ENCRYPT_AES_128_CBC;
  if (text == "aes-192-cbc" || text == "2") return ENCRYPT_AES_192_CBC;
  if (text == "aes-256-cbc" || text == "3") return ENCRYPT_AES_256_CBC;
  return ENCRYPT_UNKNOWN;
}

void fill_info(const Pool_Record& rec, const char* device_id, Pool_Info& info) {
  info = Pool_Info();
  info.uuid = rec.uuid;
  info.name = rec.name;
  info.host_uuid = rec.host_uuid;
  info.url = "file://" + rec.root();
  info.multidevice = rec.device_ids.size() > 1;
  if (device_id != nullptr && *device_id != '\0') {
    info.device_exists = std::find(rec.device_ids.begin(), rec.device_ids.end(),
                                   std::string(device_id)) != rec.device_ids.end();
  }
  for (const auto& a : rec.attrs) {
    if (a.first == "preferred_source_address") {
      info.preferred_source_address = a.second;
    } else if (a.first == "tenant_access_key") {
      info.tenant_access_key = a.second;
    } else if (a.first == "cipher") {
      info.cipher = cipher_of(a.second);
      info.server_side_encryption = info.cipher != ENCRYPT_NONE;
    } else if (a.first == "key") {
      info.key = a.second;
    } else if (a.first == "iv") {
      info.iv = a.second;
    } else if (a.first == "dedup_backend_type") {
      info.dedup_backend_type = a.second;
    } else {
      info.ext_attrs[a.first] = a.second;
    }
  }
}

// Waits up to `budget` seconds in growing steps for `dir` to appear.
bool wait_for_directory(const std::string& dir, size_t budget) {
  unsigned int step = 1;
  while (!directory_exists(dir)) {
    if (budget == 0) return false;
    const unsigned int wait = static_cast<unsigned int>(std::min<size_t>(step, budget));
    runtime_sleep(wait);
    budget -= wait;
    step = std::min(step * 2, 30u);
  }
  return true;
}

}  // namespace

bool get_pool_info(const char* pool_id, const char* device_id, Pool_Info& info,
                   bool allow_offline, size_t max_seconds_retry, std::string* error,
                   bool require_device, const char* host_uuid,
                   std::vector<std::string>* device_ids, bool verbose) {
  if (pool_id == nullptr || *pool_id == '\0') return fail(error, "No storage pool given");
  Pool_Registry registry;
  std::string why;
  if (!registry.load(&why)) return fail(error, why);
  const Pool_Record* rec = registry.find(pool_id);
  if (rec == nullptr) return fail(error, std::string("Storage pool ") + pool_id + " is not registered");
  if (host_uuid != nullptr && rec->host_uuid != host_uuid)
    return fail(error, "Storage pool " + rec->uuid + " belongs to another host");
  if (rec->root().empty()) return fail(error, "Storage pool " + rec->uuid + " has a bad url");
  Pool_Info found;
  fill_info(*rec, device_id, found);
  if (require_device && !found.device_exists)
    return fail(error, std::string("Device ") + device_id + " is not in storage pool " + rec->uuid);
  if (!allow_offline && !wait_for_directory(rec->root(), max_seconds_retry))
    return fail(error, "Directory " + rec->root() + " of storage pool " + rec->uuid + " is missing");
  if (device_ids != nullptr) *device_ids = rec->device_ids;
  if (verbose) {
    ACE_DEBUG((LM_DEBUG, "Storage pool %s (%s) at %s.\n", found.uuid.c_str(), found.name.c_str(),
               found.url.c_str()));
  }
  info = found;
  return true;
}

bool get_pool_info(JSON_RESTful_Client& /*client*/, const char* pool_uuid, const char* device_id,
                   Pool_Info& info, bool allow_offline, std::string* error,
                   size_t max_seconds_retry, int /*timeout_seconds*/, bool require_device,
                   const char* host_uuid, std::vector<std::string>* device_ids, bool verbose) {
  return get_pool_info(pool_uuid, device_id, info, allow_offline, max_seconds_retry, error,
                       require_device, host_uuid, device_ids, verbose);
}

bool set_options_by_pool(Client_IO_Base::Options& opts, const Pool_Info& pool) {
  if (pool.server_side_encryption || pool.cipher != ENCRYPT_NONE) {
    ACE_DEBUG((LM_ERROR, "Storage pool %s demands encryption, which this host cannot provide.\n",
               pool.uuid.c_str()));
    return false;
  }
  if (opts.encryption_algorithm != ENCRYPT_NONE) {
    ACE_DEBUG((LM_ERROR, "Storage pool %s cannot store encrypted data.\n", pool.uuid.c_str()));
    return false;
  }
  if (pool.s3_enabled) {
    ACE_DEBUG((LM_ERROR, "Storage pool %s is S3 storage, which this host cannot reach.\n",
               pool.uuid.c_str()));
    return false;
  }
  if (!pool.preferred_source_address.empty())
    opts.preferred_source_address = pool.preferred_source_address;
  for (const auto& n : pool.node_addrs) opts.node_addresses[n.first] = n.second;
  const char* access_key_header = http_head_string(HTTP_HEAD_X_ACCESS_KEY);
  for (const auto& a : pool.ext_attrs) {
    if (access_key_header != nullptr && a.first == access_key_header) continue;
    opts.extra_options.insert(a);
  }
  return true;
}
