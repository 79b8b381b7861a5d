// A temporary snapshot of a volume, which the cloud can attach to an instance as a disk;
// the backup reads volumes through them where the cloud offers them.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_TMP_SNAPSHOT_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_TMP_SNAPSHOT_H

#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Tmp_Snapshot {
  std::string id;
  std::string name;
  std::string volume_id;
  Status status = UNKNOWN;
  std::string attach_instance_id;  // empty when not attached
};

using Tmp_Snapshots = std::vector<Tmp_Snapshot>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_TMP_SNAPSHOT_H
