// A cloud instance backup set with every field filled (two interfaces with groups, two
// volumes, their pieces and one storage), as the backup writes one; and the reading of a
// record's JSON text back into an object.
#ifndef TESTS_HOST_CATALOG_SAMPLE_SETS_H
#define TESTS_HOST_CATALOG_SAMPLE_SETS_H

#include "backup_set/common/tavro_backup_set.h"
#include "catalog/restful_catalog_operator.h"
#include "json/json_load.h"
#include "json/value.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace test {

// The object `text` holds; an empty object (and a test failure) when it holds none.
inline json_spirit::Object parse(const std::string& text) {
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::JSON_Load(text, v)) << text;
  return v.type() == json_spirit::obj_type ? v.get_obj() : json_spirit::Object();
}

inline Tavro_Backup_Set::Network sample_network(const std::string& ip, const std::string& type) {
  Tavro_Backup_Set::Network n;
  n.ip = ip;
  n.mac_address = "52:54:00:12:34:56";
  n.host_address = "10.0.0.5";
  n.subnet_id = "subnet-1";
  n.subnet_name = "front";
  n.vpc_id = "vpc-1";
  n.vpc_name = "main-vpc";
  n.type = type;
  Tavro_Backup_Set::Security_Group g;
  g.id = "sg-1";
  g.name = "web";
  n.groups.push_back(g);
  g.id = "sg-2";
  g.name = "ssh";
  n.groups.push_back(g);
  return n;
}

inline Tavro_Backup_Set::Volume sample_volume(const std::string& id, bool root) {
  Tavro_Backup_Set::Volume v;
  v.id = id;
  v.name = "disk " + id;
  v.size = root ? 20 : 100;
  v.is_root = root;
  v.image_id = "img-7";
  v.storage_id = "st-1";
  v.storage_name = "fast";
  v.storage_type = "ceph";
  v.availability_zone = "zone-a";
  v.host_name = "node-1";
  v.attach_instance_id = "i-agent";
  v.device_name = root ? "/dev/vda" : "/dev/vdb";
  v.snapshot_id = "snap-" + id;
  return v;
}

inline Backup_Piece sample_piece(const std::string& vol, uint64_t gib) {
  Backup_Piece p;
  p.path = "host-1/def-1/Quillon3-i-1-" + vol + "-20240501120000.zst";
  p.object = vol;
  p.size = gib << 30;
  json_spirit::Object block;
  block["block_set_size"] = json_spirit::Value(131072UL);
  p.extended_attrs["Quillon3"] = json_spirit::Value(block);
  return p;
}

// A full record of instance `instance_id` of `resource_uuid` that started at `start`.
inline Tavro_Backup_Set sample_set(const std::string& uuid, const std::string& resource_uuid,
                                   const std::string& instance_id, time_t start) {
  Tavro_Backup_Set s;
  s.uuid = uuid;
  s.incarnation = uuid;
  s.name = "nightly";
  s.type = "full";
  s.uid = "0f0e0d0c-0b0a-0908-0706-050403020100";
  s.uri = "host-1/def-1";
  s.job_id = "job-1";
  s.def_id = "def-1";
  s.host_id = "host-1";
  s.resource_uuid = resource_uuid;
  compute_minor_resource_id(resource_uuid, instance_id, s.minor_resource_id);
  s.resource_name = "web server";
  s.agent = "agent-1";
  s.host_name = "backup-host";
  s.size = 120LL << 30;
  s.source_size = 120LL << 30;
  s.start_time = start;
  s.end_time = start + 300;
  s.instance_id = instance_id;
  s.instance_name = "web server";
  s.host_address = "10.0.0.5";
  s.node_name = "node-1";
  s.instance_info.backup_id = "ib-1";
  s.instance_info.type = "m1.large";
  s.instance_info.display_name = "Large";
  s.instance_info.availability_zone = "zone-a";
  s.instance_info.owner_id = "owner-1";
  s.instance_info.schedule_tag = "tag-a";
  s.instance_info.storage_schedule_tag = "tag-b";
  s.instance_info.storage_id = "st-1";
  s.instance_info.root_volume_id = "vol-root";
  s.instance_info.platform = "linux";
  s.instance_info.cpu = 4;
  s.instance_info.memory = 8192;
  s.image_info.id = "img-7";
  s.image_info.name = "debian";
  s.image_info.location = "images/debian";
  s.image_info.architecture = "x86_64";
  s.image_info.size = 2147483648ULL;
  s.image_info.hypervisor = "kvm";
  s.image_info.boot_loader = "mbr";
  s.image_info.content_mode = "qemu_raw";
  s.image_info.disk_bus = "virtio";
  s.image_info.storage_id = "st-1";
  s.networks.push_back(sample_network("10.1.0.4", "main"));
  s.networks.push_back(sample_network("10.2.0.4", "extend"));
  s.volumes.push_back(sample_volume("vol-root", true));
  s.volumes.push_back(sample_volume("vol-data", false));
  s.add_piece(sample_piece("vol-root", 20));
  s.add_piece(sample_piece("vol-data", 100));
  json_spirit::Object extra;
  extra["code_name"] = json_spirit::Value("ashvel");
  s.add_storage("pool-1", 5UL << 30, extra);
  return s;
}

}  // namespace test

#endif  // TESTS_HOST_CATALOG_SAMPLE_SETS_H
