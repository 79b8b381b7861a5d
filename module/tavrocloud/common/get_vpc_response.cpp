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

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Get_Vpc_Response::Get_Vpc_Response() : Flat_Response("DescribeVpcs", ELEMENTS) {}

// A field outside any item has no record to go to and is dropped.
void Get_Vpc_Response::take_text(unsigned int element, const char* text, size_t length) {
  if (!vpcs_.empty()) set_field(vpcs_.back(), element, text, length);
}

}  // namespace tavrocloud
