// Parser of the answer to "DescribeInstanceTypes": the flavours instances are created with.
// Read with an instance's details and by the console.
#ifndef TAVROCLOUD_COMMON_GET_INSTANCE_TYPE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_INSTANCE_TYPE_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_instance.h"

namespace tavrocloud {

class Get_Instance_Type_Response : public Default_Response {
 public:
  Get_Instance_Type_Response();

  const Instance_Types& instance_types() const { return instance_types_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

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
  Instance_Types instance_types_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_INSTANCE_TYPE_RESPONSE_H
