// Parser of the answer to "CreateNetworkInterface": the id of the new interface, which a
// restore hands to the instance it creates.
#ifndef TAVROCLOUD_COMMON_CREATE_NETWORK_INTERFACE_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_NETWORK_INTERFACE_RESPONSE_H

#include <string>

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

class Create_Network_Interface_Response : public Default_Response {
 public:
  Create_Network_Interface_Response();

  const std::string& net_interface_id() const { return net_interface_id_; }

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
    ELEMENT_NETWORK_INTERFACE_ID = 16,
    STR_ELEMENTS_MASK = ELEMENT_NETWORK_INTERFACE_ID | ELEMENT_MESSAGE
  };

 private:
  std::string net_interface_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_NETWORK_INTERFACE_RESPONSE_H
