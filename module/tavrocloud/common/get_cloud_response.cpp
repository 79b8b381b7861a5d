#include "tavrocloud/common/get_cloud_response.h"

namespace tavrocloud {

namespace {

using R = Get_Cloud_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeCloudResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("cloudName", R::ELEMENT_CLOUD_NAME),
    TAVROCLOUD_ELEMENT_ROW("cloudId", R::ELEMENT_CLOUD_ID),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE};

}  // namespace

Get_Cloud_Response::Get_Cloud_Response() : Flat_Response("DescribeCloud", ELEMENTS) {}

void Get_Cloud_Response::take_text(unsigned int element, const char* text, size_t length) {
  switch (element) {
    case ELEMENT_CLOUD_NAME: cloud_.name.assign(text, length); break;
    case ELEMENT_CLOUD_ID: cloud_.id.assign(text, length); break;
    case ELEMENT_STATUS: cloud_.status = text_to_status(text, length); break;
    default: break;
  }
}

}  // namespace tavrocloud
