#include "tavrocloud/common/create_instance_response.h"

namespace tavrocloud {

namespace {

using R = Create_Instance_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("RunInstancesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("instanceId", R::ELEMENT_INSTANCE_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE};

}  // namespace

Create_Instance_Response::Create_Instance_Response()
    : Flat_Response("RunInstances", ELEMENTS) {}

}  // namespace tavrocloud
