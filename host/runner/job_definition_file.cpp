#include "runner/job_definition_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <vector>

#include <zstd.h>

#include "catalog/catalog_time.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "pool/pool_registry.h"
#include "runner/arg_parser.h"
#include "runtime/uuid.h"

namespace runner {

namespace {

// Definitions are hand-written files; anything larger is refused before it is read whole.
const size_t MAX_DEFINITION_BYTES = 4 << 20;
const size_t MAX_SCRIPT_BYTES = 64 << 10;
const unsigned SECONDS_PER_DAY = 24 * 60 * 60;
static_assert(SECONDS_PER_DAY == 86400, "a day");

bool read_text(const std::string& path, std::string& text, std::string& error) {
  std::FILE* const file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  char buf[8192];
  size_t n = 0;
  while (text.size() <= MAX_DEFINITION_BYTES && (n = std::fread(buf, 1, sizeof buf, file)) > 0)
    text.append(buf, n);
  const int read_errno = std::ferror(file) != 0 ? errno : 0;
  std::fclose(file);
  if (read_errno != 0) error = "cannot read " + path + ": " + std::strerror(read_errno);
  if (text.size() > MAX_DEFINITION_BYTES) error = path + " is larger than 4 MiB";
  return error.empty();
}

// Longer keys are not compared: an edit distance costs their length times the known's.
const size_t MAX_HINTED_BYTES = 64;

// A key as it reads whatever its case and whether its words are joined by '-', ' ' or '_'.
std::string folded(const std::string& key) {
  std::string out;
  for (const char c : key)
    out += c == '-' || c == ' ' ? '_'
                                : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The insertions, deletions, substitutions and swaps of neighbours that turn `a` into `b`.
size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) last[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    before.swap(last);
    last.swap(row);
  }
  return last[b.size()];
}

// Whether `typed` may be a misspelling of `meant` (both folded), `distance` apart: a slip
// or two, or the start of it with at most two letters of its own ("exclude" for
// "exclusion", "subnet" for "subnet_id").
bool is_close(const std::string& typed, const std::string& meant, size_t distance) {
  const size_t shorter = std::min(typed.size(), meant.size());
  if (distance <= (shorter >= 6 ? 2u : 1u)) return true;
  size_t prefix = 0;
  while (prefix < shorter && typed[prefix] == meant[prefix]) ++prefix;
  return prefix >= 4 && prefix + 2 >= typed.size();
}

// " (did you mean \"k\"?)" with the member of `known` that `word` is closest to, when one
// is close; empty otherwise.
std::string did_you_mean(const std::string& word, const std::set<std::string>& known) {
  if (word.size() > MAX_HINTED_BYTES) return "";
  const std::string typed = folded(word);
  std::string best;
  size_t best_distance = SIZE_MAX;
  for (const std::string& candidate : known) {
    const std::string meant = folded(candidate);
    const size_t distance = edit_distance(typed, meant);
    if (distance < best_distance && is_close(typed, meant, distance)) {
      best = candidate;
      best_distance = distance;
    }
  }
  return best.empty() ? best : " (did you mean \"" + best + "\"?)";
}

// Whether `v` is a whole number in min..max.
bool is_whole_in(const json_spirit::Value& v, int64_t min, uint64_t max) {
  if (v.type() != json_spirit::int_type) return false;
  if (v.is_uint64()) return v.get_uint64() <= max;
  const int64_t n = v.get_int64();
  return n >= min && (n < 0 || static_cast<uint64_t>(n) <= max);
}

// What one member of the source or options documents must hold, as the module reads it:
// the module takes a value of another type or out of range as absent and goes on with its
// default, so the job would quietly do something else.
struct Value_Rule {
  enum Kind {
    SHAPE,      // an object or list whose own members are checked apart
    FLAG,       // true or false
    TEXT,       // any string
    TEXTS,      // a list of strings
    WHOLE,      // a whole number in min..max
    CHOICE,     // one of `choices`
    TIME_POINT  // a catalog time point in one of its three forms
  };
  std::string key;
  Kind kind;
  bool required;
  int64_t min;
  uint64_t max;
  std::vector<std::string> choices;

