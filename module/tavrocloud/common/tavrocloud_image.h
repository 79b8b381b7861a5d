// An image of the cloud, read with an instance's details; a restore recreates instances
// from it.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_IMAGE_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "tavrocloud/common/utils.h"

namespace tavrocloud {

struct Image {
  std::string id;
  std::string name;
  std::string location;
  std::string architecture;
  int64_t size = 0;
  std::string hypervisor;
  std::string bootloader;
  std::string contentmode;
  std::string disk_bus;
  std::string platform;
  std::string storage_id;  // no answer fills it
  Status status = UNKNOWN;
};

using Images = std::vector<Image>;

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_IMAGE_H
