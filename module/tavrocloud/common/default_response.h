// Base of the cloud client's XML response parsers. The host's request library feeds an
// answer into a parser as start-element, text and end-element events; each parser keeps
// the set of its known elements that are open (one bit per row of its element table),
// acts on the ones it knows and ignores the rest. The helpers below are the steps every
// parser shares: the table lookup, the root gate, the single-text-element rule and the
// text conversions (Flat_Response and Instance_State_Response run them once for the
// parsers of their shape). The client reads `message()` after a failed request.
#ifndef TAVROCLOUD_COMMON_DEFAULT_RESPONSE_H
#define TAVROCLOUD_COMMON_DEFAULT_RESPONSE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cloud/api_xml_response.h"
#include "tavrocloud/common/utils.h"
#include "yolt/key_value.h"
#include "yolt/natoi.h"

namespace tavrocloud {

class Default_Response : public cloud::API_XML_Response {
 public:
  // `action` names the request whose answer this parser reads.
  explicit Default_Response(const char* action);
  ~Default_Response() override;

  Default_Response(const Default_Response&) = delete;
  Default_Response& operator=(const Default_Response&) = delete;

  // The text of the "Message" element of an error answer; when there is none and the
  // send failed, why it failed (an answer of another kind, or the host's words). Empty
  // only after a success.
  const std::string& message() const {
    if (!message_.empty()) return message_;
    return other_kind_.empty() ? failure() : other_kind_;
  }
  // Forgets the message of an earlier answer, so that a request that gets no answer at
  // all does not report the text of the one before.
  void clear_message() { message_.clear(); }

  // Parses one answer body. Elements left open by an earlier body that broke off are
  // forgotten first, so one parser can read a series of answers (pages, retries).
  bool handle_body(const char* data, size_t length) override;
  using cloud::API_XML_Response::handle_body;

  // An answer is only a success when one of the parser's roots (or "Error") opened: a
  // document of another shape answers some other request, and read as this one it would
  // pass for an empty result.
  bool success() const override;

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override = 0;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override = 0;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override = 0;

 protected:
  // Resets what a parser tracks about open elements (not its results). Parsers with a
  // parse state or their own open-element set extend it.
  virtual void reset_open_elements();

  // element_to_open() below, noting whether a root opened; parsers call it for every
  // start tag.
  template <typename Bits>
  Bits open_element(const Key2_Value_T<Bits>* table, const ACEXML_Char* local_name, Bits open,
                    typename key_value_identity<Bits>::type roots);

  uint32_t element_;
  std::string message_;

 private:
  bool root_opened_ = false;
  std::string first_element_;  // the local name of the document's root
  std::string other_kind_;     // why the last answer is of another kind; empty when it is not
};

// Where a listing parser stands in the answer's tree. A cloud nests lists in its records
// (tags, attachments, addresses, rules) whose items look like the records' own; only an
// item of the record list starts a record, and while an item of a nested list is open
// the texts in it belong to that list, not to the record. Parsers call enter() first on
// every start tag and leave() last on every end tag, known names or not.
class Record_Nesting {
 public:
  void reset() { depth_ = record_ = nested_ = 0; }
  void enter() { ++depth_; }
  void leave() {
    if (depth_ == nested_) nested_ = 0;
    if (depth_ == record_) record_ = 0;
    if (depth_ > 0) --depth_;
  }
  // An "item" was entered. True when it starts a record: no record is open and the
  // parser places it in its record list (`in_list`). An item inside an open record
  // belongs to a list nested in it.
  bool enter_item(bool in_list) {
    if (record_ == 0) {
      if (in_list) record_ = depth_;
      return in_list;
    }
    if (nested_ == 0) nested_ = depth_;
    return false;
  }
  // True while an item of a list nested in the open record is open: its texts must not
  // overwrite the record's own fields.
  bool in_nested_item() const { return nested_ != 0; }
  // True when the open element stands directly in the record's item (not inside a
  // wrapper such as an attachment or a nested list).
  bool at_record_level() const { return record_ != 0 && nested_ == 0 && depth_ == record_ + 1; }
  // Depth of the open element; the root is at 1.
  size_t depth() const { return depth_; }

 private:
  size_t depth_ = 0;
  size_t record_ = 0;  // depth of the open record's item; 0 when none is open
  size_t nested_ = 0;  // depth of the outermost open item nested in it; 0 when none
};

// ---- steps shared by the parsers ---------------------------------------------------------

// One row of an element table: the element's local name, its length and its bit.
#define TAVROCLOUD_ELEMENT_ROW(name, bit) \
  { name, sizeof(name) - 1, bit }

// The bit of `local_name` in `table`; 0 for a name the table does not hold. Rows are
// matched on their length first: this runs twice for every element of an answer.
template <typename Bits>
Bits element_bit(const Key2_Value_T<Bits>* table, const ACEXML_Char* local_name) {
  if (local_name == nullptr) return Bits(0);
  const size_t length = std::strlen(local_name);
  const Key2_Value_T<Bits>* row = table;
  while (row->key != nullptr && (row->len != length || std::memcmp(row->key, local_name, length) != 0))
    ++row;
  return row->value;
}

// The bit of an element that may open now: a known element while others are open; only a
// root or "Error" (`roots`) while none is. 0 when the element is to be ignored.
template <typename Bits>
Bits element_to_open(const Key2_Value_T<Bits>* table, const ACEXML_Char* local_name, Bits open,
                     typename key_value_identity<Bits>::type roots) {
  const Bits bit = element_bit(table, local_name);
  if (open == 0 && (bit & roots) == 0) return 0;
  return bit;
}

template <typename Bits>
Bits Default_Response::open_element(const Key2_Value_T<Bits>* table, const ACEXML_Char* local_name,
                                    Bits open, typename key_value_identity<Bits>::type roots) {
  if (first_element_.empty() && local_name != nullptr) first_element_ = local_name;
  const Bits bit = element_to_open(table, local_name, open, roots);
  if (open == 0 && bit != 0) root_opened_ = true;
  return bit;
}

// The one text element that is open, or 0 when none or several are (text is then
// dropped). Text bits are single bits, so "exactly one" is "a power of two".
template <typename Bits>
Bits single_text_element(Bits open, typename key_value_identity<Bits>::type text_mask) {
  const Bits masked = open & text_mask;
  return (masked & (masked - 1)) == 0 ? masked : Bits(0);
}

// The value an element's text event (`length` bytes of `ch` from `start`) holds: the
// text without the white space around it, which pretty-printed answers put there.
// Shortens `length` to the value's; null when no value is left.
inline const char* value_text(const ACEXML_Char* ch, size_t start, size_t& length) {
  if (ch == nullptr) return nullptr;
  const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  const char* text = ch + start;
  while (length > 0 && space(text[0])) ++text, --length;
  while (length > 0 && space(text[length - 1])) --length;
  return length > 0 ? text : nullptr;
}

// Conversions of element text (not NUL-terminated).
inline int text_to_int(const char* text, size_t length) { return natoi<int>(text, length); }
inline int64_t text_to_int64(const char* text, size_t length) {
  return natoi<int64_t>(text, length);
}
inline bool text_to_bool(const char* text, size_t length) {
  return length == 4 && std::memcmp(text, "true", 4) == 0;
}
inline Status text_to_status(const char* text, size_t length) {
  return name_to_status(text, length);
}

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_DEFAULT_RESPONSE_H
