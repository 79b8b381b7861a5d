// A cloud instance backup set with every field filled, each with a value of its own (two
// interfaces with groups, a volume, two pieces and one storage), as the backup writes
// one; and the reading of a record's JSON text back into an object.
#ifndef TESTS_HOST_CATALOG_SAMPLE_SETS_H
#define TESTS_HOST_CATALOG_SAMPLE_SETS_H

#include "backup_set/common/tavro_backup_set.h"
#include "catalog/restful_catalog_operator.h"
#include "json/json_load.h"
#include "json/value.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <tuple>

namespace test {

// The object `text` holds; an empty object (and a test failure) when it holds none.
inline json_spirit::Object parse(const std::string& text) {
  json_spirit::Value v;
  EXPECT_TRUE(json_spirit::JSON_Load(text, v)) << text;
  return v.type() == json_spirit::obj_type ? v.get_obj() : json_spirit::Object();
}

// The full record's JSON text.
constexpr const char* SAMPLE_SET = R"({"uuid": "set-1", "incarnation": "inc-1",
 "name": "nightly", "type": "full", "uid": "0f0e0d0c-0b0a-0908-0706-050403020100",
 "uri": "host-1/def-1", "job_id": "job-1", "def_id": "def-1", "host_id": "host-1",
 "resource_uuid": "res-1", "minor_resource_id": "minor-1", "resource_name": "web tier",
 "agent": "agent-1", "host_name": "backup-host", "size": 128849018880,
 "source_size": 130000000000, "start_time": 1714564800, "end_time": 1714565100,
 "instance_id": "i-1", "instance_name": "web server", "host_address": "10.0.0.5",
 "node_name": "node-1", "instance_version": "v3", "instance_info": {"backup_id": "ib-1",
 "backup_name": "ib-name", "type": "m1.large", "display_name": "Large",
 "availability_zone": "zone-a", "owner_id": "owner-1", "schedule_tag": "tag-a",
 "storage_schedule_tag": "tag-b", "storage_id": "st-i", "root_volume_id": "vol-root",
 "platform": "linux", "cpu": 4, "memory": 8192}, "image_info": {"id": "img-7", "name": "debian",
 "location": "images/debian", "architecture": "x86_64", "size": 2147483648, "hypervisor": "kvm",
 "boot_loader": "mbr", "content_mode": "qemu_raw", "disk_bus": "virtio", "storage_id": "st-img"},
 "network": [{"ip": "10.1.0.4", "mac_address": "52:54:00:12:34:56", "host_address": "10.0.1.5",
 "subnet_id": "subnet-1", "subnet_name": "front", "vpc_id": "vpc-1", "vpc_name": "main-vpc",
 "type": "main", "security_groups": [{"id": "sg-1", "name": "web"}, {"id": "sg-2",
 "name": "ssh"}]}, {"ip": "10.2.0.4", "mac_address": "52:54:00:ab:cd:ef",
 "host_address": "10.0.2.5", "subnet_id": "subnet-2", "subnet_name": "back", "vpc_id": "vpc-2",
 "vpc_name": "db-vpc", "type": "extend", "security_groups": [{"id": "sg-3", "name": "db"},
 {"id": "sg-4", "name": "admin"}]}], "volumes": [{"id": "vol-root", "name": "boot disk",
 "size": 20, "is_root": true, "image_id": "img-7", "storage_id": "st-1", "storage_name": "fast",
 "storage_type": "ceph", "availability_zone": "zone-b", "host_name": "node-2",
 "attach_instance_id": "i-agent", "device_name": "/dev/vda", "snapshot_id": "snap-1"}],
 "pieces": [{"path": "def-1/i-1-vol-root.zst", "object": "vol-root", "size": 21474836480,
 "extended_attrs": {"Quillon3": {"block_set_size": 131072}}}, {"path": "def-1/i-1-vol-data.zst",
 "object": "vol-data", "size": 107374182400,
 "extended_attrs": {"Quillon3": {"block_set_size": 65536}}}],
 "storages": [{"pool_uuid": "pool-1", "size": 5368709120, "extra": {"code_name": "ashvel"}}]})";

// The full record of instance `instance_id` of `resource_uuid` that started at `start`.
inline Tavro_Backup_Set sample_set(const std::string& uuid, const std::string& resource_uuid,
                                   const std::string& instance_id, time_t start) {
  Tavro_Backup_Set s;
  s.load(parse(SAMPLE_SET));
  s.uuid = s.incarnation = uuid;
  std::tie(s.resource_uuid, s.instance_id) = std::tie(resource_uuid, instance_id);
  compute_minor_resource_id(resource_uuid, instance_id, s.minor_resource_id);
  std::tie(s.start_time, s.end_time) = std::make_tuple(start, start + 300);
  return s;
}

}  // namespace test

#endif  // TESTS_HOST_CATALOG_SAMPLE_SETS_H
