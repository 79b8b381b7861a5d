// Parser of the answers to "AttachVolume" and "DetachVolume": the attachment's status.
// The client then polls the volume until the attachment settles.
#ifndef TAVROCLOUD_COMMON_OPERATE_VOLUME_RESPONSE_H
#define TAVROCLOUD_COMMON_OPERATE_VOLUME_RESPONSE_H

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Operate_Volume_Response : public Flat_Response {
 public:
  // `action`: "AttachVolume" or "DetachVolume" (either answer is read).
  explicit Operate_Volume_Response(const char* action);

  Status status() const { return status_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ATTACH_ROOT = 1,
    ELEMENT_DETACH_ROOT = 2,
    ELEMENT_STATUS = 4,
    ELEMENT_ERROR_ROOT = 8,
    ELEMENT_MESSAGE = 16,
    STR_ELEMENTS_MASK = ELEMENT_STATUS | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { status_ = UNKNOWN; }
  void take_text(unsigned int, const char* text, size_t length) override {
    status_ = text_to_status(text, length);
  }

  Status status_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_OPERATE_VOLUME_RESPONSE_H
