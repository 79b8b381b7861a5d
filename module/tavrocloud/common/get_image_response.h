// Parser of the answer to "DescribeImages": the images asked for. Read with an instance's
// details; a restore recreates instances from the image.
#ifndef TAVROCLOUD_COMMON_GET_IMAGE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_IMAGE_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_image.h"

namespace tavrocloud {

class Get_Image_Response : public Flat_Response {
 public:
  Get_Image_Response();

  const Images& images() const { return images_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_ITEM = 2,
    ELEMENT_ID = 4,
    ELEMENT_NAME = 8,
    ELEMENT_LOCATION = 16,
    ELEMENT_ARCHITECTURE = 32,
    ELEMENT_SIZE = 64,
    ELEMENT_HYPERVISOR = 128,
    ELEMENT_BOOTLOADER = 256,
    ELEMENT_CONTENTMODE = 512,
    ELEMENT_DISK_BUS = 1024,
    ELEMENT_PLATFORM = 2048,
    ELEMENT_STATE = 4096,
    ELEMENT_ERROR_ROOT = 8192,
    ELEMENT_MESSAGE = 16384,
    STR_ELEMENTS_MASK = 24572
  };

 private:
  void reset_results() override { images_.clear(); }
  void open_item() override { images_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Images images_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_IMAGE_RESPONSE_H
