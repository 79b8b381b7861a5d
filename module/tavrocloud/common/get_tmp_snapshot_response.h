// Parser of the answer to "DescribeTmpSnapshots": the temporary snapshots asked for, with
// where they are attached. The client polls them through creation, attachment, detachment
// and deletion.
#ifndef TAVROCLOUD_COMMON_GET_TMP_SNAPSHOT_RESPONSE_H
#define TAVROCLOUD_COMMON_GET_TMP_SNAPSHOT_RESPONSE_H

#include "tavrocloud/common/default_response.h"
#include "tavrocloud/common/tavrocloud_tmp_snapshot.h"

namespace tavrocloud {

class Get_Tmp_Snapshot_Response : public Default_Response {
 public:
  Get_Tmp_Snapshot_Response();

  const Tmp_Snapshots& tmp_snapshots() const { return tmp_snapshots_; }

  void characters(const ACEXML_Char* ch, size_t start, size_t length) override;
  void endElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                  const ACEXML_Char* q_name) override;
  void startElement(const ACEXML_Char* namespace_uri, const ACEXML_Char* local_name,
                    const ACEXML_Char* q_name, ACEXML_Attributes* atts) override;

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
  Tmp_Snapshots tmp_snapshots_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_GET_TMP_SNAPSHOT_RESPONSE_H
