#include "tavrocloud/common/create_tmp_snapshot_response.h"

namespace tavrocloud {

namespace {

using R = Create_Tmp_Snapshot_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("CreateTmpSnapshotsResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("item", R::ELEMENT_ITEM),
    TAVROCLOUD_ELEMENT_ROW("tmpSnapshotId", R::ELEMENT_TMP_SNAPSHOT_ID),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE,
                                         R::ELEMENT_ITEM};

}  // namespace

Create_Tmp_Snapshot_Response::Create_Tmp_Snapshot_Response()
    : Flat_Response("CreateTmpSnapshots", ELEMENTS) {}

}  // namespace tavrocloud