  bool holds(const json_spirit::Value& v) const {
    switch (kind) {
      case FLAG:
        return v.type() == json_spirit::bool_type;
      case TEXT:
        return v.type() == json_spirit::str_type;
      case TEXTS:
        return v.type() == json_spirit::array_type &&
               std::all_of(v.get_array().begin(), v.get_array().end(),
                           [](const json_spirit::Value& item) {
                             return item.type() == json_spirit::str_type;
                           });
      case WHOLE:
        return is_whole_in(v, min, max);
      case CHOICE:
        return v.type() == json_spirit::str_type &&
               std::find(choices.begin(), choices.end(), v.get_str()) != choices.end();
      case TIME_POINT: {
        time_t ignored = 0;
        return v.type() == json_spirit::str_type && parse_catalog_timepoint(v.get_str(), ignored);
      }
      case SHAPE:
        break;
    }
    return true;
  }

  // What the value must be, to follow "must be ".
  std::string what() const {
    switch (kind) {
      case FLAG:
        return "true or false";
      case TEXT:
        return "a string";
      case TEXTS:
        return "a list of strings";
      case WHOLE:
        return "a whole number in " + std::to_string(min) + ".." + std::to_string(max);
      case CHOICE: {
        std::string out;
        for (size_t i = 0; i < choices.size(); ++i)
          out += std::string(i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + "\"" +
                 choices[i] + "\"";
        return out;
      }
      case TIME_POINT:
        return "a time point: YYYYMMDDhhmmss, YYYY-MM-DDThh:mm:ssZ or YYYY-MM-DD hh:mm:ss";
      case SHAPE:
        break;
    }
    return "";
  }
};
using Value_Rules = std::vector<Value_Rule>;

namespace rule {
Value_Rule shape(const char* key) { return {key, Value_Rule::SHAPE, false, 0, 0, {}}; }
Value_Rule flag(const char* key) { return {key, Value_Rule::FLAG, false, 0, 0, {}}; }
Value_Rule text(const char* key, bool required = false) {
  return {key, Value_Rule::TEXT, required, 0, 0, {}};
}
Value_Rule texts(const char* key) { return {key, Value_Rule::TEXTS, false, 0, 0, {}}; }
Value_Rule whole(const char* key, int64_t min, uint64_t max, bool required = false) {
  return {key, Value_Rule::WHOLE, required, min, max, {}};
}
Value_Rule choice(const char* key, std::vector<std::string> choices) {
  return {key, Value_Rule::CHOICE, false, 0, 0, std::move(choices)};
}
Value_Rule time_point(const char* key) { return {key, Value_Rule::TIME_POINT, true, 0, 0, {}}; }
}  // namespace rule

std::set<std::string> keys_of(const Value_Rules& rules) {
  std::set<std::string> keys;
  for (const Value_Rule& r : rules) keys.insert(r.key);
  return keys;
}

// Checked access to the members of one JSON object of the file; `where` prefixes the
// member names in messages ("scripts.", "rate_limits.dest[0].").
class Members {
 public:
  Members(const json_spirit::Object& obj, std::string where, std::string& error)
      : obj_(obj), where_(std::move(where)), error_(error) {}

  // False for the first member not among `known`, named with the known key it is
  // likely a misspelling of.
  bool only(const std::set<std::string>& known) {
    for (const auto& member : obj_)
      if (known.count(member.first) == 0)
        return fail("unknown key " + quoted(member.first) + did_you_mean(member.first, known));
    return true;
  }

  // False for the first member of `rules` that is missing though required, or holds what
  // its rule does not take; named with what it must be.
  bool hold(const Value_Rules& rules) {
    for (const Value_Rule& rule : rules) {
      const json_spirit::Value* v = get(rule.key, rule.required);
      if (failed()) return false;
      if (v != nullptr && !rule.holds(*v))
        return fail(quoted(rule.key) + " must be " + rule.what());
    }
    return true;
  }

  const json_spirit::Value* get(const std::string& key, bool required) {
    const auto it = obj_.find(key);
    if (it != obj_.end()) return &it->second;
    if (required) fail("missing \"" + where_ + key + "\"");
    return nullptr;
  }

  // Any string (not empty unless `may_be_empty`), as the module takes it; absent (and not
  // required) leaves `out` alone.
  bool string(const std::string& key, bool required, bool may_be_empty, std::string& out) {
    const json_spirit::Value* v = get(key, required);
    if (v == nullptr) return !required;
    if (v->type() != json_spirit::str_type || (!may_be_empty && v->get_str().empty()))
      return fail(quoted(key) +
                  (may_be_empty ? " must be a string" : " must be a non-empty string"));
    out = v->get_str();
    return true;
  }

