// Parser of the answer to "BackupInstance": the id of the instance backup the cloud
// started. The client then waits for that backup to complete.
#ifndef TAVROCLOUD_COMMON_CREATE_INSTANCE_BACKUP_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_INSTANCE_BACKUP_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Create_Instance_Backup_Response : public Flat_Response {
 public:
  Create_Instance_Backup_Response();

  const std::string& backup_id() const { return backup_id_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 1,
    ELEMENT_MESSAGE = 2,
    ELEMENT_ROOT = 4,
    ELEMENT_BACKUP_ID = 8,
    STR_ELEMENTS_MASK = ELEMENT_MESSAGE | ELEMENT_BACKUP_ID
  };

 private:
  void reset_results() override { backup_id_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    backup_id_.assign(text, length);
  }

  std::string backup_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_INSTANCE_BACKUP_RESPONSE_H
