// Parser of the answer to "DescribeInstanceTypes": the flavours instances are created with.
// Read with an instance's details and by the console.
#ifndef TAVROCLOUD_COMMON_GET_INSTANCE_TYPE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_INSTANCE_TYPE_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_instance.h"

namespace tavrocloud {

class Get_Instance_Type_Response : public Flat_Response {
 public:
  Get_Instance_Type_Response();

  const Instance_Types& instance_types() const { return instance_types_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_ITEM = 2,
    ELEMENT_INSTANCE_TYPE = 4,
    ELEMENT_DISPLAY_NAME = 8,
    ELEMENT_CPU = 16,
    ELEMENT_RAM = 32,
    ELEMENT_DISK = 64,
    ELEMENT_MAX = 128,
    ELEMENT_AVAILABLE = 256,
    ELEMENT_IS_BARE_METAL = 512,
    ELEMENT_ERROR_ROOT = 1024,
    ELEMENT_MESSAGE = 2048,
    STR_ELEMENTS_MASK = 3068
  };

 private:
  void reset_results() override { instance_types_.clear(); }
  void open_item() override { instance_types_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Instance_Types instance_types_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_INSTANCE_TYPE_RESPONSE_H
