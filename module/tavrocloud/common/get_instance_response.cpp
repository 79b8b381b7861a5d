#include "tavrocloud/common/get_instance_response.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <utility>

#include "json/json_load.h"
#include "json_spirit/extract.h"
#include "json_spirit/filter.h"

namespace tavrocloud {

namespace {

using R = Get_Instance_Response;

const Key2_Value_T<unsigned long> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeInstancesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("nextToken", R::ELEMENT_NEXT_TOKEN),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("mainNetifMac", R::ELEMENT_MAIN_NETIF_MAC),
    TAVROCLOUD_ELEMENT_ROW("ownerId", R::ELEMENT_OWNER_ID),
    TAVROCLOUD_ELEMENT_ROW("groupId", R::ELEMENT_GROUP_ID),
    TAVROCLOUD_ELEMENT_ROW("groupName", R::ELEMENT_GROUP_NAME),
    TAVROCLOUD_ELEMENT_ROW("instancesSet", R::ELEMENT_INSTANCE_SET),
    TAVROCLOUD_ELEMENT_ROW("instanceId", R::ELEMENT_INSTANCE_ID),
    TAVROCLOUD_ELEMENT_ROW("instanceName", R::ELEMENT_INSTANCE_NAME),
    TAVROCLOUD_ELEMENT_ROW("imageId", R::ELEMENT_IMAGE_ID),
    TAVROCLOUD_ELEMENT_ROW("name", R::ELEMENT_NAME),
    TAVROCLOUD_ELEMENT_ROW("ipAddress", R::ELEMENT_IP_ADDRESS),
    TAVROCLOUD_ELEMENT_ROW("instanceType", R::ELEMENT_INSTANCE_TYPE),
    TAVROCLOUD_ELEMENT_ROW("vmtype_cpu", R::ELEMENT_CPU),
    TAVROCLOUD_ELEMENT_ROW("vmtype_mem", R::ELEMENT_MEM),
    TAVROCLOUD_ELEMENT_ROW("hostAddress", R::ELEMENT_HOST_ADDRESS),
    TAVROCLOUD_ELEMENT_ROW("availabilityZone", R::ELEMENT_AVAILABILITYZONE),
    TAVROCLOUD_ELEMENT_ROW("subnetId", R::ELEMENT_SUBNET_ID),
    TAVROCLOUD_ELEMENT_ROW("vpcId", R::ELEMENT_VPC_ID),
    TAVROCLOUD_ELEMENT_ROW("storageId", R::ELEMENT_STORAGE_ID),
    TAVROCLOUD_ELEMENT_ROW("blockDeviceMapping", R::ELEMENT_BLOCK_DEVICE_MAPPING),
    TAVROCLOUD_ELEMENT_ROW("volumeId", R::ELEMENT_VOLUME_ID),
    TAVROCLOUD_ELEMENT_ROW("platform", R::ELEMENT_PLATFORM),
    TAVROCLOUD_ELEMENT_ROW("hypervisor", R::ELEMENT_HYPERVISOR),
    TAVROCLOUD_ELEMENT_ROW("nifInfo", R::ELEMENT_NETWORK_INTERFACE),
    TAVROCLOUD_ELEMENT_ROW("bootOrder", R::ELEMENT_BOOTORDER),
    TAVROCLOUD_ELEMENT_ROW("size", R::ELEMENT_VOLUME_SIZE),
    TAVROCLOUD_ELEMENT_ROW("productCodesSet", R::ELEMENT_PRODUCT_CODE_SET),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    TAVROCLOUD_ELEMENT_ROW("scheduleTags", R::ELEMENT_SCHEDULE_TAGS),
    TAVROCLOUD_ELEMENT_ROW("storageScheduleTags", R::ELEMENT_STORAGE_SCHEDULE_TAGS),
    {nullptr, 0, R::ELEMENT_NONE}};

static_assert(R::STR_ELEMENTS_MASK == (((R::ELEMENT_STORAGE_SCHEDULE_TAGS << 1) - 1) &
                                       ~(R::ELEMENT_ROOT | R::ELEMENT_ITEM |
                                         R::ELEMENT_INSTANCE_SET | R::ELEMENT_BLOCK_DEVICE_MAPPING |
                                         R::ELEMENT_PRODUCT_CODE_SET | R::ELEMENT_ERROR_ROOT)),
              "text elements: all but the root, the item, the sets and Error");

}  // namespace

