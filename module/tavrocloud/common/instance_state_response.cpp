#include "tavrocloud/common/instance_state_response.h"

namespace tavrocloud {

Instance_State_Response::Instance_State_Response(const char* action,
                                                 const Instance_State_Elements& elements)
    : Default_Response(action), elements_(elements), state_(PARSE_ROOT) {}

void Instance_State_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
}

void Instance_State_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                           const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit = open_element(elements_.table, local_name, element_,
                                           elements_.roots | elements_.error_root);
  if ((bit & elements_.roots) != 0) {
    reset_result();
  } else if ((bit & elements_.read_states) != 0) {
    state_ = PARSE_READ_STATE;
  } else if ((bit & elements_.other_states) != 0) {
    state_ = PARSE_OTHER_STATE;
  } else if (bit == elements_.error_root) {
    message_.clear();
  }
  element_ |= bit;
}

void Instance_State_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit =
      single_text_element(element_, elements_.code | elements_.name | elements_.message);
  if (bit == elements_.message) {
    message_.assign(text, length);
  } else if (state_ != PARSE_READ_STATE) {
    return;
  } else if (bit == elements_.code) {
    take_code(text_to_int(text, length));
  } else if (bit == elements_.name) {
    take_name(text_to_status(text, length));
  }
}

void Instance_State_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                         const ACEXML_Char*) {
  const unsigned int bit = element_bit(elements_.table, local_name);
  if ((bit & (elements_.read_states | elements_.other_states)) != 0) state_ = PARSE_ROOT;
  element_ &= ~bit;
}

}  // namespace tavrocloud
