#include "tavrocloud/common/get_subnet_response.h"

namespace tavrocloud {

namespace {

using R = Get_Subnet_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeSubnetsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("subnetSet", R::ELEMENT_SUBNET_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("subnetId", R::ELEMENT_SUBNET_ID),
    TAVROCLOUD_ELEMENT_ROW("subnetName", R::ELEMENT_SUBNET_NAME),
    TAVROCLOUD_ELEMENT_ROW("state", R::ELEMENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("cidrBlock", R::ELEMENT_CIDR_BLOCK),
    TAVROCLOUD_ELEMENT_ROW("vpcId", R::ELEMENT_VPC_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Subnet& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_SUBNET_ID: record.id.assign(text, length); break;
    case R::ELEMENT_SUBNET_NAME: record.name.assign(text, length); break;
    case R::ELEMENT_STATE: record.status = text_to_status(text, length); break;
    case R::ELEMENT_CIDR_BLOCK: record.cidr_block.assign(text, length); break;
    case R::ELEMENT_VPC_ID: record.vpc_id.assign(text, length); break;
    default: break;
  }
}

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Get_Subnet_Response::Get_Subnet_Response() : Flat_Response("DescribeSubnets", ELEMENTS) {}

// A field outside any item has no record to go to and is dropped.
void Get_Subnet_Response::take_text(unsigned int element, const char* text, size_t length) {
  if (!subnets_.empty()) set_field(subnets_.back(), element, text, length);
}

}  // namespace tavrocloud
