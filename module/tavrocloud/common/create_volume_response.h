// Parser of the answer to "CreateVolume": the id of the new volume. The client then waits
// for the volume to become available.
#ifndef TAVROCLOUD_COMMON_CREATE_VOLUME_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_VOLUME_RESPONSE_H

#include <string>

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

class Create_Volume_Response : public Default_Response {
 public:
  Create_Volume_Response();

  const std::string& volume_id() const { return volume_id_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_VOLUME_ID = 2,
    ELEMENT_ERROR_ROOT = 4,
    ELEMENT_MESSAGE = 8,
    STR_ELEMENTS_MASK = ELEMENT_VOLUME_ID | ELEMENT_MESSAGE
  };

 private:
  std::string volume_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_VOLUME_RESPONSE_H
