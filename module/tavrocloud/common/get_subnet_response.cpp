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

}  // namespace

Get_Subnet_Response::Get_Subnet_Response() : Default_Response("DescribeSubnets") {}

void Get_Subnet_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                       const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: subnets_.clear(); break;
    case ELEMENT_ITEM: subnets_.emplace_back(); break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Subnet_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (!subnets_.empty()) {
    set_field(subnets_.back(), bit, text, length);
  }
}

void Get_Subnet_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                     const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
