// The catalog record of one cloud instance backup: the generic set (Backup_Set) plus
// the instance, its image, its network interfaces and its volumes. The instance backup
// handler fills and commits one per instance; the restore reads it back to rebuild the
// instance. The nested records are plain values (copied and moved member by member);
// their JSON readers and writers, and the record's own JSON form, are the host
// catalog's (catalog/tavro_backup_set.cpp).
#ifndef BACKUP_SET_COMMON_TAVRO_BACKUP_SET_H
#define BACKUP_SET_COMMON_TAVRO_BACKUP_SET_H

#include "backup_set/common/backup_set.h"
#include "json/value.h"

#include <cstdint>
#include <string>
#include <vector>

class Tavro_Backup_Set : public Backup_Set {
 public:
  // "instance_info": what the restore needs of the instance itself.
  struct Instance {
    std::string backup_id;
    std::string backup_name;
    std::string type;
    std::string display_name;
    std::string availability_zone;
    std::string owner_id;
    std::string schedule_tag;
    std::string storage_schedule_tag;
    std::string storage_id;
    std::string root_volume_id;
    std::string platform;
    uint64_t cpu = 0;
    uint64_t memory = 0;
  };

  // "image_info": the image the instance was made from.
  struct Image {
    std::string id;
    std::string name;
    std::string location;
    std::string architecture;
    uint64_t size = 0;
    std::string hypervisor;
    std::string boot_loader;
    std::string content_mode;
    std::string disk_bus;
    std::string storage_id;
  };

  // One backed-up volume (an element of "volumes"). JSON members carry the field names.
  struct Volume {
    Volume() = default;
    Volume(const Volume&) = default;
    Volume(Volume&&) = default;
    Volume& operator=(const Volume&) = default;
    Volume& operator=(Volume&&) = default;
    ~Volume() = default;

    // Fills the volume from its JSON form (every member required, "size" unsigned
    // 64-bit, "is_root" boolean, the others strings); true on success, false (logged at
    // error priority) when a member is missing or of another type.
    bool operator<<(const json_spirit::Object& obj);
    // Sets every member of the JSON form in `obj`.
    void operator>>(json_spirit::Object& obj) const;

    std::string id;
    std::string name;
    uint64_t size = 0;  // GiB
    bool is_root = false;
    std::string image_id;
    std::string storage_id;
    std::string storage_name;
    std::string storage_type;
    std::string availability_zone;
    std::string host_name;
    std::string attach_instance_id;
    std::string device_name;
    std::string snapshot_id;
  };

  // One security group of a network interface: {"id", "name"}.
  struct Security_Group {
    Security_Group() = default;
    Security_Group(const Security_Group&) = default;
    Security_Group(Security_Group&&) = default;
    Security_Group& operator=(const Security_Group&) = default;
    Security_Group& operator=(Security_Group&&) = default;
    ~Security_Group() = default;

    // Both members required (strings); true on success, false (logged) otherwise.
    bool operator<<(const json_spirit::Object& obj);
    void operator>>(json_spirit::Object& obj) const;

    std::string id;
    std::string name;
  };

  // One network interface of the instance (an element of "network"). JSON members carry
  // the field names; the groups are the array "security_groups".
  struct Network {
    Network() = default;
    Network(const Network&) = default;
    Network(Network&&) = default;
    Network& operator=(const Network&) = default;
    Network& operator=(Network&&) = default;
    ~Network() = default;

    // Fills the interface from its JSON form (every member required; each object
    // element of "security_groups" must be a readable group, other elements are
    // skipped); true on success, false (logged at error priority) otherwise.
    bool operator<<(const json_spirit::Object& obj);
    void operator>>(json_spirit::Object& obj) const;

    std::string ip;
    std::string mac_address;
    std::string host_address;
    std::string subnet_id;
    std::string subnet_name;
    std::string vpc_id;
    std::string vpc_name;
    std::vector<Security_Group> groups;
    std::string type;  // "main" or "extend"
  };

  Tavro_Backup_Set();
  Tavro_Backup_Set(const Tavro_Backup_Set&) = default;
  Tavro_Backup_Set& operator=(const Tavro_Backup_Set&) = default;
  ~Tavro_Backup_Set() override;

  // "tavro".
  const char* module() const override;

  // Replaces the record's contents with those of its JSON form: the set's members (see
  // Backup_Set::load), then, required, "instance_id", "instance_name" (strings),
  // "instance_info" and "image_info" (objects with all their members, "backup_name"
  // optional), "network" (an array of interface objects, or one interface object) and
  // "volumes" (an array; its object elements must be readable volumes). Throws
  // json_spirit::Error or std::domain_error; on a throw the record is partly filled.
  void load(const json_spirit::Object& obj) override;

  // Backup_Set's tokens plus "instance_id", "instance_name", "host_address",
  // "node_name", "volumes", "networks" (counts).
  bool token_value(const std::string& token, std::string& out) const override;

  std::string instance_id;    // "instance_id"
  std::string instance_name;  // "instance_name"
  std::string host_address;   // "host_address": the node that ran the instance
  std::string node_name;      // "node_name"
  Instance instance_info;     // "instance_info"
  Image image_info;           // "image_info"
  std::vector<Network> networks;  // "network"
  std::vector<Volume> volumes;    // "volumes"

 protected:
  void write_members(json_spirit::Object& obj) const override;
};

#endif  // BACKUP_SET_COMMON_TAVRO_BACKUP_SET_H
