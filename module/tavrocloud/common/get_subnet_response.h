// Parser of the answer to "DescribeSubnets": the subnets of the cloud, of a VPC or the one
// asked for.
#ifndef TAVROCLOUD_COMMON_GET_SUBNET_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_SUBNET_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_network.h"

namespace tavrocloud {

class Get_Subnet_Response : public Flat_Response {
 public:
  Get_Subnet_Response();

  const Subnets& subnets() const { return subnets_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_SUBNET_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_SUBNET_ID = 8,
    ELEMENT_SUBNET_NAME = 16,
    ELEMENT_STATE = 32,
    ELEMENT_CIDR_BLOCK = 64,
    ELEMENT_VPC_ID = 128,
    ELEMENT_ERROR_ROOT = 256,
    ELEMENT_MESSAGE = 512,
    STR_ELEMENTS_MASK = 760
  };

 private:
  void reset_results() override { subnets_.clear(); }
  void open_item() override { subnets_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Subnets subnets_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_SUBNET_RESPONSE_H
