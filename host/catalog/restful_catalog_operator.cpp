#include "catalog/restful_catalog_operator.h"

#include "backup_set/common/backup_set.h"
#include "catalog/catalog_store.h"
#include "catalog/catalog_time.h"
#include "json/json_load.h"
#include "runtime/host_home.h"
#include "runtime/uuid.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <utility>

namespace {

constexpr int DEFAULT_BUSY_SECONDS = 30;

// FNV-1a over 128 bits: a fixed, well-spread hash that needs no library.
unsigned __int128 fnv1a_128(const std::string& data, unsigned __int128 h) {
  const unsigned __int128 prime =
      (static_cast<unsigned __int128>(0x0000000001000000ULL) << 64) | 0x000000000000013BULL;
  for (unsigned char c : data) {
    h ^= c;
    h *= prime;
  }
  return h;
}

// The busy wait in milliseconds, within int.
int busy_ms_for(int timeout_seconds, size_t max_seconds_retry) {
  const long long secs = (timeout_seconds > 0 ? timeout_seconds : DEFAULT_BUSY_SECONDS) +
                         static_cast<long long>(std::min<size_t>(max_seconds_retry, 86400));
  return static_cast<int>(std::min<long long>(secs * 1000, INT_MAX));
}

const std::string* key_of(const std::map<std::string, std::string>& keys, const char* name) {
  auto it = keys.find(name);
  return it == keys.end() || it->second.empty() ? nullptr : &it->second;
}

// The committed JSON text of a stored set as an object; false when it does not read.
bool body_object(const catalog::Stored_Set& s, json_spirit::Object& out) {
  json_spirit::Value v;
  if (!json_spirit::JSON_Load(s.body, v) || v.type() != json_spirit::obj_type) {
    ACE_DEBUG((LM_ERROR, "Catalog entry of backup set %s is damaged.\n", s.uuid.c_str()));
    return false;
  }
  out = std::move(v.get_obj());
  return true;
}

}  // namespace