  // A string of 1..max bytes without NUL; absent leaves `out` alone.
  bool text(const std::string& key, bool required, std::string& out, size_t max = 255) {
    const json_spirit::Value* v = get(key, required);
    if (v == nullptr) return !required;
    if (v->type() != json_spirit::str_type || v->get_str().empty() || v->get_str().size() > max ||
        v->get_str().find('\0') != std::string::npos)
      return fail(quoted(key) + " must be a non-empty string of at most " + std::to_string(max) +
                  " bytes");
    out = v->get_str();
    return true;
  }

  // A string that is_identifier() takes; absent (and not required) leaves `out` alone.
  bool identifier(const std::string& key, bool required, std::string& out) {
    const json_spirit::Value* v = get(key, required);
    if (v == nullptr) return !required;
    if (v->type() != json_spirit::str_type) return fail(quoted(key) + " must be a string");
    if (!is_identifier(v->get_str())) return fail(quoted(key) + " " + IDENTIFIER_RULE);
    out = v->get_str();
    return true;
  }

  // A whole number in 0..max; absent leaves `out` alone.
  bool number(const std::string& key, uint64_t max, uint64_t& out) {
    const json_spirit::Value* v = get(key, false);
    if (v == nullptr) return true;
    if (!is_whole_in(*v, 0, max))
      return fail(quoted(key) + " must be a whole number in 0.." + std::to_string(max));
    out = v->get_uint64();
    return true;
  }

  bool flag(const std::string& key, bool& out) {
    const json_spirit::Value* v = get(key, false);
    if (v == nullptr) return true;
    if (v->type() != json_spirit::bool_type) return fail(quoted(key) + " must be true or false");
    out = v->get_bool();
    return true;
  }

  // A JSON object, or null when absent (and not required) or on failure.
  const json_spirit::Object* object(const std::string& key, bool required) {
    const json_spirit::Value* v = get(key, required);
    if (v == nullptr) return nullptr;
    if (v->type() != json_spirit::obj_type) {
      fail(quoted(key) + " must be an object");
      return nullptr;
    }
    return &v->get_obj();
  }

  const json_spirit::Array* array(const std::string& key, bool required) {
    const json_spirit::Value* v = get(key, required);
    if (v == nullptr) return nullptr;
    if (v->type() != json_spirit::array_type) {
      fail(quoted(key) + " must be an array");
      return nullptr;
    }
    return &v->get_array();
  }

  bool fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  bool failed() const { return !error_.empty(); }
  std::string quoted(const std::string& key) const { return "\"" + place(key) + "\""; }
  // Where the member `key` is in the file: "source.entries[0].flavor".
  std::string place(const std::string& key) const { return where_ + key; }
  std::string& error() const { return error_; }

