// Parser of the answer to "CreateSnapshot": the id of the new snapshot. The client then
// waits for the snapshot to complete.
#ifndef TAVROCLOUD_COMMON_CREATE_SNAPSHOT_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_SNAPSHOT_RESPONSE_H

#include <string>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Create_Snapshot_Response : public Flat_Response {
 public:
  Create_Snapshot_Response();

  const std::string& snapshot_id() const { return snapshot_id_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 1,
    ELEMENT_MESSAGE = 2,
    ELEMENT_ROOT = 4,
    ELEMENT_SNAPSHOT_ID = 8,
    STR_ELEMENTS_MASK = ELEMENT_SNAPSHOT_ID | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { snapshot_id_.clear(); }
  void take_text(unsigned int, const char* text, size_t length) override {
    snapshot_id_.assign(text, length);
  }

  std::string snapshot_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_SNAPSHOT_RESPONSE_H
