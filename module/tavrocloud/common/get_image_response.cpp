#include "tavrocloud/common/get_image_response.h"

namespace tavrocloud {

namespace {

using R = Get_Image_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeImagesResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("imageId", R::ELEMENT_ID),
    TAVROCLOUD_ELEMENT_ROW("name", R::ELEMENT_NAME),
    TAVROCLOUD_ELEMENT_ROW("imageLocation", R::ELEMENT_LOCATION),
    TAVROCLOUD_ELEMENT_ROW("architecture", R::ELEMENT_ARCHITECTURE),
    TAVROCLOUD_ELEMENT_ROW("imageSize", R::ELEMENT_SIZE),
    TAVROCLOUD_ELEMENT_ROW("hypervisor", R::ELEMENT_HYPERVISOR),
    TAVROCLOUD_ELEMENT_ROW("bootloader", R::ELEMENT_BOOTLOADER),
    TAVROCLOUD_ELEMENT_ROW("contentmode", R::ELEMENT_CONTENTMODE),
    TAVROCLOUD_ELEMENT_ROW("diskBus", R::ELEMENT_DISK_BUS),
    TAVROCLOUD_ELEMENT_ROW("platform", R::ELEMENT_PLATFORM),
    TAVROCLOUD_ELEMENT_ROW("imageState", R::ELEMENT_STATE),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Image& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_ID: record.id.assign(text, length); break;
    case R::ELEMENT_NAME: record.name.assign(text, length); break;
    case R::ELEMENT_LOCATION: record.location.assign(text, length); break;
    case R::ELEMENT_ARCHITECTURE: record.architecture.assign(text, length); break;
    case R::ELEMENT_SIZE: record.size = text_to_int64(text, length); break;
    case R::ELEMENT_HYPERVISOR: record.hypervisor.assign(text, length); break;
    case R::ELEMENT_BOOTLOADER: record.bootloader.assign(text, length); break;
    case R::ELEMENT_CONTENTMODE: record.contentmode.assign(text, length); break;
    case R::ELEMENT_DISK_BUS: record.disk_bus.assign(text, length); break;
    case R::ELEMENT_PLATFORM: record.platform.assign(text, length); break;
    case R::ELEMENT_STATE: record.status = text_to_status(text, length); break;
    default: break;
  }
}

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Get_Image_Response::Get_Image_Response() : Flat_Response("DescribeImages", ELEMENTS) {}

// A field outside any item has no record to go to and is dropped.
void Get_Image_Response::take_text(unsigned int element, const char* text, size_t length) {
  if (!images_.empty()) set_field(images_.back(), element, text, length);
}

}  // namespace tavrocloud
