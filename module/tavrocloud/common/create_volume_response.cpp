#include "tavrocloud/common/create_volume_response.h"

namespace tavrocloud {

namespace {

using R = Create_Volume_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("CreateVolumeResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("volumeId", R::ELEMENT_VOLUME_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Create_Volume_Response::Create_Volume_Response() : Default_Response("CreateVolume") {}

void Create_Volume_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                          const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  if (bit == ELEMENT_ROOT) volume_id_.clear();
  if (bit == ELEMENT_ERROR_ROOT) message_.clear();
  element_ |= bit;
}

void Create_Volume_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_VOLUME_ID: volume_id_.assign(text, length); break;
    default: break;
  }
}

void Create_Volume_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                        const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