Get_Instance_Response::Get_Instance_Response()
    : Default_Response("DescribeInstances"),
      state_(PARSE_ROOT),
      elements_(0),
      instance_set_depth_(0),
      mapping_depth_(0) {}

void Get_Instance_Response::clear() {
  instances_.clear();
  security_group_ = Security_Group();
  reservation_id_.clear();
  owner_id_.clear();
  next_token_.clear();
  state_ = PARSE_ROOT;
}

void Get_Instance_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  elements_ = 0;
  nesting_.reset();
  state_ = PARSE_ROOT;
}

void Get_Instance_Response::start_item() {
  // Only the direct items of the two lists are records: the items of lists nested in an
  // instance (tags, groups) or in a volume must not start new ones.
  const size_t depth = nesting_.depth();
  if (nesting_.enter_item(state_ == PARSE_INSTANCE && depth == instance_set_depth_ + 1)) {
    instances_.emplace_back();
    Instance& instance = instances_.back();
    instance.reservation_id = reservation_id_;
    instance.owner_id = owner_id_;
    instance.security_group = security_group_;
  } else if (state_ == PARSE_BLOCK_DEVICE_MAPPING && depth == mapping_depth_ + 1 &&
             !instances_.empty()) {
    instances_.back().volumes.emplace_back();
  }
}

void Get_Instance_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                         const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const uint64_t bit =
      open_element(ELEMENT_TABLE, local_name, elements_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: clear(); break;
    case ELEMENT_ITEM: start_item(); break;
    case ELEMENT_INSTANCE_SET:
      state_ = PARSE_INSTANCE;
      instance_set_depth_ = nesting_.depth();
      break;
    case ELEMENT_BLOCK_DEVICE_MAPPING:
      state_ = PARSE_BLOCK_DEVICE_MAPPING;
      mapping_depth_ = nesting_.depth();
      break;
    case ELEMENT_PRODUCT_CODE_SET: state_ = PARSE_PRODUCT_CODE; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  elements_ |= bit;
}

void Get_Instance_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const uint64_t bit = single_text_element(elements_, STR_ELEMENTS_MASK);
  switch (bit) {
    case ELEMENT_NONE: break;
    case ELEMENT_MESSAGE: message_.assign(text, length); break;
    case ELEMENT_NEXT_TOKEN: next_token_.assign(text, length); break;
    // The reservation's owner and group, given to each of its instances. Group texts of
    // an instance's own lists must not replace them for the instances that follow.
    case ELEMENT_OWNER_ID:
      if (state_ == PARSE_ROOT) owner_id_.assign(text, length);
      break;
    case ELEMENT_GROUP_ID:
      if (state_ == PARSE_ROOT) security_group_.id.assign(text, length);
      break;
    case ELEMENT_GROUP_NAME:
      if (state_ == PARSE_ROOT) security_group_.name.assign(text, length);
      break;
    default:
      if (!instances_.empty() && takes_instance_text(bit)) {
        set_instance_field(instances_.back(), bit, text, length);
      }
      break;
  }
}

// The lists nested in an instance (its interfaces, groups, tags) hold texts named like
// the instance's own; of them only the volume mapping's are read.
bool Get_Instance_Response::takes_instance_text(uint64_t element) const {
  if (!nesting_.in_nested_item()) return true;
  return state_ == PARSE_BLOCK_DEVICE_MAPPING &&
         (element == ELEMENT_VOLUME_ID || element == ELEMENT_VOLUME_SIZE);
}

