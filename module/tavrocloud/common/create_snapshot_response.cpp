#include "tavrocloud/common/create_snapshot_response.h"

namespace tavrocloud {

namespace {

using R = Create_Snapshot_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("CreateSnapshotResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("snapshotId", R::ELEMENT_SNAPSHOT_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Create_Snapshot_Response::Create_Snapshot_Response() : Default_Response("CreateSnapshot") {}

void Create_Snapshot_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                            const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  if (bit == ELEMENT_ROOT) snapshot_id_.clear();
  if (bit == ELEMENT_ERROR_ROOT) message_.clear();
  element_ |= bit;
}

void Create_Snapshot_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_SNAPSHOT_ID: snapshot_id_.assign(text, length); break;
    default: break;
  }
}

void Create_Snapshot_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                          const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
