// Parser of the answer to "DescribeNetworkInterfaces": network interfaces with their
// security groups. A restore reads the interfaces of the backed-up instance with it.
#ifndef TAVROCLOUD_COMMON_GET_NETWORK_INTERFACE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_NETWORK_INTERFACE_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_network.h"

namespace tavrocloud {

class Get_Network_Interface_Response : public Default_Response {
 public:
  Get_Network_Interface_Response();

  const Network_Interfaces& network_interfaces() const { return net_interfaces_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_NET_INTERFACE_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_NETWORK_INTERFACE_ID = 8,
    ELEMENT_SUBNET_ID = 16,
    ELEMENT_VPC_ID = 32,
    ELEMENT_OWNER_ID = 64,
    ELEMENT_STATUS = 128,
    ELEMENT_MAC_ADDRESS = 256,
    ELEMENT_PRIVATE_IP_ADDRESS = 512,
    ELEMENT_GROUP_ID = 1024,
    ELEMENT_GROUP_NAME = 2048,
    ELEMENT_GROUP_SET = 4096,
    ELEMENT_PRIVATE_IP_ADDR_SET = 8192,
    ELEMENT_ERROR_ROOT = 16384,
    ELEMENT_MESSAGE = 32768,
    STR_ELEMENTS_MASK = 36856
  };

 protected:
  void reset_open_elements() override;

 private:
  enum State {
    PARSE_ROOT = 0,
    PARSE_NETWORK_INTERFACE = 1,
    PARSE_GROUP = 2,
    PARSE_PRIVATE_IP_ADDR = 3
  };

  void start_item();
  void set_field(Network_Interface& nif, unsigned int element, const char* text, size_t length);
  void set_group_field(Network_Interface& nif, unsigned int element, const char* text,
                       size_t length);

  Network_Interfaces net_interfaces_;
  State state_;
  // Where the open interface and its nested lists stand, and the depth of the open
  // interface and group lists: only their direct items are interfaces and groups,
  // whatever other lists they hold.
  Record_Nesting nesting_;
  size_t set_depth_;
  size_t group_set_depth_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_NETWORK_INTERFACE_RESPONSE_H
