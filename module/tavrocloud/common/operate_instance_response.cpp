#include "tavrocloud/common/operate_instance_response.h"

namespace tavrocloud {

namespace {

using R = Operate_Instance_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("StartInstancesResponse", R::ELEMENT_START_ROOT),
    TAVROCLOUD_ELEMENT_ROW("StopInstancesResponse", R::ELEMENT_STOP_ROOT),
    TAVROCLOUD_ELEMENT_ROW("currentState", R::ELEMENT_CURRENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("code", R::ELEMENT_CODE),
    TAVROCLOUD_ELEMENT_ROW("name", R::ELEMENT_NAME),
    TAVROCLOUD_ELEMENT_ROW("previousState", R::ELEMENT_PREVIOUS_STATE),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Instance_State_Elements ELEMENTS = {ELEMENT_TABLE,
                                          R::ELEMENT_START_ROOT | R::ELEMENT_STOP_ROOT,
                                          R::ELEMENT_CURRENT_STATE, R::ELEMENT_PREVIOUS_STATE,
                                          R::ELEMENT_CODE, R::ELEMENT_NAME, R::ELEMENT_ERROR_ROOT,
                                          R::ELEMENT_MESSAGE};

}  // namespace

Operate_Instance_Response::Operate_Instance_Response(const char* action)
    : Instance_State_Response(action, ELEMENTS),
      current_state_code_(0),
      current_state_name_(UNKNOWN) {}

}  // namespace tavrocloud
