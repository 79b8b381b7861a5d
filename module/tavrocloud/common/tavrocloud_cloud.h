// The cloud itself as "DescribeCloud" reports it; read by the console's lister.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_CLOUD_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_CLOUD_H

#include <string>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Cloud {
  std::string id;
  std::string name;
  Status status = UNKNOWN;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_CLOUD_H
