// A storage of the cloud that holds volumes; its type decides power-off and temporary
// snapshots during a backup, its free space where a restore puts volumes.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_STORAGE_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_STORAGE_H

#include <string>
#include <vector>

namespace tavrocloud {

struct Storage {
  std::string id;
  std::string name;
  std::string type;  // "nfs_raw", "localfs", ...
  std::string location;
  std::string file_format;
  bool disable = false;
  int space_max = 0;   // GiB
  int space_used = 0;  // GiB
  int logic_space_max = 0;
  int logic_space_used = 0;
};

using Storages = std::vector<Storage>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_STORAGE_H
