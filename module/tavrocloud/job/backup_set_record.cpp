#include "tavrocloud/job/backup_set_record.h"

#include "catalog/restful_catalog_operator.h"
#include "job_engine/job_types.h"
#include "json_spirit/assign.h"
#include "json_spirit/extract.h"
#include "runtime/path_t.h"

#include <ace/Log_Msg.h>

#include <exception>

namespace tavrocloud {

namespace {

// The block size every image of a set is written with, recorded for the reader.
json_spirit::Object piece_attrs(size_t block_size) {
  json_spirit::Object block;
  json_spirit::insert(block)("block_set_size", static_cast<uint64_t>(block_size));
  json_spirit::Object attrs;
  json_spirit::insert(attrs)("Quillon3", std::move(block));
  return attrs;
}

void fill_instance(const Backup_Params& params, const Instance& instance,
                   Tavro_Backup_Set& set) {
  const Instance_Backup_Info& info = params.backup_instance;
  set.instance_id = info.instance_id;
  set.instance_name = info.instance_name;
  set.host_address = info.host_address;
  set.node_name = info.node_name;
  Tavro_Backup_Set::Instance& i = set.instance_info;
  i.backup_id = info.instance_backup_id;
  i.type = instance.instance_type.type;
  i.display_name = instance.instance_type.display_name;
  i.availability_zone = instance.availability_zone;
  i.owner_id = instance.owner_id;
  i.schedule_tag = instance.schedule_tag;
  i.storage_schedule_tag = instance.storage_schedule_tag;
  // Sign-extended on purpose: a negative figure from the cloud stays recognisable.
  i.cpu = static_cast<uint64_t>(static_cast<int64_t>(instance.instance_type.cpu));
  i.memory = static_cast<uint64_t>(static_cast<int64_t>(instance.instance_type.ram));
  i.storage_id = instance.storage_id;
  i.platform = instance.platform;
  Tavro_Backup_Set::Image& m = set.image_info;
  m.id = instance.image.id;
  m.name = instance.image.name;
  m.location = instance.image.location;
  m.architecture = instance.image.architecture;
  m.size = static_cast<uint64_t>(instance.image.size);
  m.hypervisor = instance.image.hypervisor;
  m.boot_loader = instance.image.bootloader;
  m.content_mode = instance.image.contentmode;
  m.disk_bus = instance.image.disk_bus;
  m.storage_id = instance.image.storage_id;
}

void fill_volumes(const Instance_Backup_Info& info, Tavro_Backup_Set& set) {
  set.volumes.reserve(info.backup_vols.size());
  for (const Volume_Backup_Info& v : info.backup_vols) {
    Tavro_Backup_Set::Volume entry;
    entry.id = v.vol_id;
    entry.name = v.vol_name;
    entry.size = v.size;
    entry.is_root = v.is_root;
    entry.storage_id = v.storage_id;
    entry.storage_name = v.storage_name;
    entry.storage_type = v.storage_type;
    entry.availability_zone = v.availability_zone;
    entry.attach_instance_id = v.attached_instance_id;
    entry.device_name = v.src_dev_name;
    entry.snapshot_id = v.snapshot_id;
    if (v.is_root) set.instance_info.root_volume_id = v.vol_id;
    set.volumes.push_back(std::move(entry));
  }
}

void fill_pieces(const Instance_Backup_Info& info, Tavro_Backup_Set& set) {
  for (const Volume_Backup_Info& v : info.backup_vols) {
    Backup_Piece piece;
    piece.path = yolt::Path_T<char>(v.storage_file_path.c_str(), v.storage_file_name.c_str(),
                                    '/', false)
                     .str();
    piece.size = v.size << 30;
    piece.object = v.vol_id;
    piece.extended_attrs = piece_attrs(v.block_size);
    set.add_piece(piece);
  }
}

}  // namespace

void fill_backup_set(const Backup_Params& params, const Instance& instance,
                     const Backup_Set_Facts& facts, Tavro_Backup_Set& set) {
  const Base_Params& base = params.base;
  fill_instance(params, instance, set);
  fill_volumes(params.backup_instance, set);
  set.job_id = facts.job_id;
  set.uuid = facts.set_uuid;
  set.def_id = base.def_id;
  set.uid = facts.run_uid;
  set.name = base.def_name;
  set.host_id = base.host_id;
  set.resource_uuid = base.resource_uuid;
  compute_minor_resource_id(base.resource_uuid, params.backup_instance.instance_id,
                            set.minor_resource_id);
  set.incarnation = facts.set_uuid;
  set.resource_name = params.backup_instance.instance_name;
  set.agent = base.agent;
  set.start_time = facts.start_time;
  set.end_time = facts.end_time;
  set.uri = yolt::Path_T<char>(base.host_id.c_str(), base.def_id.c_str(), '/', false).str();
  set.host_name = facts.host_name;
  set.type = job_def_subtype_to_string(params.backup_type, 0);
  set.size = static_cast<int64_t>(facts.source_size);
  set.source_size = static_cast<int64_t>(facts.source_size);
  fill_pieces(params.backup_instance, set);
  json_spirit::Object extra;
  json_spirit::insert(extra)("code_name", "ashvel");
  set.add_storage(base.pool_uuid, facts.storage_size, extra);
}

Tavro_Backup_Set::Network network_entry(Network_Interface_Type type,
                                        const Network_Interface& iface,
                                        const std::string& host_address,
                                        const std::string& vpc_name,
                                        const std::string& subnet_name) {
  Tavro_Backup_Set::Network entry;
  entry.ip = iface.private_ip;
  entry.mac_address = iface.mac_addr;
  entry.host_address = host_address;
  entry.subnet_id = iface.subnet_id;
  entry.subnet_name = subnet_name;
  entry.vpc_id = iface.vpc_id;
  entry.vpc_name = vpc_name;
  entry.groups.reserve(iface.groups.size());
  for (const Security_Group& g : iface.groups) {
    Tavro_Backup_Set::Security_Group group;
    group.id = g.id;
    group.name = g.name;
    entry.groups.push_back(std::move(group));
  }
  entry.type = net_interface_to_str(type);
  return entry;
}

namespace {

void load_instance_info(const json_spirit::Object& obj, Tavro_Backup_Set::Instance& i) {
  json_spirit::extract_or_throw(obj)("backup_id", i.backup_id);
  json_spirit::extract(obj)("backup_name", i.backup_name);
  json_spirit::extract_or_throw(obj)("type", i.type)("display_name", i.display_name)(
      "availability_zone", i.availability_zone)("owner_id", i.owner_id)(
      "schedule_tag", i.schedule_tag)("storage_schedule_tag", i.storage_schedule_tag)(
      "cpu", i.cpu)("memory", i.memory)("storage_id", i.storage_id)(
      "root_volume_id", i.root_volume_id)("platform", i.platform);
}

void load_image_info(const json_spirit::Object& obj, Tavro_Backup_Set::Image& m) {
  json_spirit::extract_or_throw(obj)("id", m.id)("name", m.name)("location", m.location)(
      "architecture", m.architecture)("size", m.size)("hypervisor", m.hypervisor)(
      "boot_loader", m.boot_loader)("content_mode", m.content_mode)("disk_bus", m.disk_bus)(
      "storage_id", m.storage_id);
}

void load_set_fields(const json_spirit::Object& obj, Tavro_Backup_Set& set) {
  json_spirit::extract_or_throw(obj)("instance_name", set.instance_name)(
      "instance_id", set.instance_id);
  const json_spirit::Object& instance = json_spirit::object_get_object_or_throw(obj, "instance_info");
  const json_spirit::Object& image = json_spirit::object_get_object_or_throw(obj, "image_info");
  json_spirit::extract_or_throw(obj)("name", set.name)("type", set.type)(
      "instance_version", set.instance_version)("uri", set.uri)("uuid", set.uuid)(
      "uid", set.uid)("incarnation", set.incarnation)("size", set.size)(
      "source_size", set.source_size);
  load_instance_info(instance, set.instance_info);
  load_image_info(image, set.image_info);
}

void load_parts(const json_spirit::Array& volumes, const json_spirit::Array& storages,
                const json_spirit::Array& pieces, Tavro_Backup_Set& set) {
  set.volumes.clear();
  trans_array_to_throw(set.volumes, volumes);
  set.storages.clear();
  for (const json_spirit::Value& v : storages) {
    if (v.type() == json_spirit::obj_type) set.storages.emplace_back(v.get_obj());
  }
  set.pieces.clear();
  for (const json_spirit::Value& v : pieces) {
    if (v.type() == json_spirit::obj_type) set.pieces.emplace_back(v.get_obj());
  }
}

}  // namespace

bool load_backup_set(const json_spirit::Object& obj, Tavro_Backup_Set& set) {
  try {
    load_set_fields(obj, set);
    if (!load_networks(obj, set)) return false;
    const json_spirit::Array* volumes = json_spirit::object_get_array(obj, "volumes");
    const json_spirit::Array* storages = json_spirit::object_get_array(obj, "storages");
    const json_spirit::Array* pieces = json_spirit::object_get_array(obj, "pieces");
    if (volumes == nullptr || storages == nullptr || pieces == nullptr) {
      ACE_ERROR((LM_ERROR, "Lack of volumes or storages or pieces in backup set.\n"));
      return false;
    }
    load_parts(*volumes, *storages, *pieces, set);
    return true;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Failed to parse Tavrocloud backup set: %s.\n", e.what()));
    return false;
  }
}

bool load_networks(const json_spirit::Object& obj, Tavro_Backup_Set& set) {
  const json_spirit::Value* network = json_spirit::object_get_value(obj, "network");
  if (network == nullptr) {
    ACE_ERROR((LM_ERROR, "Lack of networks in backup set.\n"));
    return false;
  }
  json_spirit::Array one;
  const json_spirit::Array* list = &one;
  if (network->type() == json_spirit::obj_type) {
    one.push_back(*network);
  } else if (network->type() == json_spirit::array_type) {
    list = &network->get_array();
  } else {
    ACE_ERROR((LM_ERROR, "Invalid network value type.\n"));
    return false;
  }
  try {
    set.networks.clear();
    trans_array_to_throw(set.networks, *list);
    return true;
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Failed to parse Tavrocloud network info: %s.\n", e.what()));
    return false;
  }
}

}  // namespace tavrocloud
