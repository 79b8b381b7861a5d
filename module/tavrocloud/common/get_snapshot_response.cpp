#include "tavrocloud/common/get_snapshot_response.h"

namespace tavrocloud {

namespace {

using R = Get_Snapshot_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DescribeSnapshotsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("snapshotSet", R::ELEMENT_SNAPSHOT_SET),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("snapshotId", R::ELEMENT_SNAPSHOT_ID),
    TAVROCLOUD_ELEMENT_ROW("snapshotName", R::ELEMENT_SNAPSHOT_NAME),
    TAVROCLOUD_ELEMENT_ROW("volumeId", R::ELEMENT_VOLUME_ID),
    TAVROCLOUD_ELEMENT_ROW("status", R::ELEMENT_STATUS),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

void set_field(Snapshot& record, unsigned int element, const char* text, size_t length) {
  switch (element) {
    case R::ELEMENT_SNAPSHOT_ID: record.id.assign(text, length); break;
    case R::ELEMENT_SNAPSHOT_NAME: record.name.assign(text, length); break;
    case R::ELEMENT_VOLUME_ID: record.volume_id.assign(text, length); break;
    case R::ELEMENT_STATUS: record.status = text_to_status(text, length); break;
    default: break;
  }
}

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Get_Snapshot_Response::Get_Snapshot_Response() : Flat_Response("DescribeSnapshots", ELEMENTS) {}

// A field outside any item has no record to go to and is dropped.
void Get_Snapshot_Response::take_text(unsigned int element, const char* text, size_t length) {
  if (!snapshots_.empty()) set_field(snapshots_.back(), element, text, length);
}

}  // namespace tavrocloud
