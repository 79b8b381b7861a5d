// A snapshot of a volume; the backup without temporary snapshots makes volumes from the
// snapshots of an instance backup.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_SNAPSHOT_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_SNAPSHOT_H

#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Snapshot {
  std::string id;
  std::string name;
  Status status = UNKNOWN;  // a finished snapshot is COMPLETED
  std::string volume_id;
};

using Snapshots = std::vector<Snapshot>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_SNAPSHOT_H
