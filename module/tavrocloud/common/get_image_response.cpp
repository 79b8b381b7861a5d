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

}  // namespace

Get_Image_Response::Get_Image_Response() : Default_Response("DescribeImages") {}

void Get_Image_Response::startElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                      const ACEXML_Char*, ACEXML_Attributes*) {
  const unsigned int bit =
      element_to_open(ELEMENT_TABLE, local_name, element_, ELEMENT_ROOT | ELEMENT_ERROR_ROOT);
  switch (bit) {
    case ELEMENT_ROOT: images_.clear(); break;
    case ELEMENT_ITEM: images_.emplace_back(); break;
    case ELEMENT_ERROR_ROOT: message_.clear(); break;
    default: break;
  }
  element_ |= bit;
}

void Get_Image_Response::characters(const ACEXML_Char* ch, size_t start, size_t length) {
  if (ch == nullptr || length == 0) return;
  const char* const text = ch + start;
  const unsigned int bit = single_text_element(element_, STR_ELEMENTS_MASK);
  if (bit == ELEMENT_MESSAGE) {
    message_.assign(text, length);
  } else if (!images_.empty()) {
    set_field(images_.back(), bit, text, length);
  }
}

void Get_Image_Response::endElement(const ACEXML_Char*, const ACEXML_Char* local_name,
                                    const ACEXML_Char*) {
  element_ &= ~element_bit(ELEMENT_TABLE, local_name);
}

}  // namespace tavrocloud
