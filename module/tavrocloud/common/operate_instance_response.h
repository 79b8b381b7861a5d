// Parser of the answers to "StartInstances" and "StopInstances": the state the instance
// is going to. The client then waits for the instance to get there.
#ifndef TAVROCLOUD_COMMON_OPERATE_INSTANCE_RESPONSE_H
#define TAVROCLOUD_COMMON_OPERATE_INSTANCE_RESPONSE_H

#include "tavrocloud/common/instance_state_response.h"

namespace tavrocloud {

class Operate_Instance_Response : public Instance_State_Response {
 public:
  // `action`: "StartInstances" or "StopInstances" (either answer is read).
  explicit Operate_Instance_Response(const char* action);

  int current_state_code() const { return current_state_code_; }
  Status current_state_name() const { return current_state_name_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_START_ROOT = 1,
    ELEMENT_STOP_ROOT = 2,
    ELEMENT_CURRENT_STATE = 4,
    ELEMENT_CODE = 8,
    ELEMENT_NAME = 16,
    ELEMENT_PREVIOUS_STATE = 32,
    ELEMENT_ERROR_ROOT = 64,
    ELEMENT_MESSAGE = 128,
    STR_ELEMENTS_MASK = ELEMENT_CODE | ELEMENT_NAME | ELEMENT_MESSAGE
  };

 private:
  void reset_result() override {
    current_state_code_ = 0;
    current_state_name_ = UNKNOWN;
  }
  void take_code(int code) override { current_state_code_ = code; }
  void take_name(Status name) override { current_state_name_ = name; }

  int current_state_code_;
  Status current_state_name_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_OPERATE_INSTANCE_RESPONSE_H
