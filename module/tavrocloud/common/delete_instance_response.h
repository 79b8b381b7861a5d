// Parser of the answer to "TerminateInstances": the state the instance is going to. The
// request succeeded when the instance is shutting down or already terminated.
#ifndef TAVROCLOUD_COMMON_DELETE_INSTANCE_RESPONSE_H
#define TAVROCLOUD_COMMON_DELETE_INSTANCE_RESPONSE_H

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

class Delete_Instance_Response : public Default_Response {
 public:
  Delete_Instance_Response();

  // True when the new state is "shutting-down" or "terminated".
  bool success() const override;

  int shutdown_state_code() const { return shutdown_state_code_; }
  Status shutdown_state_name() const { return shutdown_state_name_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_SHUTDOWN_STATE = 2,
    ELEMENT_CODE = 4,
    ELEMENT_NAME = 8,
    ELEMENT_CURRENT_STATE = 32,
    ELEMENT_ERROR_ROOT = 64,
    ELEMENT_MESSAGE = 128,
    STR_ELEMENTS_MASK = ELEMENT_CODE | ELEMENT_NAME | ELEMENT_MESSAGE
  };

 protected:
  void reset_open_elements() override;

 private:
  enum State { PARSE_ROOT = 0, PARSE_SHUTDOWN_STATE = 1 };

  State state_;
  int shutdown_state_code_;
  Status shutdown_state_name_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_DELETE_INSTANCE_RESPONSE_H
