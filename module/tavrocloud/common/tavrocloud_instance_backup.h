// A backup of a whole instance made by the cloud, with its disks; the backup without
// temporary snapshots makes one and reads its disks' snapshots.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_INSTANCE_BACKUP_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_INSTANCE_BACKUP_H

#include <cstdint>
#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Block_Device_Mapping {
  std::string mapping_id;
  std::string image_id;
  bool is_root = false;
  std::string device_name;
  std::string virtual_name;
  std::string snapshot_id;
  int64_t size = 0;
  std::string volume_id;
  std::string storage_id;
  bool delete_on_termination = false;
};

using Block_Device_Mappings = std::vector<Block_Device_Mapping>;

struct Instance_Backup {
  std::string id;
  std::string name;
  int size = 0;
  Status status = UNKNOWN;  // a finished backup is COMPLETE
  std::string instance_id;
  std::string storage_id;
  Block_Device_Mappings block_device_mappings;
};

using Instance_Backups = std::vector<Instance_Backup>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_INSTANCE_BACKUP_H
