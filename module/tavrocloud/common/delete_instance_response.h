// Parser of the answer to "TerminateInstances": the state the instance is going to. The
// request succeeded when the instance is shutting down or already terminated.
#ifndef TAVROCLOUD_COMMON_DELETE_INSTANCE_RESPONSE_H
#define TAVROCLOUD_COMMON_DELETE_INSTANCE_RESPONSE_H

#include "tavrocloud/common/instance_state_response.h"

namespace tavrocloud {

class Delete_Instance_Response : public Instance_State_Response {
 public:
  Delete_Instance_Response();

  // True when the new state is "shutting-down" or "terminated".
  bool success() const override;

  int shutdown_state_code() const { return shutdown_state_code_; }
  Status shutdown_state_name() const { return shutdown_state_name_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_SHUTDOWN_STATE = 2,
    ELEMENT_CODE = 4,
    ELEMENT_NAME = 8,
    ELEMENT_CURRENT_STATE = 32,
    ELEMENT_ERROR_ROOT = 64,
    ELEMENT_MESSAGE = 128,
    STR_ELEMENTS_MASK = ELEMENT_CODE | ELEMENT_NAME | ELEMENT_MESSAGE
  };

 private:
  void reset_result() override {
    shutdown_state_code_ = 0;
    shutdown_state_name_ = UNKNOWN;
  }
  void take_code(int code) override { shutdown_state_code_ = code; }
  void take_name(Status name) override { shutdown_state_name_ = name; }

  int shutdown_state_code_;
  Status shutdown_state_name_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_DELETE_INSTANCE_RESPONSE_H
