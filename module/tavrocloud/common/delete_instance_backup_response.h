// Parser of the answer to "DeleteInstanceBackup": the cloud's result text.
#ifndef TAVROCLOUD_COMMON_DELETE_INSTANCE_BACKUP_RESPONSE_H
#define TAVROCLOUD_COMMON_DELETE_INSTANCE_BACKUP_RESPONSE_H

#include <string>

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

class Delete_Instance_Backup_Response : public Default_Response {
 public:
  Delete_Instance_Backup_Response();

  const std::string& result() const { return result_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_RESULT = 2,
    ELEMENT_ERROR_ROOT = 4,
    ELEMENT_MESSAGE = 8,
    STR_ELEMENTS_MASK = ELEMENT_RESULT | ELEMENT_MESSAGE
  };

 private:
  std::string result_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_DELETE_INSTANCE_BACKUP_RESPONSE_H
