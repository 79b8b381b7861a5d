// Parser of the answer to "DescribeSecurityGroups": the security groups of the cloud (page
// by page), of an owner or the one asked for. The permission lists inside a group are
// walked but not kept.
#ifndef TAVROCLOUD_COMMON_GET_SECURITY_GROUP_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_SECURITY_GROUP_RESPONSE_H

#include <string>

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_network.h"

namespace tavrocloud {

class Get_Security_Group_Response : public Default_Response {
 public:
  Get_Security_Group_Response();

  const Security_Groups& security_groups() const { return security_groups_; }
  // The paging token of the last answer; empty on the last page.
  const std::string& next_token() const { return next_token_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_SECURITY_GROUP_INFO = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_OWNER_ID = 8,
    ELEMENT_GROUP_ID = 16,
    ELEMENT_GROUP_NAME = 32,
    ELEMENT_IP_PERMISSIONS = 64,
    ELEMENT_IP_PERMISSIONSEGRESS = 128,
    ELEMENT_IP_RANGES = 256,
    ELEMENT_COMPLEX_IP_PERMISSIONS = 512,
    ELEMENT_IP_PROTOCOLS = 1024,
    ELEMENT_GROUPS = 2048,
    ELEMENT_COMPLEX_IP_PERMISSIONS_EGRESS = 4096,
    ELEMENT_SHARED = 8192,
    ELEMENT_NEXT_TOKEN = 16384,
    ELEMENT_ERROR_ROOT = 32768,
    ELEMENT_MESSAGE = 65536,
    STR_ELEMENTS_MASK = 90168
  };

 protected:
  void reset_open_elements() override;

 private:
  enum State {
    PARSE_ROOT = 0,
    PARSE_SECURITY_GROUP = 1,
    PARSE_IP_PERMISSIONS = 2,
    PARSE_IP_PERMISSIONSEGRESS = 3,
    PARSE_IP_RANGES = 4,
    PARSE_COMPLEX_IP_PERMISSIONS = 5,
    PARSE_IP_PROTOCOLS = 6,
    PARSE_GROUPS = 7,
    PARSE_COMPLEX_IP_PERMISSIONS_EGRESS = 8
  };

  State state_;
  std::string next_token_;
  Security_Groups security_groups_;
  // Depth of the open elements (known or not) and of the open group list: only its
  // direct items are groups, whatever lists (tags, permissions) a group holds.
  size_t depth_;
  size_t group_info_depth_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_SECURITY_GROUP_RESPONSE_H