bool compute_minor_resource_id(const std::string& resource_uuid, const std::string& instance_id,
                               std::string& out) {
  out.clear();
  if (resource_uuid.empty() || instance_id.empty()) return false;
  const unsigned __int128 basis =
      (static_cast<unsigned __int128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
  // The NUL keeps ("ab", "c") and ("a", "bc") apart.
  unsigned __int128 h = fnv1a_128(resource_uuid, basis);
  h = fnv1a_128(std::string(1, '\0'), h);
  h = fnv1a_128(instance_id, h);
  unsigned char bytes[16];
  for (int i = 15; i >= 0; --i) {
    bytes[i] = static_cast<unsigned char>(h & 0xff);
    h >>= 8;
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x80);  // version 8
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // RFC variant
  out = uuid_binary_to_string(bytes);
  return true;
}

RESTful_Catalog_Operator::RESTful_Catalog_Operator(const std::string& host, uint16_t port,
                                                   bool ssl, const std::string& /*access_key*/,
                                                   int timeout_seconds,
                                                   size_t max_seconds_retry)
    : endpoint_((ssl ? "https://" : "http://") + host + ":" + std::to_string(port)),
      busy_ms_(busy_ms_for(timeout_seconds, max_seconds_retry)) {}

RESTful_Catalog_Operator::~RESTful_Catalog_Operator() = default;

std::string RESTful_Catalog_Operator::database_path() { return host_home() + "/catalog.db"; }

catalog::Catalog_Store* RESTful_Catalog_Operator::store() {
  if (store_) return store_.get();
  std::string error;
  const std::string path = database_path();
  store_ = catalog::Catalog_Store::open(path, busy_ms_, error);
  if (!store_) {
    ACE_DEBUG((LM_ERROR, "Failed to open catalog %s: %s.\n", path.c_str(), error.c_str()));
  }
  return store_.get();
}

bool RESTful_Catalog_Operator::commit(const Backup_Set& set, bool durable) {
  catalog::Stored_Set row;
  row.module = set.module();
  row.uuid = set.uuid;
  row.resource_uuid = set.resource_uuid;
  row.minor_resource_id = set.minor_resource_id;
  if (row.module.empty() || row.uuid.empty() || row.resource_uuid.empty() ||
      row.minor_resource_id.empty()) {
    ACE_DEBUG((LM_ERROR,
               "Refused to commit backup set '%s': module '%s', resource uuid '%s' and minor "
               "resource id '%s' must all be set.\n",
               row.uuid.c_str(), row.module.c_str(), row.resource_uuid.c_str(),
               row.minor_resource_id.c_str()));
    return false;
  }
  row.timepoint = set.timepoint();
  if (row.timepoint.empty()) {
    ACE_DEBUG((LM_ERROR, "Refused to commit backup set %s: its start time %s is out of range.\n",
               row.uuid.c_str(), std::to_string(set.start_time).c_str()));
    return false;
  }
  row.body = set.to_json();
  if (row.body.empty()) {
    ACE_DEBUG((LM_ERROR, "Failed to write backup set %s as JSON.\n", row.uuid.c_str()));
    return false;
  }
  row.start_time = set.start_time;
  row.end_time = set.end_time;
  row.name = set.name;
  row.type = set.type;
  row.committed_at = std::time(nullptr);

  std::lock_guard<std::mutex> lock(mutex_);
  catalog::Catalog_Store* s = store();
  if (s == nullptr) return false;
  std::string error;
  if (!s->put(row, durable, error)) {
    ACE_DEBUG((LM_ERROR, "Failed to commit backup set %s to the catalog of %s: %s.\n",
               row.uuid.c_str(), endpoint_.c_str(), error.c_str()));
    return false;
  }
  return true;
}

bool RESTful_Catalog_Operator::get_view(const std::string& module, const std::string& view,
                                        const std::map<std::string, std::string>& keys,
                                        json_spirit::Value& out) {
  if (view != "restore") {
    ACE_DEBUG((LM_ERROR, "Unknown catalog view %s of module %s.\n", view.c_str(),
               module.c_str()));
    return false;
  }
  const std::string* resource_uuid = key_of(keys, "resource_uuid");
  const std::string* instance_id = key_of(keys, "instance_id");
  const std::string* timepoint = key_of(keys, "timepoint");
  if (resource_uuid == nullptr || instance_id == nullptr || timepoint == nullptr) {
    ACE_DEBUG((LM_ERROR,
               "Catalog view restore needs resource_uuid, instance_id and timepoint.\n"));
    return false;
  }
  time_t when = 0;
  if (!parse_catalog_timepoint(*timepoint, when)) {
    ACE_DEBUG((LM_ERROR,
               "Invalid catalog time point '%s' (expected UTC YYYYMMDDhhmmss, "
               "YYYY-MM-DDThh:mm:ssZ or YYYY-MM-DD hh:mm:ss).\n",
               timepoint->c_str()));
    return false;
  }
  std::string minor;
  compute_minor_resource_id(*resource_uuid, *instance_id, minor);

  std::vector<catalog::Stored_Set> rows;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    catalog::Catalog_Store* s = store();
    if (s == nullptr) return false;
    std::string error;
    if (!s->find(module, *resource_uuid, minor, catalog_timepoint(when), rows, error)) {
      ACE_DEBUG((LM_ERROR, "Failed to query the catalog of %s: %s.\n", endpoint_.c_str(),
                 error.c_str()));
      return false;
    }
  }
  json_spirit::Array sets;
  sets.reserve(rows.size());
  for (const catalog::Stored_Set& r : rows) {
    json_spirit::Object obj;
    if (!body_object(r, obj)) return false;
    sets.emplace_back(std::move(obj));
  }
  out = std::move(sets);
  return true;
}

bool RESTful_Catalog_Operator::list(const std::string& module, std::vector<Catalog_Entry>& out,
                                    std::vector<std::string>* damaged) {
  std::vector<catalog::Stored_Set> rows;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    catalog::Catalog_Store* s = store();
    if (s == nullptr) return false;
    std::string error;
    if (!s->all(module, rows, error)) {
      ACE_DEBUG((LM_ERROR, "Failed to list the catalog: %s.\n", error.c_str()));
      return false;
    }
  }
  std::vector<Catalog_Entry> entries;
  std::vector<std::string> bad;
  entries.reserve(rows.size());
  for (catalog::Stored_Set& r : rows) {
    Catalog_Entry e;
    if (!body_object(r, e.set)) {
      bad.push_back(r.uuid);
      continue;
    }
    e.module = std::move(r.module);
    e.uuid = std::move(r.uuid);
    e.resource_uuid = std::move(r.resource_uuid);
    e.minor_resource_id = std::move(r.minor_resource_id);
    e.timepoint = std::move(r.timepoint);
    e.name = std::move(r.name);
    e.type = std::move(r.type);
    e.start_time = static_cast<time_t>(r.start_time);
    e.end_time = static_cast<time_t>(r.end_time);
    e.committed_at = static_cast<time_t>(r.committed_at);
    entries.push_back(std::move(e));
  }
  out = std::move(entries);
  if (damaged != nullptr) damaged->insert(damaged->end(), bad.begin(), bad.end());
  return bad.empty();
}
