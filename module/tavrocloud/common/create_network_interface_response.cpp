#include "tavrocloud/common/create_network_interface_response.h"

namespace tavrocloud {

namespace {

using R = Create_Network_Interface_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("CreateNetworkInterfaceResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("networkInterfaceId", R::ELEMENT_NETWORK_INTERFACE_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE};

}  // namespace

Create_Network_Interface_Response::Create_Network_Interface_Response()
    : Flat_Response("CreateNetworkInterface", ELEMENTS) {}

}  // namespace tavrocloud
