// Parser of the answer to "BackupInstance": the id of the instance backup the cloud
// started. The client then waits for that backup to complete.
#ifndef TAVROCLOUD_COMMON_CREATE_INSTANCE_BACKUP_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_INSTANCE_BACKUP_RESPONSE_H

#include <string>

#include "tavrocloud/common/default_response.h"

namespace tavrocloud {

class Create_Instance_Backup_Response : public Default_Response {
 public:
  Create_Instance_Backup_Response();

  const std::string& backup_id() const { return backup_id_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 1,
    ELEMENT_MESSAGE = 2,
    ELEMENT_ROOT = 4,
    ELEMENT_BACKUP_ID = 8,
    STR_ELEMENTS_MASK = ELEMENT_MESSAGE | ELEMENT_BACKUP_ID
  };

 private:
  std::string backup_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_INSTANCE_BACKUP_RESPONSE_H
