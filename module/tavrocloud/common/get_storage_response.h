// Parser of the answer to "DescribeStorages": the storages that hold volumes, with their
// type and space. The backup decides power-off and temporary snapshots from the type;
// a restore looks at the free space.
#ifndef TAVROCLOUD_COMMON_GET_STORAGE_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_STORAGE_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_storage.h"

namespace tavrocloud {

class Get_Storage_Response : public Default_Response {
 public:
  Get_Storage_Response();

  const Storages& storages() const { return storages_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_STORAGE_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_STORAGE_ID = 8,
    ELEMENT_STORAGE_NAME = 16,
    ELEMENT_STORAGE_TYPE = 32,
    ELEMENT_LOCATION = 64,
    ELEMENT_FILE_FORMAT = 128,
    ELEMENT_DISABLED = 256,
    ELEMENT_LOGIC_SPACE_USED = 512,
    ELEMENT_LOGIC_SPACE_MAX = 1024,
    ELEMENT_SPACE_USED = 2048,
    ELEMENT_SPACE_MAX = 4096,
    ELEMENT_PARAMETER_SET = 8192,
    ELEMENT_ERROR_ROOT = 16384,
    ELEMENT_MESSAGE = 32768,
    STR_ELEMENTS_MASK = 40952
  };

 protected:
  void reset_open_elements() override;

 private:
  enum State { PARSE_ROOT = 0, PARSE_STORAGE = 1, PARSE_PARAMETER = 2 };

  Storages storages_;
  State state_;
  Record_Nesting nesting_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_STORAGE_RESPONSE_H
