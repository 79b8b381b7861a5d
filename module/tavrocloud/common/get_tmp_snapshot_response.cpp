#include "tavrocloud/common/get_tmp_snapshot_response.h"

namespace tavrocloud {

namespace {

using R = Get_Tmp_Snapshot_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeTmpSnapshotsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("tmpSnapshotSet", R::ELEMENT_TMP_SNAPSHOT_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("tmpSnapshotId", R::ELEMENT_TMP_SNAPSHOT_ID),
    TAVROCLOUD_ELEMENT_ROW("tmpSnapshotName", R::ELEMENT_TMP_SNAPSHOT_NAME),
    TAVROCLOUD_ELEMENT_ROW("volumeId", R::ELEMENT_VOLUME_ID),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("attachInstanceId", R::ELEMENT_ATTACH_INSTANCE_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Tmp_Snapshot& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_TMP_SNAPSHOT_ID: record.id.assign(text, length); break;
    case R::ELEMENT_TMP_SNAPSHOT_NAME: record.name.assign(text, length); break;
    case R::ELEMENT_VOLUME_ID: record.volume_id.assign(text, length); break;
    case R::ELEMENT_STATUS: record.status = text_to_status(text, length); break;
    case R::ELEMENT_ATTACH_INSTANCE_ID: record.attach_instance_id.assign(text, length); break;
    default: break;
  }
}

}  // namespace

Get_Tmp_Snapshot_Response::Get_Tmp_Snapshot_Response() : Default_Response("DescribeTmpSnapshots") {}

void Get_Tmp_Snapshot_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                             const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: tmp_snapshots_.clear(); break;
    case ELEMENT_ITEM: tmp_snapshots_.emplace_back(); break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Tmp_Snapshot_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (!tmp_snapshots_.empty()) {
    set_field(tmp_snapshots_.back(), bit, text, length);
  }
}

void Get_Tmp_Snapshot_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                           const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
