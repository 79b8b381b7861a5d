#include "tavrocloud/common/delete_instance_backup_response.h"

namespace tavrocloud {

namespace {

using R = Delete_Instance_Backup_Response;

const Key2_Value_T<unsigned int> ELEMENT_TABLE[] = {
    TAVROCLOUD_ELEMENT_ROW("DeleteInstanceBackupResponse", R::ELEMENT_ROOT),
    TAVROCLOUD_ELEMENT_ROW("deleteInstanceBackupResult", R::ELEMENT_RESULT),
    TAVROCLOUD_ELEMENT_ROW("Error", R::ELEMENT_ERROR_ROOT),
    TAVROCLOUD_ELEMENT_ROW("Message", R::ELEMENT_MESSAGE),
    {nullptr, 0, R::ELEMENT_NONE}};

const Flat_Response_Elements ELEMENTS = {ELEMENT_TABLE, R::ELEMENT_ROOT, R::STR_ELEMENTS_MASK,
                                         R::ELEMENT_ERROR_ROOT, R::ELEMENT_MESSAGE};

}  // namespace

Delete_Instance_Backup_Response::Delete_Instance_Backup_Response()
    : Flat_Response("DeleteInstanceBackup", ELEMENTS) {}

}  // namespace tavrocloud
