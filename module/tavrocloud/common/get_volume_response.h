// Parser of the answer to "DescribeVolumes": volumes with their attachment. The client
// follows volumes with it through creation, attachment, detachment and moves between
// nodes, and lists the volumes attached to an instance.
#ifndef TAVROCLOUD_COMMON_GET_VOLUME_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_VOLUME_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_volume.h"

namespace tavrocloud {

class Get_Volume_Response : public Default_Response {
 public:
  Get_Volume_Response();

  const Volumes& volumes() const { return volumes_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_VOLUME_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_VOLUME_ID = 8,
    ELEMENT_VOLUME_NAME = 16,
    ELEMENT_SIZE = 32,
    ELEMENT_STATUS = 64,
    ELEMENT_IS_ROOT = 128,
    ELEMENT_STORAGE_ID = 256,
    ELEMENT_AVAILABILITY_ZONE = 512,
    ELEMENT_ATTACHMENT_SET = 1024,
    ELEMENT_INSTANCE_ID = 2048,
    ELEMENT_DEVICE = 4096,
    ELEMENT_TAG_SET = 8192,
    ELEMENT_NODE_ID = 16384,
    ELEMENT_ERROR_ROOT = 32768,
    ELEMENT_MESSAGE = 65536,
    STR_ELEMENTS_MASK = 89080
  };

 protected:
  void reset_open_elements() override;

 private:
  enum STATE { PARSE_ROOT = 0, PARSE_VOLUME = 1, PARSE_ATTACHMENT = 2, PARSE_TAG = 3 };

  void set_field(Volume& volume, unsigned int element, const char* text, size_t length);
  void set_attachment_field(Volume_Attachment& attachment, unsigned int element,
                            const char* text, size_t length);

  Volumes volumes_;
  STATE state_;
  Record_Nesting nesting_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_VOLUME_RESPONSE_H
