// Parser of the answer to "DescribeVpcs": the VPCs of the cloud or the one asked for.
#ifndef TAVROCLOUD_COMMON_GET_VPC_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_VPC_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_network.h"

namespace tavrocloud {

class Get_Vpc_Response : public Flat_Response {
 public:
  Get_Vpc_Response();

  const Vpcs& vpcs() const { return vpcs_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_VPC_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_VPC_ID = 8,
    ELEMENT_STATE = 16,
    ELEMENT_CIDR_BLOCK = 32,
    ELEMENT_VPC_NAME = 64,
    ELEMENT_IS_PUBLIC_NETWORK = 128,
    ELEMENT_SHARED = 256,
    ELEMENT_OWNER_ID = 512,
    ELEMENT_ERROR_ROOT = 1024,
    ELEMENT_MESSAGE = 2048,
    STR_ELEMENTS_MASK = 3064
  };

 private:
  void reset_results() override { vpcs_.clear(); }
  void open_item() override { vpcs_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Vpcs vpcs_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_VPC_RESPONSE_H
