// One instance to restore, as a restore job's source names it (one object of its
// "entries" array): which backup to restore from, which source instance, and where and
// how to restore it. The restore executor loads one entry per element, the entry then
// travels with the instance's restore task, and the instance restore handler reads it
// (filling the members the catalog supplies).
#ifndef TAVROCLOUD_JOB_RESTORE_SOURCE_ENTRY_H
#define TAVROCLOUD_JOB_RESTORE_SOURCE_ENTRY_H

#include "json/value.h"
#include "tavrocloud/common/utils.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tavrocloud {

struct Restore_Source_Entry {
  // A security group of a target network interface.
  struct Security_Group {
    std::string id;    // "security_group_id"
    std::string name;  // "security_group_name"
  };

  // A network interface of the target instance.
  struct NIC {
    // Reads one interface: "vpc_id", "vpc_name", "subnet_id", "subnet_name" required;
    // "mac_address", "type", "ip_address", "ip_op", "mac_op" and "security_groups" (each
    // object element needs "security_group_id" and "security_group_name") optional.
    // True on success; false, logged at error priority, when a required key is missing
    // or mistyped.
    bool operator<<(const json_spirit::Object& obj);
    // Sets "vpc_id", "vpc_name", "subnet_id", "subnet_name", "mac_address", "type" and
    // "security_groups" in `obj`; the address choices are not written.
    void operator>>(json_spirit::Object& obj) const;

    std::string vpc_id;
    std::string vpc_name;
    std::string subnet_id;
    std::string subnet_name;
    std::vector<Security_Group> groups;
    std::string type;
    std::string mac_address;
    std::string ip_address;
    Net_Operation ip_op = Net_Operation::AUTO;   // how the private address is chosen
    Net_Operation mac_op = Net_Operation::AUTO;  // how the MAC address is chosen
  };

  // A volume to restore and its target storage.
  struct Volume {
    // Reads one volume: "id", "name", "size" (unsigned 64-bit, GiB), "storage_id",
    // "storage_type" required, "storage_name" optional. True on success; false, logged
    // at error priority, otherwise.
    bool operator<<(const json_spirit::Object& obj);
    // Sets "id", "name", "size", "storage_id", "storage_name", "storage_type" in `obj`.
    void operator>>(json_spirit::Object& obj) const;

    std::string id;
    std::string name;
    std::string storage_id;
    std::string storage_name;
    std::string storage_type;
    uint64_t size = 0;  // GiB
  };

  // The target instance type.
  struct Flavor {
    std::string type;
    std::string display_name;
    int32_t cpu = 0;
    int32_t ram = 0;
  };

  // Fills the entry from one element of "entries": required "catalog_uuid",
  // "backup_start_time", "src_instance_id", "src_instance_name"; optional "owner_id",
  // the target names and identifiers, "flavor" (when present, "type", "display_name",
  // "cpu" and "ram" are required), "nic" and "volumes" (arrays; their object elements
  // are appended, others skipped). True on success; false, logged at error priority,
  // when the value is not an object or a required key, interface or volume does not
  // read (members read before the failure keep their values; discard the entry).
  bool load(const json_spirit::Value& value);

  // A description of the entry (for logs and results, not the input form): the keys
  // above except "target_instance_id", the interfaces under "nics".
  json_spirit::Object dump() const;

  std::string instance_src_id;       // "src_instance_id"
  std::string instance_src_name;     // "src_instance_name"
  std::string image_id;
  std::string owner_id;              // "owner_id"
  std::string storage_id;
  std::string platform;
  std::string architecture;
  std::string diskbus;
  std::string image_type;
  std::string attach_diskbus;
  std::string boot_loader;
  std::string content_mode;
  std::string availability_zone;
  std::string schedule_tag;
  std::string storage_schedule_tag;
  std::string backup_start_time;     // "backup_start_time": catalog time point of the backup
  std::string catalog_uuid;          // "catalog_uuid"
  std::string instance_tgt_id;       // "target_instance_id"
  std::string instance_tgt_name;     // "target_instance_name"
  std::string target_cluster_id;     // "target_cluster_id"
  std::string target_cluster_name;   // "target_cluster_name"
  std::string target_node_id;        // "target_node_id"
  std::string target_node_name;      // "target_node_name"
  Flavor flavor;                     // "flavor"
  std::vector<NIC> nics;             // "nic"
  std::vector<Volume> volumes;       // "volumes"
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_RESTORE_SOURCE_ENTRY_H
