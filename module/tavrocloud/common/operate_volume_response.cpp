#include "tavrocloud/common/operate_volume_response.h"

namespace tavrocloud {

namespace {

using R = Operate_Volume_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("AttachVolumeResponse", R::ELEMENT_ATTACH_ROOT),
    TAVROCLOUD_ELEMENT_ROW("DetachVolumeResponse", R::ELEMENT_DETACH_ROOT),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE,
                                         R::ELEMENT_ATTACH_ROOT | R::ELEMENT_DETACH_ROOT,
                                         R::STR_ELEMENTS_MASK, R::ELEMENT_ERROR_ROOT,
                                         R::ELEMENT_MESSAGE};

}  // namespace

Operate_Volume_Response::Operate_Volume_Response(const char* action)
    : Flat_Response(action, ELEMENTS), status_(UNKNOWN) {}

}  // namespace tavrocloud
