#include "tavrocloud/common/delete_instance_response.h"

namespace tavrocloud {

namespace {

using R = Delete_Instance_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("TerminateInstancesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("shutdownState", R::ELEMENT_SHUTDOWN_STATE),
    TAVROCLOUD_ELEMENT_ROW("code", R::ELEMENT_CODE),
    TAVROCLOUD_ELEMENT_ROW("name", R::ELEMENT_NAME),
    TAVROCLOUD_ELEMENT_ROW("currentState", R::ELEMENT_CURRENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Delete_Instance_Response::Delete_Instance_Response()
    : Default_Response("TerminateInstances"),
      state_(PARSE_ROOT),
      shutdown_state_code_(0),
      shutdown_state_name_(UNKNOWN) {}

// A cloud that terminates at once reports "terminated" straight away; that is as good
// as "shutting-down" for the caller, who only needs the instance to go.
bool Delete_Instance_Response::success() const {
  return shutdown_state_name_ == SHUTTING_DOWN || shutdown_state_name_ == TERMINATED;
}

void Delete_Instance_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
}

void Delete_Instance_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                            const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT:
      shutdown_state_code_ = 0;
      shutdown_state_name_ = UNKNOWN;
      break;
    case ELEMENT_SHUTDOWN_STATE:
    case ELEMENT_CURRENT_STATE: state_ = PARSE_SHUTDOWN_STATE; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Delete_Instance_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  switch (single_text_element(element_, STR_ELEMENTS_MASK)) {
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_CODE:
      if (state_ == PARSE_SHUTDOWN_STATE) shutdown_state_code_ = text_to_int(text, length);
      break;
    case ELEMENT_NAME:
      if (state_ == PARSE_SHUTDOWN_STATE) shutdown_state_name_ = text_to_status(text, length);
      break;
    default: break;
  }
}

void Delete_Instance_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                          const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_SHUTDOWN_STATE || bit == ELEMENT_CURRENT_STATE) state_ = PARSE_ROOT;
  element_ &= ~bit;
}

}  // namespace tavrocloud
