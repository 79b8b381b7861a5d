#include "runner/job_definition_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

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

// Checked access to the members of one JSON object of the file; `where` prefixes the
// member names in messages ("scripts.", "rate_limits.dest[0].").
class Members {
 public:
  Members(const json_spirit::Object& obj, std::string where, std::string& error)
      : obj_(obj), where_(std::move(where)), error_(error) {}

  // False for the first member not among `known`.
  bool only(const std::set<std::string>& known) {
    for (const auto& member : obj_)
      if (known.count(member.first) == 0) return fail("unknown key \"" + where_ + member.first + "\"");
    return true;
  }

  const json_spirit::Value* get(const std::string& key, bool required) {
    const auto it = obj_.find(key);
    if (it != obj_.end()) return &it->second;
    if (required) fail("missing \"" + where_ + key + "\"");
    return nullptr;
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
    if (v->type() != json_spirit::int_type || (!v->is_uint64() && v->get_int64() < 0) ||
        v->get_uint64() > max)
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
  std::string quoted(const std::string& key) const { return "\"" + where_ + key + "\""; }

 private:
  const json_spirit::Object& obj_;
  const std::string where_;
  std::string& error_;
};

bool read_rate_list(Members& parent, const std::string& key, std::vector<Rate_Control_Entry>& out,
                    std::string& error) {
  const json_spirit::Array* list = parent.array(key, false);
  if (list == nullptr) return !parent.failed();
  for (size_t i = 0; i < list->size(); ++i) {
    const std::string where = "rate_limits." + key + "[" + std::to_string(i) + "]";
    if ((*list)[i].type() != json_spirit::obj_type) return parent.fail("\"" + where + "\" must be an object");
    Members entry((*list)[i].get_obj(), where + ".", error);
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
  }
  return true;
}

bool read_rate_limits(Members& top, Job_Definition& def, std::string& error) {
  const json_spirit::Object* obj = top.object("rate_limits", false);
  if (obj == nullptr) return !top.failed();
  Members limits(*obj, "rate_limits.", error);
  Rate_Limits out;
  if (!limits.only({Rate_Limits::dest_key, Rate_Limits::src_key}) ||
      !read_rate_list(limits, Rate_Limits::dest_key, out.dest_rate_limits, error) ||
      !read_rate_list(limits, Rate_Limits::src_key, out.src_rate_limits, error))
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

// The documents the module parses: their shape is checked here so that a broken file is
// reported in one line before anything runs; their meaning is the module's.
bool read_documents(Members& top, Job_Kind kind, const Pool_Registry& pools,
                    Definition_File& out, std::string& error) {
  const json_spirit::Object* source = top.object("source", true);
  if (source == nullptr) return false;
  Members src(*source, "source.", error);
  const json_spirit::Array* entries = src.array("entries", true);
  if (entries == nullptr) return false;
  if (entries->empty()) return src.fail("\"source.entries\" must not be empty");
  for (const json_spirit::Value& entry : *entries)
    if (entry.type() != json_spirit::obj_type)
      return src.fail("every member of \"source.entries\" must be an object");
  std::string pool_uuid;
  if (kind == Job_Kind::RESTORE && !src.text("pool_uuid", false, pool_uuid)) return false;
  if (!pool_uuid.empty() && pools.find(pool_uuid) == nullptr)
    return src.fail("no such pool: " + pool_uuid + " (\"source.pool_uuid\")");
  const json_spirit::Value* options = top.get("options", false);
  if (options != nullptr && options->type() != json_spirit::obj_type)
    return top.fail("\"options\" must be an object");
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
