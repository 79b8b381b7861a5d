#include "tavrocloud/common/get_instance_backup_response.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <utility>

#include "json/json_reader.h"
#include "json_spirit/extract.h"
#include "json_spirit/filter.h"
#include "yolt/check.h"

namespace tavrocloud {

namespace {

using R = Get_Instance_Backup_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeInstanceBackupsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("backupId", R::ELEMENT_BACKUP_ID),
    TAVROCLOUD_ELEMENT_ROW("instanceId", R::ELEMENT_INSTANCE_ID),
    TAVROCLOUD_ELEMENT_ROW("backupName", R::ELEMENT_BACKUP_NAME),
    TAVROCLOUD_ELEMENT_ROW("backupSize", R::ELEMENT_BACKUP_SIZE),
    TAVROCLOUD_ELEMENT_ROW("backupStatus", R::ELEMENT_BACKUP_STATUS),
    TAVROCLOUD_ELEMENT_ROW("storageId", R::ELEMENT_STORAGE_ID),
    TAVROCLOUD_ELEMENT_ROW("blockDeviceMapping", R::ELEMENT_BLOCK_DEVICE_MAPPING),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

// One disk of the JSON list: "isRoot" and "snapshotId" are required (the backup cannot
// use a disk without them); the rest are read when present with the right type.
void read_mapping(const json_spirit::Object& obj, Block_Device_Mapping& m) {
  json_spirit::extract(obj)("mappingId", m.mapping_id)("imageId", m.image_id);
  json_spirit::extract_or_throw(obj)("isRoot", m.is_root);
  json_spirit::extract(obj)("deviceName", m.device_name)("virtualName", m.virtual_name);
  json_spirit::extract_or_throw(obj)("snapshotId", m.snapshot_id);
  long size = m.size;
  json_spirit::extract(obj)("size", size)("volumeId", m.volume_id)("storageId", m.storage_id)(
      "deleteOnTermination", m.delete_on_termination);
  m.size = size;
}

}  // namespace

Get_Instance_Backup_Response::Get_Instance_Backup_Response()
    : Default_Response("DescribeInstanceBackups") {}

void Get_Instance_Backup_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                                const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const unsigned int bit =
      open_element(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: instance_backups_.clear(); break;
    case ELEMENT_ITEM:
      if (nesting_.enter_item(true)) instance_backups_.emplace_back();
      break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Instance_Backup_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
    return;
  }
  if (instance_backups_.empty() || nesting_.in_nested_item()) return;
  Instance_Backup& backup = instance_backups_.back();
  switch (bit) {
    case ELEMENT_BACKUP_ID: backup.id.assign(text, length); break;
    case ELEMENT_INSTANCE_ID: backup.instance_id.assign(text, length); break;
    case ELEMENT_BACKUP_NAME: backup.name.assign(text, length); break;
    case ELEMENT_BACKUP_SIZE: backup.size = text_to_int(text, length); break;
    case ELEMENT_BACKUP_STATUS: backup.status = text_to_status(text, length); break;
    case ELEMENT_STORAGE_ID: backup.storage_id.assign(text, length); break;
    case ELEMENT_BLOCK_DEVICE_MAPPING: parse_block_device_mappings(text, length); break;
    default: break;
  }
}

void Get_Instance_Backup_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                              const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
  nesting_.leave();
}

void Get_Instance_Backup_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  nesting_.reset();
}

bool Get_Instance_Backup_Response::parse_block_device_mappings(const char* text, size_t length) {
  if (instance_backups_.empty()) return false;
  json_spirit::Value val;
  JSON_Reader reader(val);
  if (reader.open() != 0) {
    ACE_ERROR((LM_ERROR, "Failed to open JSON_Reader to parse block device mappings.\n"));
    return false;
  }
  if (reader.read(text, length, true) != 0 || reader.read("", 0, true) != 0) {
    ACE_ERROR((LM_ERROR, "Failed to parse block device.\n"));
    return false;
  }
  YOLT_CHECK_JSON_ARRAY(val, false);
  Block_Device_Mappings mappings;
  for (const json_spirit::Object& obj : val.get_array() | json_spirit::get_obj) {
    Block_Device_Mapping mapping;
    try {
      read_mapping(obj, mapping);
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Failed to extract block mapping. %s\n", e.what()));
      return false;
    }
    mappings.push_back(std::move(mapping));
  }
  instance_backups_.back().block_device_mappings = std::move(mappings);
  return true;
}

}  // namespace tavrocloud
