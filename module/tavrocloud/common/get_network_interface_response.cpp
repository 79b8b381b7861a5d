#include "tavrocloud/common/get_network_interface_response.h"

namespace tavrocloud {

namespace {

using R = Get_Network_Interface_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeNetworkInterfacesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("networkInterfaceSet", R::ELEMENT_NET_INTERFACE_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("networkInterfaceId", R::ELEMENT_NETWORK_INTERFACE_ID),
    TAVROCLOUD_ELEMENT_ROW("subnetId", R::ELEMENT_SUBNET_ID),
    TAVROCLOUD_ELEMENT_ROW("vpcId", R::ELEMENT_VPC_ID),
    TAVROCLOUD_ELEMENT_ROW("ownerId", R::ELEMENT_OWNER_ID),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("macAddress", R::ELEMENT_MAC_ADDRESS),
    TAVROCLOUD_ELEMENT_ROW("privateIpAddress", R::ELEMENT_PRIVATE_IP_ADDRESS),
    TAVROCLOUD_ELEMENT_ROW("groupId", R::ELEMENT_GROUP_ID),
    TAVROCLOUD_ELEMENT_ROW("groupName", R::ELEMENT_GROUP_NAME),
    TAVROCLOUD_ELEMENT_ROW("groupSet", R::ELEMENT_GROUP_SET),
    TAVROCLOUD_ELEMENT_ROW("privateIpAddressesSet", R::ELEMENT_PRIVATE_IP_ADDR_SET),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Get_Network_Interface_Response::Get_Network_Interface_Response()
    : Default_Response("DescribeNetworkInterfaces"),
      state_(PARSE_ROOT),
      set_depth_(0),
      group_set_depth_(0) {}

void Get_Network_Interface_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
  nesting_.reset();
}

void Get_Network_Interface_Response::start_item() {
  const size_t depth = nesting_.depth();
  if (nesting_.enter_item(state_ == PARSE_NETWORK_INTERFACE && depth == set_depth_ + 1)) {
    net_interfaces_.emplace_back();
  } else if (state_ == PARSE_GROUP && depth == group_set_depth_ + 1 && !net_interfaces_.empty()) {
    net_interfaces_.back().groups.emplace_back();
  }
}

void Get_Network_Interface_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                                  const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const unsigned int bit =
      open_element(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: net_interfaces_.clear(); break;
    case ELEMENT_NET_INTERFACE_SET:
      state_ = PARSE_NETWORK_INTERFACE;
      set_depth_ = nesting_.depth();
      break;
    case ELEMENT_ITEM: start_item(); break;
    case ELEMENT_GROUP_SET:
      state_ = PARSE_GROUP;
      group_set_depth_ = nesting_.depth();
      break;
    case ELEMENT_PRIVATE_IP_ADDR_SET: state_ = PARSE_PRIVATE_IP_ADDR; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Network_Interface_Response::characters(const ACEXML_Char* ch, size_t start,
                                                size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (net_interfaces_.empty()) {
    return;
  } else if (state_ == PARSE_GROUP) {
    set_group_field(net_interfaces_.back(), bit, text, length);
  } else if (nesting_.at_record_level()) {
    // The interface's own fields stand directly in its item: the attachment's status and
    // the addresses of the address list (the primary one among them) are not its own.
    set_field(net_interfaces_.back(), bit, text, length);
  }
}

void Get_Network_Interface_Response::set_field(Network_Interface& nif, unsigned int element,
                                               const char* text, size_t length) {
  switch (element) {
    case ELEMENT_NETWORK_INTERFACE_ID: nif.id.assign(text, length); break;
    case ELEMENT_SUBNET_ID: nif.subnet_id.assign(text, length); break;
    case ELEMENT_VPC_ID: nif.vpc_id.assign(text, length); break;
    case ELEMENT_OWNER_ID: nif.owner_id.assign(text, length); break;
    case ELEMENT_STATUS: nif.status = text_to_status(text, length); break;
    case ELEMENT_MAC_ADDRESS: nif.mac_addr.assign(text, length); break;
    case ELEMENT_PRIVATE_IP_ADDRESS: nif.private_ip.assign(text, length); break;
    default: break;
  }
}

void Get_Network_Interface_Response::set_group_field(Network_Interface& nif,
                                                     unsigned int element, const char* text,
                                                     size_t length) {
  switch (element) {
    case ELEMENT_GROUP_ID:
      if (!nif.groups.empty()) nif.groups.back().id.assign(text, length);
      break;
    case ELEMENT_GROUP_NAME:
      if (!nif.groups.empty()) nif.groups.back().name.assign(text, length);
      break;
    default: break;
  }
}

void Get_Network_Interface_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                                const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_NET_INTERFACE_SET) state_ = PARSE_ROOT;
  if (bit == ELEMENT_GROUP_SET || bit == ELEMENT_PRIVATE_IP_ADDR_SET) {
    state_ = PARSE_NETWORK_INTERFACE;
  }
  element_ &= ~bit;
  nesting_.leave();
}

}  // namespace tavrocloud
