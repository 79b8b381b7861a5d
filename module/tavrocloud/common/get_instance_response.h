// Parser of the answer to "DescribeInstances", the client's most used query: all
// instances page by page, the instances of a cluster, node or storage, one instance by id
// or name, the agent's own instance by MAC address. Besides plain fields it decodes the
// JSON text in which the cloud lists an instance's network interfaces.
#ifndef TAVROCLOUD_COMMON_GET_INSTANCE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_INSTANCE_RESPONSE_H

#include <cstdint>
#include <string>

#include "json/value.h"
#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_instance.h"
#include "tavrocloud/common/tavrocloud_network.h"

namespace tavrocloud {

class Get_Instance_Response : public Default_Response {
 public:
  Get_Instance_Response();

  const Instances& instances() const { return instances_; }
  // The paging token of the last answer; empty on the last page.
  const std::string& next_token() const { return next_token_; }

  // Forgets the instances, the reservation's owner and group and the token; every
  // answer's root does this, so one parser reads page after page.
  void clear();

  // Decodes one "nifInfo" text ({"nifInfo": [{...}, ...]}) into the last instance's
  // network interfaces. False (the instance keeps its list) when the text is no object,
  // holds no interface or an interface lacks a member; the last two are logged.
  bool parse_network_interface(const std::string& text);

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum : uint64_t {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1ull,
    ELEMENT_NEXT_TOKEN = 1ull << 1,
    ELEMENT_ITEM = 1ull << 2,
    ELEMENT_OWNER_ID = 1ull << 3,
    ELEMENT_MAIN_NETIF_MAC = 1ull << 4,
    ELEMENT_GROUP_ID = 1ull << 5,
    ELEMENT_GROUP_NAME = 1ull << 6,
    ELEMENT_INSTANCE_SET = 1ull << 7,
    ELEMENT_INSTANCE_ID = 1ull << 8,
    ELEMENT_INSTANCE_NAME = 1ull << 9,
    ELEMENT_IMAGE_ID = 1ull << 10,
    ELEMENT_NAME = 1ull << 11,
    ELEMENT_IP_ADDRESS = 1ull << 12,
    ELEMENT_INSTANCE_TYPE = 1ull << 13,
    ELEMENT_CPU = 1ull << 14,
    ELEMENT_MEM = 1ull << 15,
    ELEMENT_HOST_ADDRESS = 1ull << 16,
    ELEMENT_AVAILABILITYZONE = 1ull << 17,
    ELEMENT_SUBNET_ID = 1ull << 18,
    ELEMENT_VPC_ID = 1ull << 19,
    ELEMENT_STORAGE_ID = 1ull << 20,
    ELEMENT_BLOCK_DEVICE_MAPPING = 1ull << 21,
    ELEMENT_VOLUME_ID = 1ull << 22,
    ELEMENT_PLATFORM = 1ull << 23,
    ELEMENT_HYPERVISOR = 1ull << 24,
    ELEMENT_NETWORK_INTERFACE = 1ull << 25,
    ELEMENT_BOOTORDER = 1ull << 26,
    ELEMENT_VOLUME_SIZE = 1ull << 27,
    ELEMENT_PRODUCT_CODE_SET = 1ull << 28,
    ELEMENT_ERROR_ROOT = 1ull << 29,
    ELEMENT_MESSAGE = 1ull << 30,
    ELEMENT_SCHEDULE_TAGS = 1ull << 31,
    ELEMENT_STORAGE_SCHEDULE_TAGS = 1ull << 32,
    // Every element but the root, the item, the three sets and "Error" carries text.
    STR_ELEMENTS_MASK = 7782530938ull
  };

 protected:
  void reset_open_elements() override;

 private:
  enum State {
    PARSE_ROOT = 0,
    PARSE_INSTANCE = 1,
    PARSE_PRODUCT_CODE = 2,
    PARSE_BLOCK_DEVICE_MAPPING = 3
  };

  void start_item();
  bool takes_instance_text(uint64_t element) const;
  void set_instance_field(Instance& instance, uint64_t element, const char* text, size_t length);

  Instances instances_;
  Security_Group security_group_;
  std::string reservation_id_;
  std::string owner_id_;
  std::string next_token_;
  State state_;
  // The open known elements: this table needs 33 bits, more than the base's set holds.
  uint64_t elements_;
  // Where the open instance and its nested lists stand, and the depth of the open
  // "instancesSet" and "blockDeviceMapping": only their direct items are instances and
  // volumes.
  Record_Nesting nesting_;
  size_t instance_set_depth_;
  size_t mapping_depth_;
};

// Reads one member of a "nifInfo" array ("netifId", "netifType", "privateip", "publicip",
// "priSubnetId", all required strings) into `nif`. False, logged, when one is missing or
// mistyped.
bool operator>>(const json_spirit::Object& obj, Network_Interface& nif);

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_INSTANCE_RESPONSE_H
