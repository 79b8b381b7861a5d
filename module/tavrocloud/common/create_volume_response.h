// Parser of the answer to "CreateVolume": the id of the new volume. The client then waits
// for the volume to become available.
#ifndef TAVROCLOUD_COMMON_CREATE_VOLUME_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_VOLUME_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Create_Volume_Response : public Flat_Response {
 public:
  Create_Volume_Response();

  const std::string& volume_id() const { return volume_id_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_VOLUME_ID = 2,
    ELEMENT_ERROR_ROOT = 4,
    ELEMENT_MESSAGE = 8,
    STR_ELEMENTS_MASK = ELEMENT_VOLUME_ID | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { volume_id_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    volume_id_.assign(text, length);
  }

  std::string volume_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_VOLUME_RESPONSE_H
