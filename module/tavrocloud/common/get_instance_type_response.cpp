#include "tavrocloud/common/get_instance_type_response.h"

namespace tavrocloud {

namespace {

using R = Get_Instance_Type_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeInstanceTypesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("instanceType", R::ELEMENT_INSTANCE_TYPE),
    TAVROCLOUD_ELEMENT_ROW("displayName", R::ELEMENT_DISPLAY_NAME),
    TAVROCLOUD_ELEMENT_ROW("cpu", R::ELEMENT_CPU),
    TAVROCLOUD_ELEMENT_ROW("ram", R::ELEMENT_RAM),
    TAVROCLOUD_ELEMENT_ROW("disk", R::ELEMENT_DISK),
    TAVROCLOUD_ELEMENT_ROW("max", R::ELEMENT_MAX),
    TAVROCLOUD_ELEMENT_ROW("available", R::ELEMENT_AVAILABLE),
    TAVROCLOUD_ELEMENT_ROW("isBareMetal", R::ELEMENT_IS_BARE_METAL),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Instance_Type& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_INSTANCE_TYPE: record.type.assign(text, length); break;
    case R::ELEMENT_DISPLAY_NAME: record.display_name.assign(text, length); break;
    case R::ELEMENT_CPU: record.cpu = text_to_int(text, length); break;
    case R::ELEMENT_RAM: record.ram = text_to_int(text, length); break;
    case R::ELEMENT_DISK: record.disk = text_to_int(text, length); break;
    case R::ELEMENT_MAX: record.max = text_to_int(text, length); break;
    case R::ELEMENT_AVAILABLE: record.available = text_to_int(text, length); break;
    case R::ELEMENT_IS_BARE_METAL: record.is_bare_metal = text_to_bool(text, length); break;
    default: break;
  }
}

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Get_Instance_Type_Response::Get_Instance_Type_Response()
    : Flat_Response("DescribeInstanceTypes", ELEMENTS) {}

// A field outside any item has no record to go to and is dropped.
void Get_Instance_Type_Response::take_text(unsigned int element, const char* text, size_t length) {
  if (!instance_types_.empty()) set_field(instance_types_.back(), element, text, length);
}

}  // namespace tavrocloud
