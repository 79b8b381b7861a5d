#include "tavrocloud/common/get_volume_response.h"

namespace tavrocloud {

namespace {

using R = Get_Volume_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeVolumesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("volumeSet", R::ELEMENT_VOLUME_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("volumeId", R::ELEMENT_VOLUME_ID),
    TAVROCLOUD_ELEMENT_ROW("volumeName", R::ELEMENT_VOLUME_NAME),
    TAVROCLOUD_ELEMENT_ROW("size", R::ELEMENT_SIZE),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("isRoot", R::ELEMENT_IS_ROOT),
    TAVROCLOUD_ELEMENT_ROW("storageId", R::ELEMENT_STORAGE_ID),
    TAVROCLOUD_ELEMENT_ROW("availabilityZone", R::ELEMENT_AVAILABILITY_ZONE),
    TAVROCLOUD_ELEMENT_ROW("attachmentSet", R::ELEMENT_ATTACHMENT_SET),
    TAVROCLOUD_ELEMENT_ROW("instanceId", R::ELEMENT_INSTANCE_ID),
    TAVROCLOUD_ELEMENT_ROW("device", R::ELEMENT_DEVICE),
    TAVROCLOUD_ELEMENT_ROW("tagSet", R::ELEMENT_TAG_SET),
    TAVROCLOUD_ELEMENT_ROW("nodeId", R::ELEMENT_NODE_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

}  // namespace

Get_Volume_Response::Get_Volume_Response()
    : Default_Response("DescribeVolumes"), state_(PARSE_ROOT) {}

void Get_Volume_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
  nesting_.reset();
}

void Get_Volume_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                       const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const unsigned int bit =
      open_element(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: volumes_.clear(); break;
    case ELEMENT_VOLUME_SET: state_ = PARSE_VOLUME; break;
    case ELEMENT_ITEM:
      if (nesting_.enter_item(state_ == PARSE_VOLUME)) volumes_.emplace_back();
      break;
    case ELEMENT_ATTACHMENT_SET: state_ = PARSE_ATTACHMENT; break;
    case ELEMENT_TAG_SET: state_ = PARSE_TAG; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Volume_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (volumes_.empty()) {
    return;
  } else if (state_ == PARSE_ATTACHMENT) {
    set_attachment_field(volumes_.back().volume_attachment, bit, text, length);
  } else if (!nesting_.in_nested_item()) {
    set_field(volumes_.back(), bit, text, length);
  }
}

// The attachment's texts fill the attachment only: its volume id is the attachment's,
// whatever the volume's own id says.
void Get_Volume_Response::set_attachment_field(Volume_Attachment& attachment,
                                               unsigned int element, const char* text,
                                               size_t length) {
  switch (element) {
    case ELEMENT_VOLUME_ID: attachment.volume_id.assign(text, length); break;
    case ELEMENT_INSTANCE_ID: attachment.instance_id.assign(text, length); break;
    case ELEMENT_DEVICE: attachment.device.assign(text, length); break;
    case ELEMENT_STATUS: attachment.status = text_to_status(text, length); break;
    default: break;
  }
}

void Get_Volume_Response::set_field(Volume& volume, unsigned int element, const char* text,
                                    size_t length) {
  switch (element) {
    case ELEMENT_VOLUME_ID:
      // The answer names the volume once; it is also the attachment's volume.
      volume.id.assign(text, length);
      volume.volume_attachment.volume_id.assign(text, length);
      break;
    case ELEMENT_VOLUME_NAME: volume.name.assign(text, length); break;
    case ELEMENT_SIZE: volume.size = text_to_int(text, length); break;
    case ELEMENT_STATUS:
      if (state_ == PARSE_VOLUME) volume.status = text_to_status(text, length);
      break;
    case ELEMENT_IS_ROOT: volume.is_root = text_to_bool(text, length); break;
    case ELEMENT_STORAGE_ID: volume.storage_id.assign(text, length); break;
    case ELEMENT_AVAILABILITY_ZONE: volume.availability_zone.assign(text, length); break;
    case ELEMENT_INSTANCE_ID: volume.volume_attachment.instance_id.assign(text, length); break;
    case ELEMENT_DEVICE: volume.volume_attachment.device.assign(text, length); break;
    case ELEMENT_NODE_ID: volume.node_id.assign(text, length); break;
    default: break;
  }
}

void Get_Volume_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                     const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_VOLUME_SET) state_ = PARSE_ROOT;
  if (bit == ELEMENT_ATTACHMENT_SET || bit == ELEMENT_TAG_SET) state_ = PARSE_VOLUME;
  element_ &= ~bit;
  nesting_.leave();
}

}  // namespace tavrocloud
