// Parser of the answer to "DescribeSnapshots": the snapshots asked for. The client polls
// a new snapshot with it until the snapshot is completed.
#ifndef TAVROCLOUD_COMMON_GET_SNAPSHOT_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_SNAPSHOT_RESPONSE_H

#include "tavrocloud/common/flat_response.h"
#include "tavrocloud/common/tavrocloud_snapshot.h"

namespace tavrocloud {

class Get_Snapshot_Response : public Flat_Response {
 public:
  Get_Snapshot_Response();

  const Snapshots& snapshots() const { return snapshots_; }

  enum {
    ELEMENT_NONE = 0,
    ELEMENT_ROOT = 1,
    ELEMENT_SNAPSHOT_SET = 2,
    ELEMENT_ITEM = 4,
    ELEMENT_SNAPSHOT_ID = 8,
    ELEMENT_SNAPSHOT_NAME = 16,
    ELEMENT_VOLUME_ID = 32,
    ELEMENT_STATUS = 64,
    ELEMENT_ERROR_ROOT = 128,
    ELEMENT_MESSAGE = 256,
    STR_ELEMENTS_MASK = 376
  };

 private:
  void reset_results() override { snapshots_.clear(); }
  void open_item() override { snapshots_.emplace_back(); }
  void take_text(unsigned int element, const char* text, size_t length) override;

  Snapshots snapshots_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_SNAPSHOT_RESPONSE_H
