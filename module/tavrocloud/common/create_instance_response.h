// Parser of the answer to "RunInstances": the id of the new instance, wherever it stands
// below the root. The client then waits for the instance to run.
#ifndef TAVROCLOUD_COMMON_CREATE_INSTANCE_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_INSTANCE_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Create_Instance_Response : public Flat_Response {
 public:
  Create_Instance_Response();

  const std::string& instance_id() const { return instance_id_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 2,
    ELEMENT_MESSAGE = 4,
    ELEMENT_ROOT = 8,
    ELEMENT_INSTANCE_ID = 16,
    STR_ELEMENTS_MASK = ELEMENT_INSTANCE_ID | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { instance_id_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    instance_id_.assign(text, length);
  }

  std::string instance_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_INSTANCE_RESPONSE_H
