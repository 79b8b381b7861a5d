// A virtual machine of the cloud and the flavour it runs with. The instance query fills
// the plain fields, the type name and each volume's id and size; the detail query
// completes the type, the volumes and the image. The jobs back up and restore these.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_INSTANCE_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_INSTANCE_H

#include <string>
#include <vector>

#include "tavrocloud/common/tavrocloud_image.h"
#include "tavrocloud/common/tavrocloud_network.h"
#include "tavrocloud/common/tavrocloud_volume.h"
#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Instance_Type {
  std::string type;
  std::string display_name;
  int cpu = 0;
  int ram = 0;
  int disk = 0;
  int max = 0;
  int available = 0;
  bool is_bare_metal = false;
};

using Instance_Types = std::vector<Instance_Type>;

struct Instance {
  std::string id;
  std::string ip;
  std::string name;
  std::string mac_address;
  std::string host_address;  // the node that runs it
  std::string image_id;
  Status status = UNKNOWN;
  int cpu = 0;
  int memory = 0;
  std::string availability_zone;
  std::string subnet_id;
  std::string vpc_id;
  std::string storage_id;
  std::string schedule_tag;
  std::string storage_schedule_tag;
  std::string owner_id;
  std::string reservation_id;  // no answer fills it
  std::string platform;
  std::string hypervisor;
  std::string bootloader;  // no answer fills it
  std::string bootorder;
  std::string disk_bus;  // no answer fills it
  Security_Group security_group;
  Instance_Type instance_type;
  Volumes volumes;
  Image image;
  Network_Interfaces network_interfaces;
};

using Instances = std::vector<Instance>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_INSTANCE_H