void Get_Instance_Response::set_instance_field(Instance& instance, uint64_t element,
                                               const char* text, size_t length) {
  switch (element) {
    case ELEMENT_MAIN_NETIF_MAC: instance.mac_address.assign(text, length); break;
    case ELEMENT_INSTANCE_ID: instance.id.assign(text, length); break;
    case ELEMENT_INSTANCE_NAME: instance.name.assign(text, length); break;
    case ELEMENT_IMAGE_ID: instance.image_id.assign(text, length); break;
    case ELEMENT_NAME: instance.status = text_to_status(text, length); break;
    case ELEMENT_IP_ADDRESS: instance.ip.assign(text, length); break;
    case ELEMENT_INSTANCE_TYPE: instance.instance_type.type.assign(text, length); break;
    case ELEMENT_CPU: instance.cpu = text_to_int(text, length); break;
    case ELEMENT_MEM: instance.memory = text_to_int(text, length); break;
    case ELEMENT_HOST_ADDRESS: instance.host_address.assign(text, length); break;
    case ELEMENT_AVAILABILITYZONE: instance.availability_zone.assign(text, length); break;
    case ELEMENT_SUBNET_ID: instance.subnet_id.assign(text, length); break;
    case ELEMENT_VPC_ID: instance.vpc_id.assign(text, length); break;
    case ELEMENT_STORAGE_ID: instance.storage_id.assign(text, length); break;
    case ELEMENT_PLATFORM: instance.platform.assign(text, length); break;
    case ELEMENT_HYPERVISOR: instance.hypervisor.assign(text, length); break;
    case ELEMENT_BOOTORDER: instance.bootorder.assign(text, length); break;
    case ELEMENT_SCHEDULE_TAGS: instance.schedule_tag.assign(text, length); break;
    case ELEMENT_STORAGE_SCHEDULE_TAGS: instance.storage_schedule_tag.assign(text, length); break;
    case ELEMENT_NETWORK_INTERFACE: parse_network_interface(std::string(text, length)); break;
    case ELEMENT_VOLUME_ID:
      if (!instance.volumes.empty()) instance.volumes.back().id.assign(text, length);
      break;
    case ELEMENT_VOLUME_SIZE:
      if (state_ == PARSE_BLOCK_DEVICE_MAPPING && !instance.volumes.empty()) {
        instance.volumes.back().size = text_to_int(text, length);
      }
      break;
    default: break;
  }
}

void Get_Instance_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                       const ACEXML_Char*) {
  const uint64_t bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_INSTANCE_SET) state_ = PARSE_ROOT;
  if (bit == ELEMENT_BLOCK_DEVICE_MAPPING || bit == ELEMENT_PRODUCT_CODE_SET)
    state_ = PARSE_INSTANCE;
  elements_ &= ~bit;
  nesting_.leave();
}

bool Get_Instance_Response::parse_network_interface(const std::string& text) {
  if (instances_.empty()) return false;
  const json_spirit::Value value = JSON_Load(text);
  if (value.type() != json_spirit::obj_type) {
    ACE_ERROR((LM_ERROR, "Failed to parse network interface, json load not object type.\n"));
    return false;
  }
  const json_spirit::Array* const list =
      json_spirit::object_get_any_ptr<const json_spirit::Array>(value.get_obj(), "nifInfo");
  if (list == nullptr || list->empty()) return false;
  Network_Interfaces interfaces;
  for (const json_spirit::Object& member : *list | json_spirit::get_obj) {
    Network_Interface nif;
    if (!(member >> nif)) return false;
    interfaces.push_back(std::move(nif));
  }
  instances_.back().network_interfaces = std::move(interfaces);
  return true;
}

bool operator>>(const json_spirit::Object& obj, Network_Interface& nif) {
  try {
    std::string type;
    json_spirit::extract_or_throw(obj)("netifId", nif.id)("netifType", type);
    nif.type = str_to_net_interface(type.data(), type.size());
    json_spirit::extract_or_throw(obj)("privateip", nif.private_ip)("publicip", nif.public_ip)(
        "priSubnetId", nif.subnet_id);
  } catch (const std::exception& e) {
    ACE_ERROR((LM_ERROR, "Failed to extract network interface. %s\n", e.what()));
    return false;
  }
  return true;
}

}  // namespace tavrocloud
