// Base of the response parsers that need no parse state: those whose answer carries one
// field below its root (the id that a create action returns, a "return" flag, an
// attachment status, a result or version text), one record, or a flat list of records
// with one "item" each (items of lists nested in a record, such as its tags, start no record
// and their texts fill none of its fields). It does the element bookkeeping once; each parser names its table
// and bits and keeps its own results, which it resets and fills through the hooks below.
#ifndef TAVROCLOUD_COMMON_FLAT_RESPONSE_H
#define TAVROCLOUD_COMMON_FLAT_RESPONSE_H

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

// Where a parser finds its elements: its element table and the bits of its rows.
struct Flat_Response_Elements {
  const Key2_Value_T<unsigned int>* table;
  unsigned int roots;       // the answer's root elements; each resets the results
  unsigned int text;        // the elements whose text is kept ("Message" among them)
  unsigned int error_root;  // "Error"
  unsigned int message;     // "Message"
  unsigned int item = 0;    // the element that starts one more record (0: none)
};

class Flat_Response : public Default_Response {
 public:
  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

 protected:
  Flat_Response(const char* action, const Flat_Response_Elements& elements);

  // A root opened: the results go back to their empty values.
  virtual void reset_results() = 0;
  // The text (not NUL-terminated) of `element`, the one text element open other than
  // "Message", replaces the value it fills.
  virtual void take_text(unsigned int element, const char* text, size_t length) = 0;
  // An item of the record list opened; only parsers with an item bit are called.
  virtual void open_item() {}

  void reset_open_elements() override;

 private:
  const Flat_Response_Elements elements_;
  Record_Nesting nesting_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_FLAT_RESPONSE_H
