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

Object write_instance(const Tavro_Backup_Set::Instance& i) {
  Object obj;
  obj["backup_id"] = i.backup_id;
  obj["backup_name"] = i.backup_name;
  obj["type"] = i.type;
  obj["display_name"] = i.display_name;
  obj["availability_zone"] = i.availability_zone;
  obj["owner_id"] = i.owner_id;
  obj["schedule_tag"] = i.schedule_tag;
  obj["storage_schedule_tag"] = i.storage_schedule_tag;
  obj["cpu"] = static_cast<unsigned long>(i.cpu);
  obj["memory"] = static_cast<unsigned long>(i.memory);
  obj["storage_id"] = i.storage_id;
  obj["root_volume_id"] = i.root_volume_id;
  obj["platform"] = i.platform;
  return obj;
}

void read_instance(const Object& obj, Tavro_Backup_Set::Instance& i) {
  read_required(obj, "backup_id", i.backup_id);
  catalog::read_optional(obj, "backup_name", i.backup_name);
  read_required(obj, "type", i.type);
  read_required(obj, "display_name", i.display_name);
  read_required(obj, "availability_zone", i.availability_zone);
  read_required(obj, "owner_id", i.owner_id);
  read_required(obj, "schedule_tag", i.schedule_tag);
  read_required(obj, "storage_schedule_tag", i.storage_schedule_tag);
  read_required(obj, "cpu", i.cpu);
  read_required(obj, "memory", i.memory);
  read_required(obj, "storage_id", i.storage_id);
  read_required(obj, "root_volume_id", i.root_volume_id);
  read_required(obj, "platform", i.platform);
}

Object write_image(const Tavro_Backup_Set::Image& i) {
  Object obj;
  obj["id"] = i.id;
  obj["name"] = i.name;
  obj["location"] = i.location;
  obj["architecture"] = i.architecture;
  obj["size"] = static_cast<unsigned long>(i.size);
  obj["hypervisor"] = i.hypervisor;
  obj["boot_loader"] = i.boot_loader;
  obj["content_mode"] = i.content_mode;
  obj["disk_bus"] = i.disk_bus;
  obj["storage_id"] = i.storage_id;
  return obj;
}

void read_image(const Object& obj, Tavro_Backup_Set::Image& i) {
  read_required(obj, "id", i.id);
  read_required(obj, "name", i.name);
  read_required(obj, "location", i.location);
  read_required(obj, "architecture", i.architecture);
  read_required(obj, "size", i.size);
  read_required(obj, "hypervisor", i.hypervisor);
  read_required(obj, "boot_loader", i.boot_loader);
  read_required(obj, "content_mode", i.content_mode);
  read_required(obj, "disk_bus", i.disk_bus);
  read_required(obj, "storage_id", i.storage_id);
}

}  // namespace

// ---- nested records --------------------------------------------------------------------

bool Tavro_Backup_Set::Volume::operator<<(const Object& obj) {
  return read_logged("volume", [&] {
    read_required(obj, "id", id);
    read_required(obj, "name", name);
    read_required(obj, "size", size);
    read_required(obj, "is_root", is_root);
    read_required(obj, "image_id", image_id);
    read_required(obj, "storage_id", storage_id);
    read_required(obj, "storage_name", storage_name);
    read_required(obj, "storage_type", storage_type);
    read_required(obj, "availability_zone", availability_zone);
    read_required(obj, "host_name", host_name);
    read_required(obj, "attach_instance_id", attach_instance_id);
    read_required(obj, "device_name", device_name);
    read_required(obj, "snapshot_id", snapshot_id);
  });
}

void Tavro_Backup_Set::Volume::operator>>(Object& obj) const {
  obj["id"] = id;
  obj["name"] = name;
  obj["size"] = static_cast<unsigned long>(size);
  obj["is_root"] = is_root;
  obj["image_id"] = image_id;
  obj["storage_id"] = storage_id;
  obj["storage_name"] = storage_name;
  obj["storage_type"] = storage_type;
  obj["availability_zone"] = availability_zone;
  obj["host_name"] = host_name;
  obj["attach_instance_id"] = attach_instance_id;
  obj["device_name"] = device_name;
  obj["snapshot_id"] = snapshot_id;
}

bool Tavro_Backup_Set::Security_Group::operator<<(const Object& obj) {
  return read_logged("security group", [&] {
    read_required(obj, "id", id);
    read_required(obj, "name", name);
  });
}

void Tavro_Backup_Set::Security_Group::operator>>(Object& obj) const {
  obj["id"] = id;
  obj["name"] = name;
}

bool Tavro_Backup_Set::Network::operator<<(const Object& obj) {
  return read_logged("network", [&] {
    read_required(obj, "ip", ip);
    read_required(obj, "mac_address", mac_address);
    read_required(obj, "host_address", host_address);
    read_required(obj, "subnet_id", subnet_id);
    read_required(obj, "subnet_name", subnet_name);
    read_required(obj, "vpc_id", vpc_id);
    read_required(obj, "vpc_name", vpc_name);
    read_required(obj, "type", type);
    std::vector<Security_Group> read;
    read_records(json_spirit::object_get_array_or_throw(obj, "security_groups"), read);
    groups = std::move(read);
  });
}

void Tavro_Backup_Set::Network::operator>>(Object& obj) const {
  obj["ip"] = ip;
  obj["mac_address"] = mac_address;
  obj["host_address"] = host_address;
  obj["subnet_id"] = subnet_id;
  obj["subnet_name"] = subnet_name;
  obj["vpc_id"] = vpc_id;
  obj["vpc_name"] = vpc_name;
  obj["security_groups"] = write_records(groups);
  obj["type"] = type;
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
  read_instance(json_spirit::object_get_object_or_throw(obj, "instance_info"), instance_info);
  read_image(json_spirit::object_get_object_or_throw(obj, "image_info"), image_info);

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
