// Fuzz target: one cloud answer body fed to every response parser of the cloud client,
// the way a send delivers it (status 200), so both the XML feeding and each parser's
// own handling of the events see hostile input. A refused answer must always say why.
#include "cloud/api_response.h"
#include "fuzz_support.h"
#include "tavrocloud/common/common_result_response.h"
#include "tavrocloud/common/create_instance_backup_response.h"
#include "tavrocloud/common/create_instance_response.h"
#include "tavrocloud/common/create_network_interface_response.h"
#include "tavrocloud/common/create_snapshot_response.h"
#include "tavrocloud/common/create_tmp_snapshot_response.h"
#include "tavrocloud/common/create_volume_response.h"
#include "tavrocloud/common/delete_instance_backup_response.h"
#include "tavrocloud/common/delete_instance_response.h"
#include "tavrocloud/common/get_cloud_response.h"
#include "tavrocloud/common/get_cloud_version_response.h"
#include "tavrocloud/common/get_cluster_response.h"
#include "tavrocloud/common/get_image_response.h"
#include "tavrocloud/common/get_instance_backup_response.h"
#include "tavrocloud/common/get_instance_response.h"
#include "tavrocloud/common/get_instance_type_response.h"
#include "tavrocloud/common/get_network_interface_response.h"
#include "tavrocloud/common/get_node_response.h"
#include "tavrocloud/common/get_security_group_response.h"
#include "tavrocloud/common/get_snapshot_response.h"
#include "tavrocloud/common/get_storage_response.h"
#include "tavrocloud/common/get_subnet_response.h"
#include "tavrocloud/common/get_tmp_snapshot_response.h"
#include "tavrocloud/common/get_volume_response.h"
#include "tavrocloud/common/get_vpc_response.h"
#include "tavrocloud/common/operate_instance_response.h"
#include "tavrocloud/common/operate_volume_response.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace tavrocloud;

template <typename Response, typename... Args>
void feed(const char* body, size_t size, Args... args) {
  Response response(args...);
  if (!cloud::deliver_answer(response, 200, body, size) && response.message().empty())
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_log();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* body = reinterpret_cast<const char*>(data);
  feed<Common_Result_Response>(body, size, "DeleteVolume");
  feed<Create_Instance_Backup_Response>(body, size);
  feed<Create_Instance_Response>(body, size);
  feed<Create_Network_Interface_Response>(body, size);
  feed<Create_Snapshot_Response>(body, size);
  feed<Create_Tmp_Snapshot_Response>(body, size);
  feed<Create_Volume_Response>(body, size);
  feed<Delete_Instance_Backup_Response>(body, size);
  feed<Delete_Instance_Response>(body, size);
  feed<Get_Cloud_Response>(body, size);
  feed<Get_Cloud_Version_Response>(body, size);
  feed<Get_Cluster_Response>(body, size);
  feed<Get_Image_Response>(body, size);
  feed<Get_Instance_Backup_Response>(body, size);
  feed<Get_Instance_Response>(body, size);
  feed<Get_Instance_Type_Response>(body, size);
  feed<Get_Network_Interface_Response>(body, size);
  feed<Get_Node_Response>(body, size);
  feed<Get_Security_Group_Response>(body, size);
  feed<Get_Snapshot_Response>(body, size);
  feed<Get_Storage_Response>(body, size);
  feed<Get_Subnet_Response>(body, size);
  feed<Get_Tmp_Snapshot_Response>(body, size);
  feed<Get_Volume_Response>(body, size);
  feed<Get_Vpc_Response>(body, size);
  feed<Operate_Instance_Response>(body, size, "StopInstances");
  feed<Operate_Volume_Response>(body, size, "AttachVolume");
  return 0;
}
