// Parser of the answer to "CreateTmpSnapshots": the ids of the temporary snapshots made,
// one per item. The client asks for one at a time and requires exactly one id; an error
// answer's message names a residual snapshot that blocks creation.
#ifndef TAVROCLOUD_COMMON_CREATE_TMP_SNAPSHOT_RESPONSE_H
#define TAVROCLOUD_COMMON_CREATE_TMP_SNAPSHOT_RESPONSE_H

#include <string>
#include <vector>

#include "tavrocloud/common/flat_response.h"

namespace tavrocloud {

class Create_Tmp_Snapshot_Response : public Flat_Response {
 public:
  Create_Tmp_Snapshot_Response();

  // One id per item of the last answer, in order; an item without an id gives "".
  const std::vector<std::string>& tmp_snapshot_ids() const { return tmp_snapshot_ids_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ERROR_ROOT = 1,
    ELEMENT_MESSAGE = 2,
    ELEMENT_ROOT = 4,
    ELEMENT_ITEM = 8,
    ELEMENT_TMP_SNAPSHOT_ID = 16,
    STR_ELEMENTS_MASK = ELEMENT_TMP_SNAPSHOT_ID | ELEMENT_MESSAGE
  };

 private:
  void reset_results() override { tmp_snapshot_ids_.clear(); }
  void open_item() override { tmp_snapshot_ids_.emplace_back(); }
  // An id outside any item has no entry to go to and is dropped.
  void take_text(unsigned int, const char* text, size_t length) override {
    if (!tmp_snapshot_ids_.empty()) tmp_snapshot_ids_.back().assign(text, length);
  }

  std::vector<std::string> tmp_snapshot_ids_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_CREATE_TMP_SNAPSHOT_RESPONSE_H
