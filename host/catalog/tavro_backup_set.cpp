// The host's parts of the cloud instance backup set: construction, JSON form of the
// record and of its nested records, printing.
#include "backup_set/common/tavro_backup_set.h"

#include "catalog/record_json.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

using catalog::read_required;
using json_spirit::Array;
using json_spirit::Object;
using json_spirit::Value;

namespace {

// Reads one record with its throwing reader; false (logged with `what`) on failure.
template <typename Read>
bool read_logged(const char* what, Read&& read) {
  try {
    read();
    return true;
  } catch (const std::exception& e) {
    ACE_DEBUG((LM_ERROR, "Failed to read %s of backup set: %s.\n", what, e.what()));
    return false;
  }
}

// Appends one record per object element of `arr`, read by the record's operator<<;
// throws std::domain_error on the first element that does not read.
template <typename Record>
void read_records(const Array& arr, std::vector<Record>& out) {
  out.reserve(out.size() + arr.size());
  for (const Value& v : arr) {
    if (v.type() != json_spirit::obj_type) continue;
    Record r;
    if (!(r << v.get_obj())) throw std::domain_error("Failed to load elem content from JSON");
    out.push_back(std::move(r));
  }
}

template <typename Record>
Array write_records(const std::vector<Record>& records) {
  Array arr;
  arr.reserve(records.size());
  for (const Record& r : records) {
    Object obj;
    r >> obj;
    arr.emplace_back(std::move(obj));
  }
  return arr;
}

// The JSON members of each nested record, listed once for reading and for writing:
// `visit(key, field)` for a required member, `visit.optional(key, field)` for one that
// may be missing, in the order they are read (the first one missing is the one named).
template <typename Instance, typename Visit>
void instance_members(Instance& i, Visit&& visit) {
  visit("backup_id", i.backup_id);
  visit.optional("backup_name", i.backup_name);
  visit("type", i.type);
  visit("display_name", i.display_name);
  visit("availability_zone", i.availability_zone);
  visit("owner_id", i.owner_id);
  visit("schedule_tag", i.schedule_tag);
  visit("storage_schedule_tag", i.storage_schedule_tag);
  visit("cpu", i.cpu);
  visit("memory", i.memory);
  visit("storage_id", i.storage_id);
  visit("root_volume_id", i.root_volume_id);
  visit("platform", i.platform);
}

template <typename Image, typename Visit>
void image_members(Image& i, Visit&& visit) {
  visit("id", i.id);
  visit("name", i.name);
  visit("location", i.location);
  visit("architecture", i.architecture);
  visit("size", i.size);
  visit("hypervisor", i.hypervisor);
  visit("boot_loader", i.boot_loader);
  visit("content_mode", i.content_mode);
  visit("disk_bus", i.disk_bus);
  visit("storage_id", i.storage_id);
}

template <typename Volume, typename Visit>
void volume_members(Volume& v, Visit&& visit) {
  visit("id", v.id);
  visit("name", v.name);
  visit("size", v.size);
  visit("is_root", v.is_root);
  visit("image_id", v.image_id);
  visit("storage_id", v.storage_id);
  visit("storage_name", v.storage_name);
  visit("storage_type", v.storage_type);
  visit("availability_zone", v.availability_zone);
  visit("host_name", v.host_name);
  visit("attach_instance_id", v.attach_instance_id);
  visit("device_name", v.device_name);
  visit("snapshot_id", v.snapshot_id);
}

template <typename Group, typename Visit>
void group_members(Group& g, Visit&& visit) {
  visit("id", g.id);
  visit("name", g.name);
}

// All but "security_groups", which is an array of records.
template <typename Network, typename Visit>
void network_members(Network& n, Visit&& visit) {
  visit("ip", n.ip);
  visit("mac_address", n.mac_address);
  visit("host_address", n.host_address);
  visit("subnet_id", n.subnet_id);
  visit("subnet_name", n.subnet_name);
  visit("vpc_id", n.vpc_id);
  visit("vpc_name", n.vpc_name);
  visit("type", n.type);
}

// Reads the members it visits; json_spirit::Error for a required one missing or mistyped.
struct Member_Reader {
  const Object& obj;
  template <typename T>
  void operator()(const char* key, T& field) const {
    read_required(obj, key, field);
  }
  template <typename T>
  void optional(const char* key, T& field) const {
    catalog::read_optional(obj, key, field);
  }
};

// Sets the members it visits in `obj`.
struct Member_Writer {
  Object& obj;
  void operator()(const char* key, const std::string& field) const { obj[key] = field; }
  void operator()(const char* key, uint64_t field) const {
    obj[key] = static_cast<unsigned long>(field);
  }
  void operator()(const char* key, bool field) const { obj[key] = field; }
  void optional(const char* key, const std::string& field) const { obj[key] = field; }
};

Object write_instance(const Tavro_Backup_Set::Instance& i) {
  Object obj;
  instance_members(i, Member_Writer{obj});
  return obj;
}

Object write_image(const Tavro_Backup_Set::Image& i) {
  Object obj;
  image_members(i, Member_Writer{obj});
  return obj;
}

}  // namespace

