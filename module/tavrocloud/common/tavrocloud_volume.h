// A disk of the cloud and where it is attached; followed by the client through creation,
// attachment and deletion, and read and written by the jobs.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_VOLUME_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_VOLUME_H

#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Volume_Attachment {
  std::string volume_id;
  std::string instance_id;
  std::string device;
  Status status = UNKNOWN;
};

struct Volume {
  std::string id;
  std::string name;
  int size = 0;  // GiB
  Status status = UNKNOWN;
  bool is_root = false;
  std::string storage_id;
  std::string availability_zone;
  std::string host_name;  // no answer fills it
  std::string node_id;
  Volume_Attachment volume_attachment;
};

using Volumes = std::vector<Volume>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_VOLUME_H
