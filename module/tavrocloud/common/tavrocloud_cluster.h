// A cluster (availability zone) of the cloud; listed by the console and used to place
// restored volumes and instances.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_CLUSTER_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_CLUSTER_H

#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Cluster {
  std::string id;
  std::string name;
  Status status = UNKNOWN;
};

using Clusters = std::vector<Cluster>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_CLUSTER_H