 private:
  const json_spirit::Object& obj_;
  const std::string where_;
  std::string& error_;
};

// Calls `check` with the members of each element of the array `key` (absent: none, unless
// `required`), placed as "key[i]."; every element must be an object. False at the first
// fault.
template <class Check>
bool each_object(Members& parent, const std::string& key, bool required, Check check) {
  const json_spirit::Array* list = parent.array(key, required);
  if (list == nullptr) return !parent.failed();
  for (size_t i = 0; i < list->size(); ++i) {
    const std::string where = parent.place(key) + "[" + std::to_string(i) + "]";
    if ((*list)[i].type() != json_spirit::obj_type)
      return parent.fail("\"" + where + "\" must be an object");
    Members element((*list)[i].get_obj(), where + ".", parent.error());
    if (!check(element)) return false;
  }
  return true;
}

// Calls `check` with the members of the object `key`, placed as "key.", when it is there.
template <class Check>
bool in_object(Members& parent, const std::string& key, Check check) {
  const json_spirit::Object* obj = parent.object(key, false);
  if (obj == nullptr) return !parent.failed();
  Members members(*obj, parent.place(key) + ".", parent.error());
  return check(members);
}

bool read_rate_list(Members& parent, const std::string& key, std::vector<Rate_Control_Entry>& out) {
  return each_object(parent, key, false, [&out](Members& entry) {
    uint64_t start = 0, end = 0, rate = 0;
    if (!entry.only({"start_time", "end_time", "max_bytes_per_second"}) ||
        !entry.number("start_time", SECONDS_PER_DAY, start) ||
        !entry.number("end_time", SECONDS_PER_DAY, end) ||
        !entry.number("max_bytes_per_second", UINT64_MAX >> 1, rate))
      return false;
    Rate_Control_Entry limit;
    limit.start_time = static_cast<unsigned>(start);
    limit.end_time = static_cast<unsigned>(end);
    limit.max_bytes_per_second = static_cast<size_t>(rate);
    out.push_back(limit);
    return true;
  });
}

bool read_rate_limits(Members& top, Job_Definition& def, std::string& error) {
  const json_spirit::Object* obj = top.object("rate_limits", false);
  if (obj == nullptr) return !top.failed();
  Members limits(*obj, "rate_limits.", error);
  Rate_Limits out;
  if (!limits.only({Rate_Limits::dest_key, Rate_Limits::src_key}) ||
      !read_rate_list(limits, Rate_Limits::dest_key, out.dest_rate_limits) ||
      !read_rate_list(limits, Rate_Limits::src_key, out.src_rate_limits))
    return false;
  def.set_rate_limits(out);
  return true;
}

bool read_scripts(Members& top, Job_Definition& def, std::string& error) {
  const json_spirit::Object* obj = top.object("scripts", false);
  if (obj == nullptr) return !top.failed();
  Members scripts(*obj, "scripts.", error);
  std::string pre_condition, pre_action, post_action;
  bool ignore_pre = false, ignore_post = false, post_always = false;
  if (!scripts.only({"precondition", "pre_action", "post_action", "ignore_pre_action_failure",
                     "ignore_post_action_failure", "run_post_action_always"}) ||
      !scripts.text("precondition", false, pre_condition, MAX_SCRIPT_BYTES) ||
      !scripts.text("pre_action", false, pre_action, MAX_SCRIPT_BYTES) ||
      !scripts.text("post_action", false, post_action, MAX_SCRIPT_BYTES) ||
      !scripts.flag("ignore_pre_action_failure", ignore_pre) ||
      !scripts.flag("ignore_post_action_failure", ignore_post) ||
      !scripts.flag("run_post_action_always", post_always))
    return false;
  def.set_precondition(pre_condition);
  def.set_pre_action(pre_action);
  def.set_post_action(post_action);
  def.set_ignore_pre_action_failure(ignore_pre);
  def.set_ignore_post_action_failure(ignore_post);
  def.set_run_post_action_always(post_always);
  return true;
}

bool read_numbers(Members& top, Job_Definition& def) {
  uint64_t max_seconds = 0, count = 0, interval = 0, buffer = 0, rate = 0;
  const uint64_t MAX = UINT32_MAX;
  if (!top.number("max_seconds_retry", MAX, max_seconds) || !top.number("retry_count", MAX, count) ||
      !top.number("retry_interval", MAX, interval) ||
      !top.number("resumption_buffer_size", MAX, buffer) ||
      !top.number("max_rate_limit", UINT64_MAX >> 1, rate))
    return false;
  def.set_max_seconds_retry(max_seconds);
  def.set_retry_count(count);
  def.set_retry_interval(interval);
  def.set_resumption_buffer_size(buffer);
  def.set_max_rate_limit(rate);
  return true;
}

bool read_kind(Members& top, Job_Kind kind, const std::string& path, Job_Definition& def,
               std::string& error) {
  std::string type, subtype;
  if (!top.text("type", true, type)) return false;
  if (type != "backup" && type != "restore") return top.fail("\"type\" must be \"backup\" or \"restore\"");
  const bool backup = type == "backup";
  if (backup != (kind == Job_Kind::BACKUP)) {
    error = path + " defines a " + type + " job; run 'quillon3 " + type + " " + path + "'";
    return false;
  }
  subtype = backup ? "full" : "vm";
  if (!top.text("subtype", false, subtype)) return false;
  if (backup && subtype != "full") return top.fail("the \"subtype\" of a backup must be \"full\"");
  if (!backup && subtype != "vm" && subtype != "disk")
    return top.fail("the \"subtype\" of a restore must be \"vm\" or \"disk\"");
  def.set_type(backup ? JOB_DEFINITION_BACKUP : JOB_DEFINITION_RESTORE);
  def.set_subtype(backup ? JOB_DEFINITION_SUBTYPE_FULL
                         : subtype == "vm" ? JOB_DEFINITION_SUBTYPE_VM : JOB_DEFINITION_SUBTYPE_DISK);
  return true;
}

bool read_identity(Members& top, Job_Definition& def) {
  std::string id, uid, name;
  if (!top.identifier("id", true, id)) return false;
  unsigned char bytes[16] = {};
  if (!top.text("uid", false, uid)) return false;
  if (!uid.empty() && !uuid_string_to_binary(uid.c_str(), bytes))
    return top.fail("\"uid\" must be a UUID (xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx)");
  if (uid.empty()) {
    if (uuid_binary(bytes) != 0) return top.fail("cannot make a uid: no random source");
    uid = uuid_binary_to_string(bytes);
  }
  name = id;
  if (!top.text("name", false, name)) return false;
  if (!is_plain_text(name)) return top.fail("\"name\" must not hold control characters");
  def.set_id(id);
  def.set_uid(uid);
  def.set_name(name);
  return true;
}

// The account and the pool must be registered in this host home.
bool read_account_and_pool(Members& top, Job_Definition& def, const Pool_Registry& pools,
                           std::string& error) {
  std::string host_id, pool;
  // The account's uuid names the folder of the job's images in the pool.
  if (!top.identifier("host_id", true, host_id) || !top.text("target_pool", true, pool))
    return false;
  json_spirit::Object accounts;
  std::string why;
  if (!tavrocloud_accounts::load_accounts(accounts, &why)) {
    error = "cannot read the cloud accounts: " + why;
    return false;
  }
  if (accounts.count(host_id) == 0)
    return top.fail("no such account: " + host_id + " (see 'quillon3 account list')");
  const Pool_Record* record = pools.find(pool);
  if (record == nullptr) return top.fail("no such pool: " + pool + " (see 'quillon3 pool list')");
  def.set_host_id(host_id);
  def.set_target(Job_Target(record->uuid, record->name, ""));
  return true;
}

// The members the module reads in the source and options documents, level by level; any
// other key would be ignored by it and the job would quietly do something else.
const Value_Rules BACKUP_SOURCE_RULES = {rule::text("id"), rule::text("name"),
                                         rule::shape("entries")};
const std::set<std::string> BACKUP_ENTRY_KEYS = {"id", "name", "type", "volumes"};
const std::set<std::string> BACKUP_VOLUME_KEYS = {"vol_id"};
const std::set<std::string> ENTRY_TYPES = {"Cloud", "Cluster", "Node", "Storage", "Instance"};
// The module runs no task at a parallelism below 1; it caps larger ones itself.
const Value_Rules BACKUP_OPTION_RULES = {
    rule::text("compression"),
    rule::whole("compression_level", ZSTD_minCLevel(), static_cast<uint64_t>(ZSTD_maxCLevel())),
    rule::whole("parallel_vms", 1, INT_MAX),
    rule::whole("parallel_vms_per_host", 1, INT_MAX),
    rule::whole("parallel_disks_per_vm", 1, INT_MAX),
    rule::whole("storage_reserved_bytes", 0, UINT64_MAX),
    rule::whole("storage_reserved_percent", 0, 100),
    rule::flag("restart_vm"),
    rule::flag("reserve_snapshot"),
    rule::texts("exclusion")};
const Value_Rules RESTORE_SOURCE_RULES = {rule::text("id"), rule::text("name"),
                                          rule::shape("pool_uuid"), rule::shape("entries")};
const Value_Rules RESTORE_ENTRY_RULES = {
    rule::text("catalog_uuid", true),     rule::time_point("backup_start_time"),
    rule::text("src_instance_id", true),  rule::text("src_instance_name", true),
    rule::text("owner_id"),               rule::text("target_instance_name"),
    rule::text("target_instance_id"),     rule::shape("flavor"),
    rule::text("target_cluster_id"),      rule::text("target_cluster_name"),
    rule::text("target_node_id"),         rule::text("target_node_name"),
    rule::shape("nic"),                   rule::shape("volumes")};
const Value_Rules FLAVOR_RULES = {rule::text("type", true), rule::text("display_name", true),
                                  rule::whole("cpu", 0, INT32_MAX, true),
                                  rule::whole("ram", 0, INT32_MAX, true)};
const std::vector<std::string> ADDRESS_CHOICES = {"auto", "reserve", "specify"};
const Value_Rules NIC_RULES = {rule::text("vpc_id", true),
                               rule::text("vpc_name", true),
                               rule::text("subnet_id", true),
                               rule::text("subnet_name", true),
                               rule::choice("type", {"main", "extend"}),
                               rule::text("mac_address"),
                               rule::text("ip_address"),
                               rule::choice("ip_op", ADDRESS_CHOICES),
                               rule::choice("mac_op", ADDRESS_CHOICES),
                               rule::shape("security_groups")};
const Value_Rules SECURITY_GROUP_RULES = {rule::text("security_group_id", true),
                                          rule::text("security_group_name", true)};
// The module refuses a size beyond INT_MAX GiB, but only once the restore has started.
const Value_Rules RESTORE_VOLUME_RULES = {
    rule::text("id", true),           rule::text("name", true),
    rule::text("storage_id", true),   rule::text("storage_name"),
    rule::text("storage_type", true), rule::whole("size", 1, INT_MAX, true)};
const Value_Rules RESTORE_OPTION_RULES = {
    rule::whole("parallel_vms", 1, INT_MAX), rule::whole("parallel_vms_per_host", 1, INT_MAX),
    rule::whole("parallel_disks_per_vm", 1, INT_MAX), rule::flag("start_vm"),
    rule::flag("original_restore"), rule::text("duplicate_vm")};

bool only_known(Members& members, const Value_Rules& rules) {
  return members.only(keys_of(rules));
}
bool holding(Members& members, const Value_Rules& rules) { return members.hold(rules); }

// A backup entry names what it selects by an id, a name (which may be empty) and one of
// the entry types, spelt exactly; an "Instance" entry may list volumes by "vol_id".
bool check_backup_entry(Members& entry) {
  std::string id, name;
  if (!entry.only(BACKUP_ENTRY_KEYS) || !entry.string("id", true, false, id) ||
      !entry.string("name", true, true, name))
    return false;
  const std::string choices = "\"Cloud\", \"Cluster\", \"Node\", \"Storage\" or \"Instance\"";
  const json_spirit::Value* type = entry.get("type", false);
  if (type == nullptr) return entry.fail("missing " + entry.quoted("type") + " (" + choices + ")");
  const bool text = type->type() == json_spirit::str_type;
  if (!text || ENTRY_TYPES.count(type->get_str()) == 0)
    return entry.fail(entry.quoted("type") + " must be " + choices +
                      (text ? did_you_mean(type->get_str(), ENTRY_TYPES) : ""));
  return each_object(entry, "volumes", false, [](Members& volume) {
    std::string vol_id;
    return volume.only(BACKUP_VOLUME_KEYS) && volume.string("vol_id", true, false, vol_id);
  });
}

// `key` names a non-empty string; `why` says what a missing one is needed for.
bool needs_text(Members& members, const std::string& key, const std::string& why) {
  std::string value;
  if (members.get(key, false) == nullptr)
    return members.fail("missing " + members.quoted(key) + " (" + why + ")");
  return members.string(key, true, false, value);
}

// Calls `check` with the members of a restore entry and of each object in it, each with
// its rules; false at the first fault.
template <class Check>
bool each_restore_part(Members& entry, Check check) {
  return check(entry, RESTORE_ENTRY_RULES) &&
         in_object(entry, "flavor",
                   [&check](Members& flavor) { return check(flavor, FLAVOR_RULES); }) &&
         each_object(entry, "nic", false,
                     [&check](Members& nic) {
                       return check(nic, NIC_RULES) &&
                              each_object(nic, "security_groups", false, [&check](Members& group) {
                                return check(group, SECURITY_GROUP_RULES);
                              });
                     }) &&
         each_object(entry, "volumes", false, [&check](Members& volume) {
           return check(volume, RESTORE_VOLUME_RULES);
         });
}

// A restore entry and the objects in it hold only the keys the module reads, and values
// it takes. One that makes a new instance ("vm") must name its type and, unless it names
// an existing instance whose cluster is taken, its cluster: the cloud refuses their
// absence only once the volumes were made (and, for the type, written).
bool check_restore_entry(Members& entry, bool new_instance) {
  if (!each_restore_part(entry, only_known)) return false;
  if (!new_instance) return each_restore_part(entry, holding);
  const json_spirit::Object* flavor = entry.object("flavor", false);
  if (flavor == nullptr)
    return entry.fail("missing " + entry.quoted("flavor") +
                      " (the type of the instance a \"vm\" restore makes)");
  Members type(*flavor, entry.place("flavor") + ".", entry.error());
  if (!needs_text(type, "type", "the type of the instance a \"vm\" restore makes")) return false;
  std::string target;
  if (!entry.string("target_instance_id", false, true, target)) return false;
  if (target.empty() && !needs_text(entry, "target_cluster_id",
                                    "the cluster a \"vm\" restore makes the instance in"))
    return false;
  return each_restore_part(entry, holding);
}

// The documents the module parses: their keys, the shape around them and the type and
// range of their values are checked here so that a broken file is reported in one line
// before anything runs; their meaning is the module's.
bool read_documents(Members& top, Job_Kind kind, const Pool_Registry& pools,
                    Definition_File& out, std::string& error) {
  const bool backup = kind == Job_Kind::BACKUP;
  const json_spirit::Object* source = top.object("source", true);
  if (source == nullptr) return false;
  Members src(*source, "source.", error);
  const json_spirit::Array* entries = src.array("entries", true);
  if (entries == nullptr) return false;
  if (entries->empty()) return src.fail("\"source.entries\" must not be empty");
  std::string pool_uuid;
  if (!backup && !src.text("pool_uuid", false, pool_uuid)) return false;
  if (!pool_uuid.empty() && pools.find(pool_uuid) == nullptr)
    return src.fail("no such pool: " + pool_uuid + " (\"source.pool_uuid\")");
  const bool new_instance = out.def->subtype() == JOB_DEFINITION_SUBTYPE_VM;
  const Value_Rules& source_rules = backup ? BACKUP_SOURCE_RULES : RESTORE_SOURCE_RULES;
  if (!only_known(src, source_rules) || !src.hold(source_rules) ||
      !each_object(src, "entries", true, [backup, new_instance](Members& entry) {
        return backup ? check_backup_entry(entry) : check_restore_entry(entry, new_instance);
      }))
    return false;
  const json_spirit::Value* options = top.get("options", false);
  if (options != nullptr && options->type() != json_spirit::obj_type)
    return top.fail("\"options\" must be an object");
  if (options != nullptr) {
    Members opts(options->get_obj(), "options.", error);
    const Value_Rules& option_rules = backup ? BACKUP_OPTION_RULES : RESTORE_OPTION_RULES;
    if (!only_known(opts, option_rules) || !opts.hold(option_rules)) return false;
  }
  out.source = JSON_Dump(json_spirit::Value(*source));
  out.options = options != nullptr ? JSON_Dump(*options) : std::string("{}");
  return true;
}

}  // namespace

bool load_definition_file(const std::string& path, Job_Kind kind, Definition_File& out,
                          std::string& error) {
  std::string text, why;
  if (!read_text(path, text, error)) return false;
  json_spirit::Value value;
  if (!JSON_Load(text, value, &why)) {
    error = path + " is not JSON: " + why;
    return false;
  }
  if (value.type() != json_spirit::obj_type) {
    error = path + ": the definition must be a JSON object";
    return false;
  }
  Pool_Registry pools;
  if (!pools.load(&why)) {
    error = "cannot read the pool registry: " + why;
    return false;
  }
  out.kind = kind;
  out.def = Job_Definition_var(new Job_Definition);
  Members top(value.get_obj(), "", why);
  const bool ok =
      top.only({"type", "subtype", "id", "uid", "name", "host_id", "target_pool",
                "max_seconds_retry", "retry_count", "retry_interval", "resumption_buffer_size",
                "max_rate_limit", "rate_limits", "scripts", "source", "options"}) &&
      read_kind(top, kind, path, *out.def, error) && read_identity(top, *out.def) &&
      read_numbers(top, *out.def) && read_rate_limits(top, *out.def, why) &&
      read_scripts(top, *out.def, why) && read_account_and_pool(top, *out.def, pools, error) &&
      read_documents(top, kind, pools, out, why);
  if (!ok && error.empty()) error = path + ": " + why;
  return ok;
}

}  // namespace runner
