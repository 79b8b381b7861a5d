#include "tavrocloud/job/restore_source_entry.h"

#include "json_spirit/assign.h"
#include "json_spirit/extract.h"
#include "json_spirit/filter.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <utility>

namespace tavrocloud {

namespace {

// Reads an optional address choice ("auto", "reserve", "specify"; any other text is
// UNKNOWN); leaves `op` as it was when the key is absent or not a string.
void read_operation(const json_spirit::Object& obj, const char* key, Net_Operation& op) {
  const std::string* text = nullptr;
  json_spirit::extract(obj)(key, text);
  if (text != nullptr) op = str_to_operation(text->c_str(), text->size());
}

}  // namespace

bool Restore_Source_Entry::NIC::operator<<(const json_spirit::Object& obj) {
  try {
    json_spirit::extract_or_throw(obj)("vpc_id", vpc_id)("vpc_name", vpc_name)(
        "subnet_id", subnet_id)("subnet_name", subnet_name);
    json_spirit::extract(obj)("mac_address", mac_address)("type", type)("ip_address",
                                                                        ip_address);
    read_operation(obj, "ip_op", ip_op);
    read_operation(obj, "mac_op", mac_op);
    const json_spirit::Array* group_array = nullptr;
    json_spirit::extract(obj)("security_groups", group_array);
    if (group_array != nullptr) {
      for (const json_spirit::Object& g : *group_array | json_spirit::get_obj) {
        Security_Group group;
        json_spirit::extract_or_throw(g)("security_group_id", group.id)("security_group_name",
                                                                         group.name);
        groups.push_back(std::move(group));
      }
    }
    return true;
  } catch (const std::exception& e) {
    ACE_DEBUG((LM_ERROR, "Failed to parse network in restore source entry : %s.\n", e.what()));
    return false;
  }
}

void Restore_Source_Entry::NIC::operator>>(json_spirit::Object& obj) const {
  json_spirit::Array group_array;
  group_array.reserve(groups.size());
  for (const Security_Group& g : groups) {
    json_spirit::Object o;
    json_spirit::insert(o)("security_group_id", g.id)("security_group_name", g.name);
    group_array.emplace_back(std::move(o));
  }
  json_spirit::insert(obj)("vpc_id", vpc_id)("vpc_name", vpc_name)("subnet_id", subnet_id)(
      "subnet_name", subnet_name)("mac_address", mac_address)("type", type)(
      "security_groups", std::move(group_array));
}

bool Restore_Source_Entry::Volume::operator<<(const json_spirit::Object& obj) {
  try {
    unsigned long gib = 0;
    json_spirit::extract_or_throw(obj)("id", id)("name", name)("size", gib)("storage_id",
                                                                           storage_id);
    size = gib;
    json_spirit::extract(obj)("storage_name", storage_name);
    json_spirit::extract_or_throw(obj)("storage_type", storage_type);
    return true;
  } catch (const std::exception& e) {
    ACE_DEBUG((LM_ERROR, "Failed to parse volume in restore source entry : %s.\n", e.what()));
    return false;
  }
}

void Restore_Source_Entry::Volume::operator>>(json_spirit::Object& obj) const {
  json_spirit::insert(obj)("id", id)("name", name)("size", static_cast<unsigned long>(size))(
      "storage_id", storage_id)("storage_name", storage_name)("storage_type", storage_type);
}

bool Restore_Source_Entry::load(const json_spirit::Value& value) {
  try {
    const json_spirit::Object& obj = value.get_obj();
    json_spirit::extract_or_throw(obj)("catalog_uuid", catalog_uuid)(
        "backup_start_time", backup_start_time)("src_instance_id", instance_src_id)(
        "src_instance_name", instance_src_name);

    const json_spirit::Object* flavor_obj = nullptr;
    const json_spirit::Array* nic_array = nullptr;
    const json_spirit::Array* volume_array = nullptr;
    json_spirit::extract(obj)("owner_id", owner_id)("target_instance_name", instance_tgt_name)(
        "target_instance_id", instance_tgt_id)("flavor", flavor_obj)(
        "target_cluster_id", target_cluster_id)("target_cluster_name", target_cluster_name)(
        "target_node_id", target_node_id)("target_node_name", target_node_name)(
        "nic", nic_array)("volumes", volume_array);

    if (flavor_obj != nullptr) {
      json_spirit::extract_or_throw(*flavor_obj)("type", flavor.type)(
          "display_name", flavor.display_name)("cpu", flavor.cpu)("ram", flavor.ram);
    }
    if (nic_array != nullptr) trans_array_to_throw(nics, *nic_array);
    if (volume_array != nullptr) trans_array_to_throw(volumes, *volume_array);
    return true;
  } catch (const std::exception& e) {
    ACE_DEBUG((LM_ERROR, "Failed to parse restore source entry : %s.\n", e.what()));
    return false;
  }
}

json_spirit::Object Restore_Source_Entry::dump() const {
  json_spirit::Object flavor_obj;
  json_spirit::insert(flavor_obj)("type", flavor.type)("display_name", flavor.display_name)(
      "cpu", static_cast<int>(flavor.cpu))("ram", static_cast<int>(flavor.ram));

  json_spirit::Array nic_array;
  nic_array.reserve(nics.size());
  for (const NIC& n : nics) {
    json_spirit::Object o;
    n >> o;
    nic_array.emplace_back(std::move(o));
  }
  json_spirit::Array volume_array;
  volume_array.reserve(volumes.size());
  for (const Volume& v : volumes) {
    json_spirit::Object o;
    v >> o;
    volume_array.emplace_back(std::move(o));
  }

  json_spirit::Object obj;
  json_spirit::insert(obj)("catalog_uuid", catalog_uuid)("backup_start_time", backup_start_time)(
      "src_instance_id", instance_src_id)("src_instance_name", instance_src_name)(
      "owner_id", owner_id)("target_instance_name", instance_tgt_name)(
      "flavor", std::move(flavor_obj))("target_cluster_id", target_cluster_id)(
      "target_cluster_name", target_cluster_name)("target_node_id", target_node_id)(
      "target_node_name", target_node_name)("nics", std::move(nic_array))(
      "volumes", std::move(volume_array));
  return obj;
}

}  // namespace tavrocloud
