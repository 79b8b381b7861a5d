// Parser of the answer to "RunInstances": the id of the new instance, wherever it stands
// below the root. The client then waits for the instance to run.
#ifndef TAVROCLOUD_COMMON_CREATE_INSTANCE_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_INSTANCE_RESPONSE_H

#include <string>

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

class Create_Instance_Response : public Default_Response {
 public:
  Create_Instance_Response();

  const std::string& instance_id() const { return instance_id_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 2,
    ELEMENT_MESSAGE = 4,
    ELEMENT_ROOT = 8,
    ELEMENT_INSTANCE_ID = 16,
    STR_ELEMENTS_MASK = ELEMENT_INSTANCE_ID | ELEMENT_MESSAGE
  };

 private:
  std::string instance_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_INSTANCE_RESPONSE_H
