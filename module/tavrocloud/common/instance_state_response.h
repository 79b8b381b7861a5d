// Base of the parsers of the answers that report the state an instance is going to
// ("TerminateInstances", "StartInstances", "StopInstances"). The "code" and "name" of a
// state element that reports that state are read; those of other state elements (the
// state the instance was in) are dropped. Each parser names its table and bits and keeps
// its own fields, which it resets and fills through the hooks below.
#ifndef TAVROCLOUD_COMMON_INSTANCE_STATE_RESPONSE_H
#define TAVROCLOUD_COMMON_INSTANCE_STATE_RESPONSE_H

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

// Where a parser finds its elements: its element table and the bits of its rows.
struct Instance_State_Elements {
  const Key2_Value_T<unsigned int>* table;
  unsigned int roots;         // the answer's root elements; each resets the result
  unsigned int read_states;   // state elements whose code and name are read
  unsigned int other_states;  // state elements whose code and name are dropped (0: none)
  unsigned int code;          // "code"
  unsigned int name;          // "name"
  unsigned int error_root;    // "Error"
  unsigned int message;       // "Message"
};

class Instance_State_Response : public Default_Response {
 public:
  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

 protected:
  Instance_State_Response(const char* action, const Instance_State_Elements& elements);

  void reset_open_elements() override;

  // A root opened: code 0 and name `UNKNOWN` again.
  virtual void reset_result() = 0;
  // The code, then the name, of a state element that is read.
  virtual void take_code(int code) = 0;
  virtual void take_name(Status name) = 0;

 private:
  enum State { PARSE_ROOT = 0, PARSE_READ_STATE = 1, PARSE_OTHER_STATE = 2 };

  const Instance_State_Elements elements_;
  State state_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_INSTANCE_STATE_RESPONSE_H
