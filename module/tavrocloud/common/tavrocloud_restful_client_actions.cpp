// The action operations of the cloud client: one request per operation (or a fixed
// sequence of them for the composites), each read by the parser of its answer.
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include "json/json_dump.h"
#include "tavrocloud/common/common_result_response.h"
#include "tavrocloud/common/create_instance_backup_response.h"
#include "tavrocloud/common/create_instance_response.h"
#include "tavrocloud/common/create_network_interface_response.h"
#include "tavrocloud/common/create_snapshot_response.h"
#include "tavrocloud/common/create_volume_response.h"
#include "tavrocloud/common/delete_instance_backup_response.h"
#include "tavrocloud/common/delete_instance_response.h"
#include "tavrocloud/common/get_cloud_response.h"
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
#include "tavrocloud/common/tavrocloud_restful_client_waits.h"
#include "yolt/string_sprintf.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <utility>

namespace tavrocloud {
namespace {

// The one filter an action is asked with.
RESTful_Client::Params filter(const char* key, const std::string& value) {
  return {{"Filter.1.Name", key}, {"Filter.1.Value.1", value}};
}

RESTful_Client::Params one(const char* name, const std::string& value) { return {{name, value}}; }

// Tells the caller of a single-object query, when it asked, what the query met; returns
// whether the object was found.
bool looked_up(Lookup* lookup, Lookup::Answer answer, const std::string& reason = "") {
  if (lookup != nullptr) {
    lookup->answer = answer;
    lookup->reason = answer == Lookup::FAILED ? reason : std::string();
  }
  return answer == Lookup::FOUND;
}

// The single-record rule: the answer must hold exactly one record, which is copied out;
// otherwise `size_format` is logged with `id` and the count, and `out` stays as it was.
// No record is an object the cloud does not have; several, an answer not to be trusted.
template <typename Record>
bool take_single(const std::vector<Record>& found, Record& out, const char* size_format,
                 const std::string& id, Lookup* lookup = nullptr) {
  if (found.size() != 1) {
    ACE_ERROR((LM_ERROR, size_format, id.c_str(), static_cast<int>(found.size())));
    return looked_up(lookup, found.empty() ? Lookup::NOT_FOUND : Lookup::FAILED,
                     std::to_string(found.size()) + " records for the one id");
  }
  out = found.front();
  return looked_up(lookup, Lookup::FOUND);
}

const char* msg(const Default_Response& rsp) { return rsp.message().c_str(); }

// Whether a refused request says that the cloud does not know the id it was asked for.
bool is_not_found(const Default_Response& rsp) {
  static const std::string NOT_FOUND = ".NotFound";
  const std::string& code = rsp.error_code();
  return code.size() >= NOT_FOUND.size() &&
         code.compare(code.size() - NOT_FOUND.size(), NOT_FOUND.size(), NOT_FOUND) == 0;
}

// A failed request of a single-object query, for the caller's `lookup`: false.
bool query_failed(const Default_Response& rsp, Lookup* lookup) {
  return looked_up(lookup, is_not_found(rsp) ? Lookup::NOT_FOUND : Lookup::FAILED,
                   rsp.message());
}

// A failed listing: the cloud's words go to `reason` when the caller asked for them.
bool listing_failed(const Default_Response& rsp, std::string* reason) {
  if (reason != nullptr) *reason = rsp.message();
  return false;
}

// A failed query of a resource that a wait after a create tolerates not seeing yet: the
// cloud answered that it does not know the id. Marked in `grace`, not logged.
bool tolerated_not_found(Listing_Grace* grace, const Default_Response& rsp) {
  if (grace == nullptr || !grace->tolerated || !is_not_found(rsp)) return false;
  grace->seen = true;
  return true;
}

// The same for a listing that holds no record.
bool tolerated_empty(Listing_Grace* grace, size_t count) {
  if (grace == nullptr || !grace->tolerated || count != 0) return false;
  grace->seen = true;
  return true;
}

}  // namespace

// ---- cloud, clusters and nodes ----------------------------------------------------------

bool RESTful_Client::query_cloud(Cloud& cloud) {
  Get_Cloud_Response rsp;
  if (!send_request("DescribeCloud", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query cloud, msg: %s.\n", msg(rsp)));
    return false;
  }
  cloud = rsp.cloud();
  return true;
}

bool RESTful_Client::query_clusters(Clusters& clusters) {
  Get_Cluster_Response rsp;
  if (!send_request("DescribeClusters", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query clusters, msg: %s.\n", msg(rsp)));
    return false;
  }
  clusters = rsp.clusters();
  return true;
}

bool RESTful_Client::query_cluster(const std::string& cluster_id, Cluster& cluster,
                                   Lookup* lookup) {
  Get_Cluster_Response rsp;
  if (!send_request("DescribeClusters", one("clusterId", cluster_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query cluster %s, msg: %s.\n", cluster_id.c_str(), msg(rsp)));
    return query_failed(rsp, lookup);
  }
  return take_single(rsp.clusters(), cluster,
                     "Failed to query cluster %s, clusters size not 1, size is %d.\n", cluster_id,
                     lookup);
}

bool RESTful_Client::query_nodes(Nodes& nodes) {
  Get_Node_Response rsp;
  if (!send_request("DescribeNodes", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query nodes, msg: %s.\n", msg(rsp)));
    return false;
  }
  nodes = rsp.nodes();
  return true;
}

bool RESTful_Client::query_node(const std::string& node_id, Node& node, Lookup* lookup) {
  Get_Node_Response rsp;
  if (!send_request("DescribeNodes", one("NodeId", node_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query node %s, msg: %s.\n", node_id.c_str(), msg(rsp)));
    return query_failed(rsp, lookup);
  }
  return take_single(rsp.nodes(), node, "Failed to query node %s, nodes size not 1, size is %d.\n",
                     node_id, lookup);
}

bool RESTful_Client::query_cluster_nodes(const std::string& cluster_id, Nodes& nodes) {
  Get_Node_Response rsp;
  if (!send_request("DescribeNodes", one("ClusterId", cluster_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query cluster %s nodes, msg: %s.\n", cluster_id.c_str(),
               msg(rsp)));
    return false;
  }
  nodes = rsp.nodes();
  return true;
}

// ---- instances and instance types -------------------------------------------------------

bool RESTful_Client::query_instances(Instances& instances, std::string* reason) {
  Get_Instance_Response rsp;
  if (!send_request("DescribeInstances", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query instances, msg: %s.\n", msg(rsp)));
    return listing_failed(rsp, reason);
  }
  instances = rsp.instances();
  return query_later_pages("DescribeInstances", Params(), rsp, &Get_Instance_Response::instances,
                           instances) ||
         listing_failed(rsp, reason);
}

bool RESTful_Client::query_instance_detail(const std::string& instance_id, Instance& instance) {
  if (!query_instance(instance_id, instance)) return false;
  if (!query_instance_type(instance.instance_type.type, instance.instance_type)) return false;
  for (Volume& volume : instance.volumes) {
    if (!query_volume(volume.id, volume)) return false;
  }
  // An instance outlives the image it was made from; its detail is still useful.
  if (!query_image(instance.image_id, instance.image)) {
    ACE_ERROR((LM_ERROR, "Failed to query tavro image %s.\n", instance.image_id.c_str()));
  }
  return true;
}

bool RESTful_Client::query_instance(const std::string& instance_id, Instance& instance,
                                    Lookup* lookup) {
  return query_instance(instance_id, instance, nullptr, lookup);
}

bool RESTful_Client::query_instance(const std::string& instance_id, Instance& instance,
                                    Listing_Grace* grace, Lookup* lookup) {
  Get_Instance_Response rsp;
  if (!send_request("DescribeInstances", filter("instance-id", instance_id), rsp)) {
    if (tolerated_not_found(grace, rsp)) return looked_up(lookup, Lookup::NOT_FOUND);
    ACE_ERROR((LM_ERROR, "Failed to query instance %s, msg: %s.\n", instance_id.c_str(), msg(rsp)));
    return query_failed(rsp, lookup);
  }
  if (tolerated_empty(grace, rsp.instances().size())) return looked_up(lookup, Lookup::NOT_FOUND);
  return take_single(rsp.instances(), instance,
                     "Failed to query instance %s, instances size not 1, size is %d.\n",
                     instance_id, lookup);
}

// An instance on a later page must not silently go unprotected: both filtered listings
// follow every page, asking each page with the same filter.
bool RESTful_Client::query_cluster_instances(const std::string& cluster_id, Instances& instances,
                                             std::string* reason) {
  Get_Instance_Response rsp;
  const Params params = filter("availability-zone", cluster_id);
  if (!send_request("DescribeInstances", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query cluster %s instances, msg: %s.\n", cluster_id.c_str(),
               msg(rsp)));
    return listing_failed(rsp, reason);
  }
  instances = rsp.instances();
  return query_later_pages("DescribeInstances", params, rsp, &Get_Instance_Response::instances,
                           instances) ||
         listing_failed(rsp, reason);
}

bool RESTful_Client::query_node_instances(const std::string& node_id, Instances& instances,
                                          std::string* reason) {
  Get_Instance_Response rsp;
  const Params params = filter("node-id", node_id);
  if (!send_request("DescribeInstances", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query node %s instances, msg: %s.\n", node_id.c_str(),
               msg(rsp)));
    return listing_failed(rsp, reason);
  }
  instances = rsp.instances();
  return query_later_pages("DescribeInstances", params, rsp, &Get_Instance_Response::instances,
                           instances) ||
         listing_failed(rsp, reason);
}

// The restore asks this to learn whether a name is taken, so "none" is no error.
bool RESTful_Client::query_instances_by_name(const std::string& inst_name, Instances& insts) {
  Get_Instance_Response rsp;
  if (!send_request("DescribeInstances", filter("instance-name", inst_name), rsp)) {
    ACE_DEBUG((LM_INFO, "Failed to query instances by name %s , msg: %s.\n", inst_name.c_str(),
               msg(rsp)));
    return false;
  }
  if (rsp.instances().empty()) {
    ACE_DEBUG((LM_INFO, "Failed to query instances by name %s\n.", inst_name.c_str()));
    return false;
  }
  insts = rsp.instances();
  return true;
}

bool RESTful_Client::create_instance(const Params& params, Instance& instance) {
  Create_Instance_Response rsp;
  if (!send_request("RunInstances", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to create instance, msg: %s.\n", msg(rsp)));
    return false;
  }
  const std::string id = rsp.instance_id();
  instance.id = id;
  Listing_Grace grace;
  auto query = [this, &id, &grace](Instance& polled) { return query_instance(id, polled, &grace); };
  return query_resource(query, instance, PENDING, RUNNING, WAIT_CREATE_TIMEOUT, &grace);
}

bool RESTful_Client::delete_instance(const std::string& instance_id) {
  Delete_Instance_Response rsp;
  if (!send_request("TerminateInstances", one("InstanceId.1", instance_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to delete instance %s, msg: %s.\n", instance_id.c_str(),
               msg(rsp)));
    return false;
  }
  return true;
}

bool RESTful_Client::stop_instance(const std::string& instance_id) {
  Operate_Instance_Response rsp("StopInstances");
  if (!send_request("StopInstances", one("InstanceId.1", instance_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to stop instance %s, msg: %s.\n", instance_id.c_str(), msg(rsp)));
    return false;
  }
  Instance instance;
  auto query = [this, &instance_id](Instance& polled) { return query_instance(instance_id, polled); };
  return query_resource(query, instance, STOPPING, STOPPED, WAIT_CHANGE_TIMEOUT);
}

bool RESTful_Client::start_instance(const std::string& instance_id) {
  Operate_Instance_Response rsp("StartInstances");
  if (!send_request("StartInstances", one("InstanceId.1", instance_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to start instance %s, msg: %s.\n", instance_id.c_str(),
               msg(rsp)));
    return false;
  }
  Instance instance;
  auto query = [this, &instance_id](Instance& polled) { return query_instance(instance_id, polled); };
  return query_resource(query, instance, PENDING, RUNNING, WAIT_CHANGE_TIMEOUT);
}

bool RESTful_Client::query_instance_type(const std::string& type, Instance_Type& instance_type) {
  Get_Instance_Type_Response rsp;
  if (!send_request("DescribeInstanceTypes", one("InstanceType.1", type), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query instance type %s, msg: %s.\n", type.c_str(), msg(rsp)));
    return false;
  }
  return take_single(rsp.instance_types(), instance_type,
                     "Failed to query instance type %s, size not 1, size is %d.\n", type);
}

bool RESTful_Client::query_instance_types(Instance_Types& instance_types) {
  Get_Instance_Type_Response rsp;
  if (!send_request("DescribeInstanceTypes", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query instance types, msg: %s.\n", msg(rsp)));
    return false;
  }
  instance_types = rsp.instance_types();
  return true;
}

// ---- volumes ----------------------------------------------------------------------------

bool RESTful_Client::create_volume(const std::string& volume_name,
                                   const std::string& availability_zone,
                                   const std::string& storage_id, int64_t size,
                                   const std::string& node_id, Volume& volume) {
  Params params = {{"VolumeName", volume_name},
                   {"AvailabilityZone", availability_zone},
                   {"Size", std::to_string(size)},
                   {"StorageId", storage_id}};
  if (!node_id.empty()) params.emplace_back("nodeId", node_id);
  return create_volume_i(params, volume);
}

bool RESTful_Client::create_volume_by_snapshot(const std::string& snapshot_id,
                                               const std::string& availability_zone,
                                               const std::string& volume_name, Volume& volume) {
  const Params params = {{"SnapshotId", snapshot_id},
                         {"AvailabilityZone", availability_zone},
                         {"VolumeName", volume_name}};
  return create_volume_i(params, volume);
}

bool RESTful_Client::create_volume_i(const Params& params, Volume& volume) {
  Create_Volume_Response rsp;
  if (!send_request("CreateVolume", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to create volume, msg: %s.\n", msg(rsp)));
    return false;
  }
  const std::string id = rsp.volume_id();
  volume.id = id;
  Listing_Grace grace;
  auto query = [this, &id, &grace](Volume& polled) { return query_volume(id, polled, &grace); };
  return query_resource(query, volume, CREATING, AVAILABLE, WAIT_CREATE_TIMEOUT, &grace);
}

bool RESTful_Client::query_volume(const std::string& volume_id, Volume& volume) {
  return query_volume(volume_id, volume, nullptr);
}

bool RESTful_Client::query_volume(const std::string& volume_id, Volume& volume,
                                  Listing_Grace* grace) {
  Get_Volume_Response rsp;
  if (!send_request("DescribeVolumes", filter("volume-id", volume_id), rsp)) {
    if (tolerated_not_found(grace, rsp)) return false;
    ACE_ERROR((LM_ERROR, "Failed to query volume %s, msg: %s.\n", volume_id.c_str(), msg(rsp)));
    return false;
  }
  if (tolerated_empty(grace, rsp.volumes().size())) return false;
  return take_single(rsp.volumes(), volume,
                     "Failed to query volume %s, volumes size not 1, size is %d.\n", volume_id);
}

bool RESTful_Client::query_instance_volumes(const std::string& instance_id, Volumes& volumes) {
  Get_Volume_Response rsp;
  if (!send_request("DescribeVolumes", filter("attachment.instance-id", instance_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query instance %s volumes, msg: %s.\n", instance_id.c_str(),
               msg(rsp)));
    return false;
  }
  volumes = rsp.volumes();
  return true;
}

bool RESTful_Client::attach_volume(const std::string& instance_id, const std::string& device,
                                   const std::string& volume_id) {
  Operate_Volume_Response rsp("AttachVolume");
  const Params params = {{"InstanceId", instance_id}, {"Device", device}, {"VolumeId", volume_id}};
  if (!send_request("AttachVolume", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to attach volume %s to instance %s, device is %s, msg: %s.\n",
               volume_id.c_str(), instance_id.c_str(), device.c_str(), msg(rsp)));
    return false;
  }
  return true;
}

bool RESTful_Client::detach_volume(const std::string& instance_id, const std::string& device,
                                   const std::string& volume_id) {
  Operate_Volume_Response rsp("DetachVolume");
  const Params params = {{"InstanceId", instance_id}, {"Device", device}, {"VolumeId", volume_id}};
  if (!send_request("DetachVolume", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to detach volume %s from %s, device is %s, msg: %s.\n",
               volume_id.c_str(), instance_id.c_str(), device.c_str(), msg(rsp)));
    return false;
  }
  Volume volume;
  auto query = [this, &volume_id](Volume& polled) { return query_volume(volume_id, polled); };
  return query_resource(query, volume, IN_USE, AVAILABLE, WAIT_CHANGE_TIMEOUT);
}

bool RESTful_Client::delete_volume(const std::string& volume_id) {
  Common_Result_Response rsp("DeleteVolume");
  if (!send_request("DeleteVolume", one("VolumeId", volume_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to delete volume %s, msg: %s.\n", volume_id.c_str(), msg(rsp)));
    return false;
  }
  return true;
}

bool RESTful_Client::convert_volume(const Params& params) {
  Common_Result_Response rsp("ConvertVolume");
  if (!send_request("ConvertVolume", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to convert volume, msg: %s.\n", msg(rsp)));
    return false;
  }
  return true;
}

// Moving copies the volume's data, so the wait allows as long as a creation does. The
// volume's state is not looked at: only the node it reports.
bool RESTful_Client::modify_volume_storage(const std::string& volume_id,
                                           const std::string& storage_id,
                                           const std::string& node_id) {
  Common_Result_Response rsp("ModifyVolumeStorage");
  const Params params = {{"volumeId", volume_id}, {"storageId", storage_id}, {"nodeId", node_id}};
  if (!send_request("ModifyVolumeStorage", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to modify volume %s, storage %s,node %s, msg: %s.\n",
               volume_id.c_str(), storage_id.c_str(), node_id.c_str(), msg(rsp)));
    return false;
  }
  Wait_Deadline deadline(WAIT_CREATE_TIMEOUT);
  Volume volume;
  for (const unsigned int delay : poll_backoff()) {
    if (!query_volume(volume_id, volume)) return false;
    if (volume.node_id == node_id) return true;
    if (!deadline.sleep(delay)) break;
  }
  ACE_ERROR((LM_ERROR, "Wait modify volume %s to node %s timeout.\n", volume_id.c_str(),
             node_id.c_str()));
  return false;
}

// ---- images, networks and security groups -----------------------------------------------

bool RESTful_Client::query_image(const std::string& image_id, Image& image) {
  Get_Image_Response rsp;
  if (!send_request("DescribeImages", filter("image-id", image_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query image %s, msg: %s.\n", image_id.c_str(), msg(rsp)));
    return false;
  }
  return take_single(rsp.images(), image, "Failed to query image %s, images size not 1, size is %d.\n",
                     image_id);
}

bool RESTful_Client::query_vpcs(Vpcs& vpcs) {
  Get_Vpc_Response rsp;
  if (!send_request("DescribeVpcs", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query vpcs, msg: %s.\n", msg(rsp)));
    return false;
  }
  vpcs = rsp.vpcs();
  return true;
}

bool RESTful_Client::query_vpc(const std::string& vpc_id, Vpc& vpc) {
  Get_Vpc_Response rsp;
  if (!send_request("DescribeVpcs", filter("vpc-id", vpc_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query vpc %s, msg: %s.\n", vpc_id.c_str(), msg(rsp)));
    return false;
  }
  return take_single(rsp.vpcs(), vpc, "Failed to query vpc %s, vpc size not 1, size is %d.\n", vpc_id);
}

bool RESTful_Client::query_subnets(Subnets& subnets) {
  Get_Subnet_Response rsp;
  if (!send_request("DescribeSubnets", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query subnets, msg: %s.\n", msg(rsp)));
    return false;
  }
  subnets = rsp.subnets();
  return true;
}

bool RESTful_Client::query_subnets(const std::string& vpc_id, Subnets& subnets) {
  Get_Subnet_Response rsp;
  if (!send_request("DescribeSubnets", filter("vpc-id", vpc_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query subnets for vpc %s, msg: %s.\n", vpc_id.c_str(),
               msg(rsp)));
    return false;
  }
  subnets = rsp.subnets();
  return true;
}

bool RESTful_Client::query_subnet(const std::string& subnet_id, Subnet& subnet) {
  Get_Subnet_Response rsp;
  if (!send_request("DescribeSubnets", filter("subnet-id", subnet_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query subnet %s, msg: %s.\n", subnet_id.c_str(), msg(rsp)));
    return false;
  }
  return take_single(rsp.subnets(), subnet,
                     "Failed to query subnet %s, subnet size not 1, size is %d.\n", subnet_id);
}

bool RESTful_Client::query_security_group(const std::string& group_id,
                                          Security_Group& security_group) {
  Get_Security_Group_Response rsp;
  if (!send_request("DescribeSecurityGroups", filter("group-id", group_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query security group %s, msg: %s.\n", group_id.c_str(),
               msg(rsp)));
    return false;
  }
  return take_single(rsp.security_groups(), security_group,
                     "Failed to query security group %s, security groups size not 1, size is %d.\n",
                     group_id);
}

bool RESTful_Client::query_security_groups(Security_Groups& security_groups) {
  Get_Security_Group_Response rsp;
  if (!send_request("DescribeSecurityGroups", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query security groups, msg: %s.\n", msg(rsp)));
    return false;
  }
  security_groups = rsp.security_groups();
  return query_later_pages("DescribeSecurityGroups", Params(), rsp,
                           &Get_Security_Group_Response::security_groups, security_groups);
}

bool RESTful_Client::query_security_groups_by_owner_id(const std::string& owner_id,
                                                       Security_Groups& security_groups) {
  Get_Security_Group_Response rsp;
  const Params params = filter("owner-id", owner_id);
  if (!send_request("DescribeSecurityGroups", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query security groups by owner id %s, msg: %s.\n",
               owner_id.c_str(), msg(rsp)));
    return false;
  }
  security_groups = rsp.security_groups();
  return query_later_pages("DescribeSecurityGroups", params, rsp,
                           &Get_Security_Group_Response::security_groups, security_groups);
}

bool RESTful_Client::query_network_interface(const std::string& net_interface_id,
                                             Network_Interface& net_interface) {
  Get_Network_Interface_Response rsp;
  if (!send_request("DescribeNetworkInterfaces", one("NetworkInterfaceId.1", net_interface_id),
                    rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query network interface %s, msg: %s.\n",
               net_interface_id.c_str(), msg(rsp)));
    return false;
  }
  return take_single(rsp.network_interfaces(), net_interface,
                     "Failed to query network interface %s, size not 1, size is %d.\n",
                     net_interface_id);
}

bool RESTful_Client::create_network_interface(const std::string& subnet_id,
                                              const std::vector<std::string>& group_ids,
                                              const std::string& mac_addr,
                                              const std::string& ip_addr,
                                              std::string& net_interface_id) {
  Params params = {{"SubnetId", subnet_id}};
  int position = 0;
  for (const std::string& group_id : group_ids) {
    params.emplace_back(string_sprintf("SecurityGroupId.%d", ++position), group_id);
  }
  if (!mac_addr.empty()) params.emplace_back("MacAddress", mac_addr);
  if (!ip_addr.empty()) params.emplace_back("privateIpAddress", ip_addr);
  Create_Network_Interface_Response rsp;
  if (!send_request("CreateNetworkInterface", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to create network interface, msg: %s.\n", msg(rsp)));
    return false;
  }
  net_interface_id = rsp.net_interface_id();
  return true;
}

bool RESTful_Client::delete_network_interface(const std::string& net_interface_id) {
  Common_Result_Response rsp("DeleteNetworkInterface");
  if (!send_request("DeleteNetworkInterface", one("NetworkInterfaceId", net_interface_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to delete network interface %s, msg: %s.\n",
               net_interface_id.c_str(), msg(rsp)));
    return false;
  }
  return true;
}

// ---- instance backups, snapshots and storages -------------------------------------------

bool RESTful_Client::query_instance_backup(const std::string& instance_id,
                                           const std::string& backup_id,
                                           Instance_Backup& instance_backup) {
  return query_instance_backup(instance_id, backup_id, instance_backup, nullptr);
}

bool RESTful_Client::query_instance_backup(const std::string& instance_id,
                                           const std::string& backup_id,
                                           Instance_Backup& instance_backup,
                                           Listing_Grace* grace) {
  Get_Instance_Backup_Response rsp;
  if (!send_request("DescribeInstanceBackups", one("InstanceId.1", instance_id), rsp)) {
    if (tolerated_not_found(grace, rsp)) return false;
    ACE_ERROR((LM_ERROR, "Failed to query instance %s, backup %s, msg: %s.\n",
               instance_id.c_str(), backup_id.c_str(), msg(rsp)));
    return false;
  }
  const Instance_Backups& backups = rsp.instance_backups();
  const auto found = std::find_if(backups.begin(), backups.end(),
                                  [&backup_id](const Instance_Backup& b) { return b.id == backup_id; });
  if (found == backups.end()) {
    tolerated_empty(grace, 0);
    return false;
  }
  instance_backup = *found;
  return true;
}

bool RESTful_Client::create_instance_backup(const std::string& instance_id,
                                            Instance_Backup& instance_backup) {
  Create_Instance_Backup_Response rsp;
  if (!send_request("BackupInstance", one("InstanceId", instance_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to create instance %s backups, msg: %s.\n", instance_id.c_str(),
               msg(rsp)));
    return false;
  }
  const std::string id = rsp.backup_id();
  instance_backup.id = id;
  Listing_Grace grace;
  auto query = [this, &instance_id, &id, &grace](Instance_Backup& polled) {
    return query_instance_backup(instance_id, id, polled, &grace);
  };
  return query_resource(query, instance_backup, PENDING, COMPLETE, WAIT_CREATE_TIMEOUT, &grace);
}

bool RESTful_Client::delete_instance_backup(const std::string& instance_backup_id) {
  Delete_Instance_Backup_Response rsp;
  if (!send_request("DeleteInstanceBackup", one("BackupId", instance_backup_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to delete instance backup %s, msg: %s.\n",
               instance_backup_id.c_str(), msg(rsp)));
    return false;
  }
  return true;
}

bool RESTful_Client::query_snapshot(const std::string& snapshot_id, Snapshot& snapshot) {
  return query_snapshot(snapshot_id, snapshot, nullptr);
}

bool RESTful_Client::query_snapshot(const std::string& snapshot_id, Snapshot& snapshot,
                                    Listing_Grace* grace) {
  Get_Snapshot_Response rsp;
  if (!send_request("DescribeSnapshots", one("InstanceSnapshotId.1", snapshot_id), rsp)) {
    if (tolerated_not_found(grace, rsp)) return false;
    ACE_ERROR((LM_ERROR, "Failed to query snapshot %s, msg: %s.\n", snapshot_id.c_str(), msg(rsp)));
    return false;
  }
  if (tolerated_empty(grace, rsp.snapshots().size())) return false;
  return take_single(rsp.snapshots(), snapshot,
                     "Failed to query snapshot %s, snapshot size not 1, size is %d.\n", snapshot_id);
}

bool RESTful_Client::create_snapshot(const std::string& volume_id,
                                     const std::string& snapshot_name, Snapshot& snapshot) {
  return create_snapshot_i({{"VolumeId", volume_id}, {"SnapshotName", snapshot_name}}, snapshot);
}

bool RESTful_Client::create_snapshot(const std::string& volume_id,
                                     const std::string& snapshot_name,
                                     const json_spirit::Value& root_info, Snapshot& snapshot) {
  const Params params = {{"VolumeId", volume_id},
                         {"SnapshotName", snapshot_name},
                         {"IsRoot", "true"},
                         {"RootInfo", JSON_Dump(root_info, false)}};
  return create_snapshot_i(params, snapshot);
}

bool RESTful_Client::create_snapshot_i(const Params& params, Snapshot& snapshot) {
  Create_Snapshot_Response rsp;
  if (!send_request("CreateSnapshot", params, rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to create snapshot, msg: %s.\n", msg(rsp)));
    return false;
  }
  const std::string id = rsp.snapshot_id();
  snapshot.id = id;
  Listing_Grace grace;
  auto query = [this, &id, &grace](Snapshot& polled) { return query_snapshot(id, polled, &grace); };
  return query_resource(query, snapshot, PENDING, COMPLETED, WAIT_CREATE_TIMEOUT, &grace);
}

bool RESTful_Client::delete_snapshot(const std::string& snapshot_id) {
  Common_Result_Response rsp("DeleteSnapshot");
  if (!send_request("DeleteSnapshot", one("SnapshotId", snapshot_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to delete snapshot %s, msg: %s.\n", snapshot_id.c_str(), msg(rsp)));
    return false;
  }
  return true;
}

bool RESTful_Client::query_storages(Storages& storages, std::string* reason) {
  Get_Storage_Response rsp;
  if (!send_request("DescribeStorages", Params(), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to query storages, msg: %s.\n", msg(rsp)));
    return listing_failed(rsp, reason);
  }
  storages = rsp.storages();
  return true;
}

bool RESTful_Client::query_storage(const std::string& storage_id, Storage& storage,
                                   Lookup* lookup) {
  Storages storages;
  std::string reason;
  if (!query_storages(storages, &reason)) return looked_up(lookup, Lookup::FAILED, reason);
  for (Storage& candidate : storages) {
    if (candidate.id == storage_id) {
      storage = std::move(candidate);
      return looked_up(lookup, Lookup::FOUND);
    }
  }
  return looked_up(lookup, Lookup::NOT_FOUND);
}

bool RESTful_Client::query_storage_instances(const std::string& storage_id, Instances& instances,
                                             std::string* reason) {
  Instances all;
  if (!query_instances(all, reason)) return false;
  for (Instance& instance : all) {
    if (instance.storage_id == storage_id) instances.push_back(std::move(instance));
  }
  return true;
}

// ---- temporary snapshots ----------------------------------------------------------------

bool RESTful_Client::query_tmp_snapshot(const std::string& tmp_snapshot_id,
                                        Tmp_Snapshot& tmp_snapshot) {
  return query_tmp_snapshot(tmp_snapshot_id, tmp_snapshot, nullptr);
}

bool RESTful_Client::query_tmp_snapshot(const std::string& tmp_snapshot_id,
                                        Tmp_Snapshot& tmp_snapshot, Listing_Grace* grace) {
  Get_Tmp_Snapshot_Response rsp;
  if (!send_request("DescribeTmpSnapshots", one("TmpSnapshotId.1", tmp_snapshot_id), rsp)) {
    if (tolerated_not_found(grace, rsp)) return false;
    ACE_ERROR((LM_ERROR, "Failed to query tmp snapshot %s,  msg: %s.\n", tmp_snapshot_id.c_str(),
               msg(rsp)));
    return false;
  }
  if (tolerated_empty(grace, rsp.tmp_snapshots().size())) return false;
  return take_single(rsp.tmp_snapshots(), tmp_snapshot,
                     "Failed to query tmp snapshot %s, tmp snapshot size not 1, size is %d.\n",
                     tmp_snapshot_id);
}

// "attached" counts only where the snapshot is attached to the instance asked for: one
// attached elsewhere would be read (and later detached) by the wrong party. The cloud
// gives the snapshot the instance's next free device name, so the request and its wait
// are one attachment step like any other.
bool RESTful_Client::attach_tmp_snapshot(const std::string& tmp_snapshot_id,
                                         const std::string& instance_id,
                                         const std::function<bool()>& stopped) {
  return with_attachment_lock(instance_id, stopped, [&] {
    Common_Result_Response rsp("AttachTmpSnapshot");
    const Params params = {{"TmpSnapshotId", tmp_snapshot_id}, {"InstanceId", instance_id}};
    if (!send_request("AttachTmpSnapshot", params, rsp)) {
      ACE_ERROR((LM_ERROR, "Failed to attach tmp snapshot %s to %s, msg: %s.\n",
                 tmp_snapshot_id.c_str(), instance_id.c_str(), msg(rsp)));
      return false;
    }
    Tmp_Snapshot tmp_snapshot;
    auto query = [this, &tmp_snapshot_id, &instance_id](Tmp_Snapshot& polled) {
      if (!query_tmp_snapshot(tmp_snapshot_id, polled)) return false;
      if (polled.status == ATTACHED && polled.attach_instance_id != instance_id) {
        ACE_ERROR((LM_ERROR, "Tmp snapshot %s is attached to instance %s, not to %s.\n",
                   tmp_snapshot_id.c_str(), polled.attach_instance_id.c_str(),
                   instance_id.c_str()));
        return false;
      }
      return true;
    };
    return query_resource(query, tmp_snapshot, ATTACHING, ATTACHED, WAIT_CHANGE_TIMEOUT);
  });
}

bool RESTful_Client::detach_tmp_snapshot(const std::string& tmp_snapshot_id) {
  Common_Result_Response rsp("DetachTmpSnapshot");
  if (!send_request("DetachTmpSnapshot", one("TmpSnapshotId", tmp_snapshot_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to detach tmp snapshot %s, msg: %s.\n", tmp_snapshot_id.c_str(),
               msg(rsp)));
    return false;
  }
  Tmp_Snapshot tmp_snapshot;
  auto query = [this, &tmp_snapshot_id](Tmp_Snapshot& polled) {
    return query_tmp_snapshot(tmp_snapshot_id, polled);
  };
  return query_resource(query, tmp_snapshot, DETACHING, AVAILABLE, WAIT_CHANGE_TIMEOUT);
}

bool RESTful_Client::delete_tmp_snapshot(const std::string& tmp_snapshot_id) {
  Common_Result_Response rsp("DeleteTmpSnapshots");
  if (!send_request("DeleteTmpSnapshots", one("TmpSnapshotId.1", tmp_snapshot_id), rsp)) {
    ACE_ERROR((LM_ERROR, "Failed to delete tmp snapshot %s, msg: %s.\n", tmp_snapshot_id.c_str(),
               msg(rsp)));
    return false;
  }
  return true;
}

}  // namespace tavrocloud
