#include "tavrocloud/common/get_storage_response.h"

namespace tavrocloud {

namespace {

using R = Get_Storage_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeStoragesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("storageSet", R::ELEMENT_STORAGE_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("storageId", R::ELEMENT_STORAGE_ID),
    TAVROCLOUD_ELEMENT_ROW("storageName", R::ELEMENT_STORAGE_NAME),
    TAVROCLOUD_ELEMENT_ROW("storageType", R::ELEMENT_STORAGE_TYPE),
    TAVROCLOUD_ELEMENT_ROW("location", R::ELEMENT_LOCATION),
    TAVROCLOUD_ELEMENT_ROW("fileFormat", R::ELEMENT_FILE_FORMAT),
    TAVROCLOUD_ELEMENT_ROW("disabled", R::ELEMENT_DISABLED),
    TAVROCLOUD_ELEMENT_ROW("logicSpaceUsed", R::ELEMENT_LOGIC_SPACE_USED),
    TAVROCLOUD_ELEMENT_ROW("logicSpaceMax", R::ELEMENT_LOGIC_SPACE_MAX),
    TAVROCLOUD_ELEMENT_ROW("spaceUsed", R::ELEMENT_SPACE_USED),
    TAVROCLOUD_ELEMENT_ROW("spaceMax", R::ELEMENT_SPACE_MAX),
    TAVROCLOUD_ELEMENT_ROW("parameterSet", R::ELEMENT_PARAMETER_SET),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Storage& storage, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_STORAGE_ID: storage.id.assign(text, length); break;
    case R::ELEMENT_STORAGE_NAME: storage.name.assign(text, length); break;
    case R::ELEMENT_STORAGE_TYPE: storage.type.assign(text, length); break;
    case R::ELEMENT_LOCATION: storage.location.assign(text, length); break;
    case R::ELEMENT_FILE_FORMAT: storage.file_format.assign(text, length); break;
    case R::ELEMENT_DISABLED: storage.disable = text_to_bool(text, length); break;
    case R::ELEMENT_LOGIC_SPACE_USED: storage.logic_space_used = text_to_int(text, length); break;
    case R::ELEMENT_LOGIC_SPACE_MAX: storage.logic_space_max = text_to_int(text, length); break;
    case R::ELEMENT_SPACE_USED: storage.space_used = text_to_int(text, length); break;
    case R::ELEMENT_SPACE_MAX: storage.space_max = text_to_int(text, length); break;
    default: break;
  }
}

}  // namespace

Get_Storage_Response::Get_Storage_Response()
    : Default_Response("DescribeStorages"), state_(PARSE_ROOT) {}

void Get_Storage_Response::reset_open_elements() {
  Default_Response::reset_open_elements();
  state_ = PARSE_ROOT;
  nesting_.reset();
}

void Get_Storage_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                        const ACEXML_Char*, ACEXML_Attributes*) {
  nesting_.enter();
  const unsigned int bit =
      open_element(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: storages_.clear(); break;
    case ELEMENT_STORAGE_SET: state_ = PARSE_STORAGE; break;
    case ELEMENT_ITEM:
      if (nesting_.enter_item(state_ == PARSE_STORAGE)) storages_.emplace_back();
      break;
    case ELEMENT_PARAMETER_SET: state_ = PARSE_PARAMETER; break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Storage_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  const char* const text = value_text(ch, start, length);
  if (text == nullptr) return;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (!storages_.empty() && !nesting_.in_nested_item()) {
    set_field(storages_.back(), bit, text, length);
  }
}

void Get_Storage_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                      const ACEXML_Char*) {
  const unsigned int bit = element_bit(ELEMENT_TABLE, local_name);
  if (bit == ELEMENT_STORAGE_SET) state_ = PARSE_ROOT;
  if (bit == ELEMENT_PARAMETER_SET) state_ = PARSE_STORAGE;
  element_ &= ~bit;
  nesting_.leave();
}

}  // namespace tavrocloud
