#include "tavrocloud/common/delete_instance_response.h"

namespace tavrocloud {

namespace {

using R = Delete_Instance_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("TerminateInstancesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("shutdownState", R::ELEMENT_SHUTDOWN_STATE),
    TAVROCLOUD_ELEMENT_ROW("code", R::ELEMENT_CODE),
    TAVROCLOUD_ELEMENT_ROW("name", R::ELEMENT_NAME),
    TAVROCLOUD_ELEMENT_ROW("currentState", R::ELEMENT_CURRENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

// "shutdownState" and "currentState" both report the state the instance is going to.
const Instance_State_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT,
                                          R::ELEMENT_SHUTDOWN_STATE | R::ELEMENT_CURRENT_STATE, 0,
                                          R::ELEMENT_CODE, R::ELEMENT_NAME, R::ELEMENT_ERROR_ROOT,
                                          R::ELEMENT_MESSAGE};

}  // namespace

Delete_Instance_Response::Delete_Instance_Response()
    : Instance_State_Response("TerminateInstances", ELEMENTS),
      shutdown_state_code_(0),
      shutdown_state_name_(UNKNOWN) {}

// A cloud that terminates at once reports "terminated" straight away; that is as good
// as "shutting-down" for the caller, who only needs the instance to go.
bool Delete_Instance_Response::success() const {
  return shutdown_state_name_ == SHUTTING_DOWN || shutdown_state_name_ == TERMINATED;
}

}  // namespace tavrocloud
