// Parser of the answer to "DeleteInstanceBackup": the cloud's result text.
#ifndef TAVROCLOUD_COMMON_DELETE_INSTANCE_BACKUP_RESPONSE_H
#define TAVROCLOUD_COMMON_DELETE_INSTANCE_BACKUP_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Delete_Instance_Backup_Response : public Flat_Response {
 public:
  Delete_Instance_Backup_Response();

  const std::string& result() const { return result_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_RESULT = 2,
    ELEMENT_ERROR_ROOT = 4,
    ELEMENT_MESSAGE = 8,
    STR_ELEMENTS_MASK = ELEMENT_RESULT | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { result_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    result_.assign(text, length);
  }

  std::string result_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_DELETE_INSTANCE_BACKUP_RESPONSE_H
