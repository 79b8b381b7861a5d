#include "tavrocloud/common/get_cloud_version_response.h"

namespace tavrocloud {

namespace {

using R = Get_Cloud_Version_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("getCloudVersionResult", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("version", R::ELEMENT_VERSION),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Get_Cloud_Version_Response::Get_Cloud_Version_Response() : Default_Response("GetCloudVersion") {}

void Get_Cloud_Version_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                              const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  if (bit == ELEMENT_ROOT) version_.clear();
  if (bit == ELEMENT_ERROR_ROOT) message_.clear();
  element_ |= bit;
}

void Get_Cloud_Version_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_VERSION: version_.assign(text, length); break;
    default: break;
  }
}

void Get_Cloud_Version_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                            const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