// ---- nested records --------------------------------------------------------------------

bool Tavro_Backup_Set::Volume::operator<<(const Object& obj) {
  return read_logged("volume", [&] { volume_members(*this, Member_Reader{obj}); });
}

void Tavro_Backup_Set::Volume::operator>>(Object& obj) const {
  volume_members(*this, Member_Writer{obj});
}

bool Tavro_Backup_Set::Security_Group::operator<<(const Object& obj) {
  return read_logged("security group", [&] { group_members(*this, Member_Reader{obj}); });
}

void Tavro_Backup_Set::Security_Group::operator>>(Object& obj) const {
  group_members(*this, Member_Writer{obj});
}

bool Tavro_Backup_Set::Network::operator<<(const Object& obj) {
  return read_logged("network", [&] {
    network_members(*this, Member_Reader{obj});
    std::vector<Security_Group> read;
    read_records(json_spirit::object_get_array_or_throw(obj, "security_groups"), read);
    groups = std::move(read);
  });
}

void Tavro_Backup_Set::Network::operator>>(Object& obj) const {
  network_members(*this, Member_Writer{obj});
  obj["security_groups"] = write_records(groups);
}

// ---- the record ------------------------------------------------------------------------

Tavro_Backup_Set::Tavro_Backup_Set() = default;

Tavro_Backup_Set::~Tavro_Backup_Set() = default;

const char* Tavro_Backup_Set::module() const { return "tavro"; }

void Tavro_Backup_Set::write_members(Object& obj) const {
  obj["instance_id"] = instance_id;
  obj["instance_name"] = instance_name;
  obj["host_address"] = host_address;
  obj["node_name"] = node_name;
  obj["instance_info"] = write_instance(instance_info);
  obj["image_info"] = write_image(image_info);
  obj["network"] = write_records(networks);
  obj["volumes"] = write_records(volumes);
}

void Tavro_Backup_Set::load(const Object& obj) {
  Backup_Set::load(obj);
  read_required(obj, "instance_id", instance_id);
  read_required(obj, "instance_name", instance_name);
  catalog::read_optional(obj, "host_address", host_address);
  catalog::read_optional(obj, "node_name", node_name);
  instance_members(instance_info,
                   Member_Reader{json_spirit::object_get_object_or_throw(obj, "instance_info")});
  image_members(image_info,
                Member_Reader{json_spirit::object_get_object_or_throw(obj, "image_info")});

  const Value& network = json_spirit::object_get_or_throw(obj, "network");
  Array one;
  const Array* network_array = nullptr;
  if (network.type() == json_spirit::obj_type) {
    one.push_back(network);
    network_array = &one;
  } else {
    network_array = &network.get_array();  // throws for any other type
  }
  networks.clear();
  read_records(*network_array, networks);

  volumes.clear();
  read_records(json_spirit::object_get_array_or_throw(obj, "volumes"), volumes);
}

bool Tavro_Backup_Set::token_value(const std::string& token, std::string& out) const {
  if (token == "instance_id") {
    out = instance_id;
  } else if (token == "instance_name") {
    out = instance_name;
  } else if (token == "host_address") {
    out = host_address;
  } else if (token == "node_name") {
    out = node_name;
  } else if (token == "volumes") {
    out = std::to_string(volumes.size());
  } else if (token == "networks") {
    out = std::to_string(networks.size());
  } else {
    return Backup_Set::token_value(token, out);
  }
  return true;
}
