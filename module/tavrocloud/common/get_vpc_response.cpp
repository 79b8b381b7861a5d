#include "tavrocloud/common/get_vpc_response.h"

namespace tavrocloud {

namespace {

using R = Get_Vpc_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeVpcsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("vpcSet", R::ELEMENT_VPC_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("vpcId", R::ELEMENT_VPC_ID),
    TAVROCLOUD_ELEMENT_ROW("state", R::ELEMENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("cidrBlock", R::ELEMENT_CIDR_BLOCK),
    TAVROCLOUD_ELEMENT_ROW("vpcName", R::ELEMENT_VPC_NAME),
    TAVROCLOUD_ELEMENT_ROW("isPublicNetwork", R::ELEMENT_IS_PUBLIC_NETWORK),
    TAVROCLOUD_ELEMENT_ROW("shared", R::ELEMENT_SHARED),
    TAVROCLOUD_ELEMENT_ROW("ownerId", R::ELEMENT_OWNER_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Vpc& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_VPC_ID: record.id.assign(text, length); break;
    case R::ELEMENT_STATE: record.status = text_to_status(text, length); break;
    case R::ELEMENT_CIDR_BLOCK: record.cidr_block.assign(text, length); break;
    case R::ELEMENT_VPC_NAME: record.name.assign(text, length); break;
    case R::ELEMENT_IS_PUBLIC_NETWORK: record.is_public_network = text_to_bool(text, length); break;
    case R::ELEMENT_SHARED: record.shared = text_to_bool(text, length); break;
    case R::ELEMENT_OWNER_ID: record.owner_id.assign(text, length); break;
    default: break;
  }
}

}  // namespace

Get_Vpc_Response::Get_Vpc_Response() : Default_Response("DescribeVpcs") {}

void Get_Vpc_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                    const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: vpcs_.clear(); break;
    case ELEMENT_ITEM: vpcs_.emplace_back(); break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Vpc_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (!vpcs_.empty()) {
    set_field(vpcs_.back(), bit, text, length);
  }
}

void Get_Vpc_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                  const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
