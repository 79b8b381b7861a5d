#include "tavrocloud/common/create_tmp_snapshot_response.h"

namespace tavrocloud {

namespace {

using R = Create_Tmp_Snapshot_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("CreateTmpSnapshotsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("tmpSnapshotId", R::ELEMENT_TMP_SNAPSHOT_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Create_Tmp_Snapshot_Response::Create_Tmp_Snapshot_Response()
    : Default_Response("CreateTmpSnapshots") {}

void Create_Tmp_Snapshot_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                                const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: tmp_snapshot_ids_.clear(); break;
    case ELEMENT_ITEM: tmp_snapshot_ids_.emplace_back(); break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Create_Tmp_Snapshot_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_TMP_SNAPSHOT_ID:
      if (!tmp_snapshot_ids_.empty()) tmp_snapshot_ids_.back().assign(text, length);
      break;
    default: break;
  }
}

void Create_Tmp_Snapshot_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                              const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
