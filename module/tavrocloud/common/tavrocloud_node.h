// A compute node of the cloud; the backup uses an instance's node as the task owner and
// the restore moves volumes between nodes.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_NODE_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_NODE_H

#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Node {
  std::string id;
  std::string name;
  std::string host_id;
  std::string cluster_id;
  Status status = UNKNOWN;
  int cpu_cores = 0;
  int cpu_sockets = 0;
  int cpu_max = 0;
  int cpu_used = 0;
  int memory_max = 0;
  int memory_used = 0;
  std::string ip;
  std::string mac;
};

using Nodes = std::vector<Node>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_NODE_H
