#include "tavrocloud/common/get_security_group_response.h"

namespace tavrocloud {

namespace {

using R = Get_Security_Group_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeSecurityGroupsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("securityGroupInfo", R::ELEMENT_SECURITY_GROUP_INFO),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("ownerId", R::ELEMENT_OWNER_ID),
    TAVROCLOUD_ELEMENT_ROW("groupId", R::ELEMENT_GROUP_ID),
    TAVROCLOUD_ELEMENT_ROW("groupName", R::ELEMENT_GROUP_NAME),
    TAVROCLOUD_ELEMENT_ROW("ipPermissions", R::ELEMENT_IP_PERMISSIONS),
    TAVROCLOUD_ELEMENT_ROW("ipPermissionsEgress", R::ELEMENT_IP_PERMISSIONSEGRESS),
    TAVROCLOUD_ELEMENT_ROW("ipRanges", R::ELEMENT_IP_RANGES),
    TAVROCLOUD_ELEMENT_ROW("complexIpPermissions", R::ELEMENT_COMPLEX_IP_PERMISSIONS),
    TAVROCLOUD_ELEMENT_ROW("ipProtocols", R::ELEMENT_IP_PROTOCOLS),
    TAVROCLOUD_ELEMENT_ROW("groups", R::ELEMENT_GROUPS),
    TAVROCLOUD_ELEMENT_ROW("complexIpPermissionsEgress", R::ELEMENT_COMPLEX_IP_PERMISSIONS_EGRESS),
    TAVROCLOUD_ELEMENT_ROW("shared", R::ELEMENT_SHARED),
    TAVROCLOUD_ELEMENT_ROW("nextToken", R::ELEMENT_NEXT_TOKEN),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Get_Security_Group_Response::Get_Security_Group_Response()
    : Default_Response("DescribeSecurityGroups"),
      state_(PARSE_ROOT),
      depth_(0),
      group_info_depth_(0) {}

void Get_Security_Group_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
  depth_ = 0;
}

void Get_Security_Group_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                               const ACEXML_Char*, ACEXML_Attributes*) {
  ++depth_;
  const unsigned int bit =
      open_element(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT:
      security_groups_.clear();
      next_token_.clear();
      break;
    case ELEMENT_SECURITY_GROUP_INFO:
      state_ = PARSE_SECURITY_GROUP;
      group_info_depth_ = depth_;
      break;
    case ELEMENT_ITEM:
      if (state_ == PARSE_SECURITY_GROUP && depth_ == group_info_depth_ + 1) {
        security_groups_.emplace_back();
      }
      break;
    case ELEMENT_IP_PERMISSIONS: state_ = PARSE_IP_PERMISSIONS; break;
    case ELEMENT_IP_PERMISSIONSEGRESS: state_ = PARSE_IP_PERMISSIONSEGRESS; break;
    case ELEMENT_IP_RANGES: state_ = PARSE_IP_RANGES; break;
    case ELEMENT_COMPLEX_IP_PERMISSIONS: state_ = PARSE_COMPLEX_IP_PERMISSIONS; break;
    case ELEMENT_IP_PROTOCOLS: state_ = PARSE_IP_PROTOCOLS; break;
    case ELEMENT_GROUPS: state_ = PARSE_GROUPS; break;
    case ELEMENT_COMPLEX_IP_PERMISSIONS_EGRESS: state_ = PARSE_COMPLEX_IP_PERMISSIONS_EGRESS; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Security_Group_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
    return;
  }
  if (bit == ELEMENT_NEXT_TOKEN) {
    next_token_.assign(text, length);
    return;
  }
  // The permission lists name other groups (and their owners): only the texts that stand
  // in the group itself describe it.
  if (security_groups_.empty() || state_ != PARSE_SECURITY_GROUP) return;
  Security_Group& group = security_groups_.back();
  switch (bit) {
    case ELEMENT_OWNER_ID: group.owner_id.assign(text, length); break;
    case ELEMENT_GROUP_ID: group.id.assign(text, length); break;
    case ELEMENT_GROUP_NAME: group.name.assign(text, length); break;
    case ELEMENT_SHARED: group.shared = text_to_bool(text, length); break;
    default: break;
  }
}

void Get_Security_Group_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                             const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  switch (bit) {
    case ELEMENT_SECURITY_GROUP_INFO: state_ = PARSE_ROOT; break;
    case ELEMENT_IP_PERMISSIONS:
    case ELEMENT_IP_PERMISSIONSEGRESS:
    case ELEMENT_COMPLEX_IP_PERMISSIONS:
    case ELEMENT_COMPLEX_IP_PERMISSIONS_EGRESS: state_ = PARSE_SECURITY_GROUP; break;
    case ELEMENT_IP_RANGES: state_ = PARSE_IP_PERMISSIONS; break;
    case ELEMENT_IP_PROTOCOLS:
    case ELEMENT_GROUPS: state_ = PARSE_COMPLEX_IP_PERMISSIONS; break;
    default: break;
  }
  element_ &= ~bit;
  if (depth_ > 0) --depth_;
}

}  // namespace tavrocloud
