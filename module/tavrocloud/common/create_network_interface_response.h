// Parser of the answer to "CreateNetworkInterface": the id of the new interface, which a
// restore hands to the instance it creates.
#ifndef TAVROCLOUD_COMMON_CREATE_NETWORK_INTERFACE_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_NETWORK_INTERFACE_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Create_Network_Interface_Response : public Flat_Response {
 public:
  Create_Network_Interface_Response();

  const std::string& net_interface_id() const { return net_interface_id_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 2,
    ELEMENT_MESSAGE = 4,
    ELEMENT_ROOT = 8,
    ELEMENT_NETWORK_INTERFACE_ID = 16,
    STR_ELEMENTS_MASK = ELEMENT_NETWORK_INTERFACE_ID | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { net_interface_id_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    net_interface_id_.assign(text, length);
  }

  std::string net_interface_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_NETWORK_INTERFACE_RESPONSE_H
