#include "tavrocloud/common/get_cloud_version_response.h"

namespace tavrocloud {

namespace {

using R = Get_Cloud_Version_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("getCloudVersionResult", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("version", R::ELEMENT_VERSION),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE};

}  // namespace

Get_Cloud_Version_Response::Get_Cloud_Version_Response()
    : Flat_Response("GetCloudVersion", ELEMENTS) {}

}  // namespace tavrocloud
