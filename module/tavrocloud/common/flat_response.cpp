#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

Flat_Response::Flat_Response(const char* action, const Flat_Response_Elements& elements)
    : Default_Response(action), elements_(elements) {}

void Flat_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                 const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const unsigned int bit = open_element(elements_.table, local_name, element_,
                                           elements_.roots | elements_.error_root);
  if ((bit & elements_.roots) != 0) {
    reset_results();
  } else if (bit != 0 && bit == elements_.item) {
    if (nesting_.enter_item(true)) open_item();
  } else if (bit == elements_.error_root) {
    message_.clear();
  }
  element_ |= bit;
}

void Flat_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, elements_.text);
  if (bit == elements_.message) {
    message_.assign(text, length);
  } else if (bit != 0 && !nesting_.in_nested_item()) {
    take_text(bit, text, length);
  }
}

void Flat_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                               const ACEXML_Char*) {
  element_ &= ~element_bit(elements_.table, local_name);
  nesting_.leave();
}

void Flat_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  nesting_.reset();
}

}  // namespace tavrocloud
