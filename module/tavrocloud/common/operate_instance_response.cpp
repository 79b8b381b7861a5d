#include "tavrocloud/common/operate_instance_response.h"

namespace tavrocloud {

namespace {

using R = Operate_Instance_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("StartInstancesResponse", R::ELEMENT_START_ROOT),
    TAVROCLOUD_ELEMENT_ROW("StopInstancesResponse", R::ELEMENT_STOP_ROOT),
    TAVROCLOUD_ELEMENT_ROW("currentState", R::ELEMENT_CURRENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("code", R::ELEMENT_CODE),
    TAVROCLOUD_ELEMENT_ROW("name", R::ELEMENT_NAME),
    TAVROCLOUD_ELEMENT_ROW("previousState", R::ELEMENT_PREVIOUS_STATE),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Operate_Instance_Response::Operate_Instance_Response(const char* action)
    : Default_Response(action),
      state_(PARSE_ROOT),
      current_state_code_(0),
      current_state_name_(UNKNOWN) {}

void Operate_Instance_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
}

void Operate_Instance_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                             const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_,
                      ELEMENT_START_ROOT | ELEMENT_STOP_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_START_ROOT:
    case ELEMENT_STOP_ROOT:
      current_state_code_ = 0;
      current_state_name_ = UNKNOWN;
      break;
    case ELEMENT_CURRENT_STATE: state_ = PARSE_CURRENT_STATE; break;
    case ELEMENT_PREVIOUS_STATE: state_ = PARSE_PREVIOUS_STATE; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Operate_Instance_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_CODE:
      if (state_ == PARSE_CURRENT_STATE) current_state_code_ = text_to_int(text, length);
      break;
    case ELEMENT_NAME:
      if (state_ == PARSE_CURRENT_STATE) current_state_name_ = text_to_status(text, length);
      break;
    default: break;
  }
}

void Operate_Instance_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                           const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_CURRENT_STATE || bit == ELEMENT_PREVIOUS_STATE) state_ = PARSE_ROOT;
  element_ &= ~bit;
}

}  // namespace tavrocloud
