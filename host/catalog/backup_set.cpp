// The host's parts of the generic backup-set records: construction, JSON form, printing.
#include "backup_set/common/backup_set.h"

#include "backup_set/common/backup_piece.h"
#include "backup_set/common/backup_set_storage.h"
#include "catalog/catalog_time.h"
#include "catalog/record_json.h"

#include <string>
#include <utility>

using catalog::read_optional;
using catalog::read_required;
using json_spirit::Object;
using json_spirit::Value;

// ---- Backup_Piece ---------------------------------------------------------------------

Backup_Piece::Backup_Piece() = default;

Backup_Piece::Backup_Piece(const Object& obj) {
  read_required(obj, "path", path);
  read_required(obj, "size", size);
  read_required(obj, "extended_attrs", extended_attrs);
  read_required(obj, "object", object);
}

Backup_Piece::~Backup_Piece() = default;

Object Backup_Piece::to_object() const {
  Object obj;
  obj["path"] = path;
  obj["object"] = object;
  obj["size"] = static_cast<unsigned long>(size);
  obj["extended_attrs"] = extended_attrs;
  return obj;
}

yajl_gen_status Backup_Piece::generate(yajl_gen gen) const {
  return catalog::generate_object(gen, to_object());
}

bool Backup_Piece::token_value(const std::string& token, std::string& out) const {
  if (token == "path") {
    out = path;
  } else if (token == "object") {
    out = object;
  } else if (token == "size") {
    out = std::to_string(size);
  } else if (token == "block_set_size") {
    const Object* attrs = json_spirit::object_get_object(extended_attrs, "Quillon3");
    uint64_t block = 0;
    out = attrs != nullptr && json_spirit::object_get(*attrs, "block_set_size", block)
              ? std::to_string(block)
              : "-";
  } else {
    return false;
  }
  return true;
}

// ---- Backup_Set_Storage ---------------------------------------------------------------

Backup_Set_Storage::Backup_Set_Storage() = default;

Backup_Set_Storage::Backup_Set_Storage(std::string pool_uuid, uint64_t size, Object extra)
    : pool_uuid(std::move(pool_uuid)), size(size), extra(std::move(extra)) {}

Backup_Set_Storage::Backup_Set_Storage(const Object& obj) {
  read_required(obj, "pool_uuid", pool_uuid);
  read_optional(obj, "size", size);
  read_optional(obj, "extra", extra);
}

Backup_Set_Storage::~Backup_Set_Storage() = default;

Object Backup_Set_Storage::to_object() const {
  Object obj;
  obj["pool_uuid"] = pool_uuid;
  obj["size"] = static_cast<unsigned long>(size);
  obj["extra"] = extra;
  return obj;
}

yajl_gen_status Backup_Set_Storage::generate(yajl_gen gen) const {
  return catalog::generate_object(gen, to_object());
}

bool Backup_Set_Storage::token_value(const std::string& token, std::string& out) const {
  if (token == "pool_uuid") {
    out = pool_uuid;
  } else if (token == "size") {
    out = std::to_string(size);
  } else {
    return false;
  }
  return true;
}

// ---- Backup_Set -----------------------------------------------------------------------

Backup_Set::Backup_Set() = default;

Backup_Set::~Backup_Set() = default;

const char* Backup_Set::module() const { return ""; }

void Backup_Set::add_storage(const std::string& pool_uuid, uint64_t size, const Object& extra) {
  storages.emplace_back(pool_uuid, size, extra);
}

void Backup_Set::add_piece(const Backup_Piece& piece) { pieces.push_back(piece); }

std::vector<Backup_Piece> Backup_Set::get_pieces(const std::string& object) const {
  std::vector<Backup_Piece> found;
  for (const Backup_Piece& p : pieces) {
    if (p.object == object) found.push_back(p);
  }
  return found;
}

std::string Backup_Set::timepoint() const { return catalog_timepoint(start_time); }

