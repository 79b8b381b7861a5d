#include "tavrocloud/common/operate_volume_response.h"

namespace tavrocloud {

namespace {

using R = Operate_Volume_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("AttachVolumeResponse", R::ELEMENT_ATTACH_ROOT),
    TAVROCLOUD_ELEMENT_ROW("DetachVolumeResponse", R::ELEMENT_DETACH_ROOT),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Operate_Volume_Response::Operate_Volume_Response(const char* action)
    : Default_Response(action), status_(UNKNOWN) {}

void Operate_Volume_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                           const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_,
                      ELEMENT_ATTACH_ROOT | ELEMENT_DETACH_ROOT | ELEMENT_ERROR_ROOT);
  if (bit == ELEMENT_ATTACH_ROOT || bit == ELEMENT_DETACH_ROOT) status_ = UNKNOWN;
  if (bit == ELEMENT_ERROR_ROOT) message_.clear();
  element_ |= bit;
}

void Operate_Volume_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_STATUS: status_ = text_to_status(text, length); break;
    default: break;
  }
}

void Operate_Volume_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                         const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
