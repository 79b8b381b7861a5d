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

}  // namespace

Common_Result_Response::Common_Result_Response(const char* action)
    : Default_Response(action), result_(false) {}

void Common_Result_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                          const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit = element_to_open(ELEMENT_TABLE, local_name, element_, ROOT_ELEM);
  if (bit == ELEMENT_ERROR_ROOT) {
    message_.clear();
  } else if ((bit & ROOT_ELEM) != 0) {
    result_ = false;
  }
  element_ |= bit;
}

void Common_Result_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_RETURN: result_ = text_to_bool(text, length); break;
    default: break;
  }
}

void Common_Result_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                        const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