Object Backup_Set::to_object() const {
  Object obj;
  obj["uuid"] = uuid;
  obj["incarnation"] = incarnation;
  obj["name"] = name;
  obj["type"] = type;
  obj["uid"] = uid;
  obj["uri"] = uri;
  obj["instance_version"] = instance_version;
  obj["job_id"] = job_id;
  obj["def_id"] = def_id;
  obj["host_id"] = host_id;
  obj["resource_uuid"] = resource_uuid;
  obj["minor_resource_id"] = minor_resource_id;
  obj["resource_name"] = resource_name;
  obj["agent"] = agent;
  obj["host_name"] = host_name;
  obj["size"] = static_cast<long>(size);
  obj["source_size"] = static_cast<long>(source_size);
  obj["start_time"] = static_cast<long>(start_time);
  obj["end_time"] = static_cast<long>(end_time);
  json_spirit::Array storage_array;
  storage_array.reserve(storages.size());
  for (const Backup_Set_Storage& s : storages) storage_array.emplace_back(s.to_object());
  obj["storages"] = std::move(storage_array);
  json_spirit::Array piece_array;
  piece_array.reserve(pieces.size());
  for (const Backup_Piece& p : pieces) piece_array.emplace_back(p.to_object());
  obj["pieces"] = std::move(piece_array);
  write_members(obj);
  return obj;
}

void Backup_Set::write_members(Object& /*obj*/) const {}

yajl_gen_status Backup_Set::generate(yajl_gen gen) const {
  return catalog::generate_object(gen, to_object());
}

void Backup_Set::load(const Object& obj) {
  read_required(obj, "uuid", uuid);
  read_required(obj, "incarnation", incarnation);
  read_required(obj, "name", name);
  read_required(obj, "type", type);
  read_required(obj, "uid", uid);
  read_required(obj, "uri", uri);
  read_required(obj, "instance_version", instance_version);
  read_required(obj, "size", size);
  read_required(obj, "source_size", source_size);
  const json_spirit::Array& storage_array = json_spirit::object_get_array_or_throw(obj, "storages");
  const json_spirit::Array& piece_array = json_spirit::object_get_array_or_throw(obj, "pieces");

  read_optional(obj, "job_id", job_id);
  read_optional(obj, "def_id", def_id);
  read_optional(obj, "host_id", host_id);
  read_optional(obj, "resource_uuid", resource_uuid);
  read_optional(obj, "minor_resource_id", minor_resource_id);
  read_optional(obj, "resource_name", resource_name);
  read_optional(obj, "agent", agent);
  read_optional(obj, "host_name", host_name);
  long t = start_time;
  read_optional(obj, "start_time", t);
  start_time = static_cast<time_t>(t);
  t = end_time;
  read_optional(obj, "end_time", t);
  end_time = static_cast<time_t>(t);

  storages.clear();
  for (const Value& v : storage_array) {
    if (v.type() == json_spirit::obj_type) storages.emplace_back(v.get_obj());
  }
  pieces.clear();
  for (const Value& v : piece_array) {
    if (v.type() == json_spirit::obj_type) pieces.emplace_back(v.get_obj());
  }
}

bool Backup_Set::token_value(const std::string& token, std::string& out) const {
  if (token == "module") {
    out = module();
  } else if (token == "uuid") {
    out = uuid;
  } else if (token == "name") {
    out = name;
  } else if (token == "type") {
    out = type;
  } else if (token == "uri") {
    out = uri;
  } else if (token == "timepoint") {
    out = timepoint();
  } else if (token == "start_time") {
    out = catalog_time_text(start_time);
  } else if (token == "end_time") {
    out = catalog_time_text(end_time);
  } else if (token == "size") {
    out = std::to_string(size);
  } else if (token == "source_size") {
    out = std::to_string(source_size);
  } else if (token == "resource_uuid") {
    out = resource_uuid;
  } else if (token == "host_name") {
    out = host_name;
  } else if (token == "pool_uuid") {
    out = storages.empty() ? std::string("-") : storages.front().pool_uuid;
  } else if (token == "storages") {
    out = std::to_string(storages.size());
  } else if (token == "pieces") {
    out = std::to_string(pieces.size());
  } else {
    return false;
  }
  return true;
}
