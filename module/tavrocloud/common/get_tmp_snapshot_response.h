// Parser of the answer to "DescribeTmpSnapshots": the temporary snapshots asked for, with
// where they are attached. The client polls them through creation, attachment, detachment
// and deletion.
#ifndef TAVROCLOUD_COMMON_GET_TMP_SNAPSHOT_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_TMP_SNAPSHOT_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_tmp_snapshot.h"

namespace tavrocloud {

class Get_Tmp_Snapshot_Response : public Flat_Response {
 public:
  Get_Tmp_Snapshot_Response();

  const Tmp_Snapshots& tmp_snapshots() const { return tmp_snapshots_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_TMP_SNAPSHOT_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_TMP_SNAPSHOT_ID = 8,
    ELEMENT_TMP_SNAPSHOT_NAME = 16,
    ELEMENT_VOLUME_ID = 32,
    ELEMENT_STATUS = 64,
    ELEMENT_ATTACH_INSTANCE_ID = 128,
    ELEMENT_ERROR_ROOT = 256,
    ELEMENT_MESSAGE = 512,
    STR_ELEMENTS_MASK = 760
  };

 private:
  void reset_results() override { tmp_snapshots_.clear(); }
  void open_item() override { tmp_snapshots_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Tmp_Snapshots tmp_snapshots_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_TMP_SNAPSHOT_RESPONSE_H
