#include "tavrocloud/common/common_result_response.h"

namespace tavrocloud {

namespace {

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DeleteVolumeResponse",
                           Common_Result_Response::ELEMENT_DELETE_VOLUME_ROOT),
    TAVROCLOUD_ELEMENT_ROW("ConvertVolumeResponse",
                           Common_Result_Response::ELEMENT_CONVERT_VOLUME_ROOT),
    TAVROCLOUD_ELEMENT_ROW("DeleteSnapshotResponse",
                           Common_Result_Response::ELEMENT_DELETE_SNAPSHOT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("AttachTmpSnapshotResponse",
                           Common_Result_Response::ELEMENT_ATTACH_TMP_SNAPSHOT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("DetachTmpSnapshotResponse",
                           Common_Result_Response::ELEMENT_DETACH_TMP_SNAPSHOT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("DeleteTmpSnapshotsResponse",
                           Common_Result_Response::ELEMENT_DELETE_TMP_SNAPSHOT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("ModifyVolumeStorageResponse",
                           Common_Result_Response::ELEMENT_MODIFY_VOLUME_STORAGE_ROOT),
    TAVROCLOUD_ELEMENT_ROW("DeleteNetworkInterfaceResponse",
                           Common_Result_Response::ELEMENT_DELETE_NETWORK_INTERFACE_ROOT),
    TAVROCLOUD_ELEMENT_ROW("return", Common_Result_Response::ELEMENT_RETURN),
    TAVROCLOUD_ELEMENT_ROW("Error", Common_Result_Response::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", Common_Result_Response::ELEMENT_MESSAGE),
    {nullptr, 0, Common_Result_Response::ELEMENT_NONE}};

// Every root but "Error" resets the flag.
const Flat_Response_Elements ELEMENTS = {
    ELEMENT_TABLE, Common_Result_Response::ROOT_ELEM & ~Common_Result_Response::ELEMENT_ERROR_ROOT,
    Common_Result_Response::STR_ELEMENTS_MASK, Common_Result_Response::ELEMENT_ERROR_ROOT,
    Common_Result_Response::ELEMENT_MESSAGE};

}  // namespace

Common_Result_Response::Common_Result_Response(const char* action)
    : Flat_Response(action, ELEMENTS), result_(false) {}

}  // namespace tavrocloud
