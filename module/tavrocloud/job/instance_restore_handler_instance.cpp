// The instance restore handler's new instance (VM restore): the restored root volume is
// converted into a system disk (clouds with temporary snapshots) or snapshotted with its
// boot information (older clouds), the network interfaces are created, and RunInstances
// builds the instance from them.
#include "tavrocloud/job/instance_restore_handler.h"

#include "runtime/filenamify.h"
#include "yolt/string_sprintf.h"

#include <ace/Log_Msg.h>

#include <algorithm>

namespace tavrocloud {
namespace {

// The address to ask for: only a reserved or specified one, and only when given.
std::string chosen_address(Net_Operation op, const std::string& address) {
  const bool fixed = op == Net_Operation::RESERVE || op == Net_Operation::SPECIFY;
  return fixed ? address : std::string();
}

}  // namespace

bool Instance_Restore_Handler::create_instance(Volume_Restore_Info& root) {
  if (!params_.base.support_tmp_snapshot) return create_instance_legacy(root);
  const Restore_Source_Entry& entry = params_.entry;
  const Params convert = {{"VolumeId", root.created_vol_id},  {"Architecture", entry.architecture},
                          {"IsRoot", "true"},                 {"Platform", entry.platform},
                          {"Contentmode", entry.content_mode}, {"Diskbus", entry.diskbus},
                          {"AttachDiskbus", entry.attach_diskbus},
                          {"Bootloader", entry.boot_loader}};
  if (!client_->convert_volume(convert)) {
    ACE_ERROR((LM_ERROR, "Failed to convert tavro volume %s.\n", root.created_vol_id.c_str()));
    return false;
  }
  const std::string& storage = root.storage_id.empty() ? entry.storage_id : root.storage_id;
  Params params;
  if (!build_instance_params(root.created_vol_id, root.size, storage, root.src_dev_name, params)) {
    ACE_ERROR((LM_ERROR, "Failed to build instance params.\n"));
    return false;
  }
  return run_instance(params, "New tavro instance %s created successfully.\n");
}

bool Instance_Restore_Handler::create_instance_legacy(Volume_Restore_Info& root) {
  const Restore_Source_Entry& entry = params_.entry;
  json_spirit::Object root_info;
  root_info["platform"] = entry.platform;
  root_info["architecture"] = entry.architecture;
  root_info["diskbus"] = entry.diskbus;
  root_info["imageType"] = entry.image_type;
  root_info["attachDiskbus"] = entry.attach_diskbus;
  root_info["bootloader"] = entry.boot_loader;
  std::string src_id, vol_id;
  filenamify(entry.instance_src_id, src_id, '_');
  filenamify(root.created_vol_id, vol_id, '_');
  const std::string name = string_sprintf("%s-%s-%s-%s", "Quillon3", src_id.c_str(),
                                          vol_id.c_str(), start_timepoint_.c_str());
  Snapshot snapshot;
  const bool made = client_->create_snapshot(root.created_vol_id, name, root_info, snapshot);
  root.snapshot_id = snapshot.id;  // also when the wait failed: the snapshot exists
  if (!made) {
    ACE_ERROR((LM_ERROR, "Failed to create snapshot for root volume %s.\n",
               root.created_vol_id.c_str()));
    return false;
  }
  ACE_DEBUG((LM_DEBUG, "Snapshot %s for root volume %s created successfully.\n",
             root.snapshot_id.c_str(), root.created_vol_id.c_str()));
  Params params;
  if (!build_instance_params(root.snapshot_id, root.size, entry.storage_id, root.src_dev_name,
                             params)) {
    ACE_ERROR((LM_ERROR, "Failed to build instance params.\n"));
    return false;
  }
  return run_instance(params, "New instance %s created successfully.\n");
}

bool Instance_Restore_Handler::run_instance(const Params& params, const char* done_text) {
  Restore_Source_Entry& entry = params_.entry;
  Instance instance;
  bool created = client_->create_instance(params, instance);
  // An answer naming the agent or the entry's own instance is not an instance this
  // restore made: it is neither used nor ever terminated.
  if (!instance.id.empty() &&
      (instance.id == params_.base.agent_instance_id || instance.id == entry.instance_tgt_id)) {
    ACE_ERROR((LM_ERROR, "The cloud answered RunInstances with instance %s, which exists already.\n",
               instance.id.c_str()));
    instance.id.clear();
    created = false;
  }
  // An instance whose start failed exists all the same; it is ours to terminate.
  if (!instance.id.empty()) created_instance_id_ = instance.id;
  if (!created) {
    add_agent_alert(Error_ID::LEVEL_ERROR, 9, {json_spirit::Value(entry.instance_src_id)}, 0);
    return false;
  }
  ACE_DEBUG((LM_DEBUG, done_text, instance.id.c_str()));
  entry.instance_tgt_id = instance.id;
  return true;
}

bool Instance_Restore_Handler::build_instance_params(const std::string& image_id, int size,
                                                     const std::string& storage_id,
                                                     const std::string& device, Params& out) {
  const Restore_Source_Entry& entry = params_.entry;
  Params pairs = {{"imageId", image_id},
                  {"instanceName", entry.instance_tgt_name},
                  {"minCount", "1"},
                  {"maxCount", "1"},
                  {"instanceType", entry.flavor.type},
                  {"BlockDeviceMapping.1.Ebs.VolumeSize", std::to_string(size)},
                  {"BlockDeviceMapping.1.Ebs.DeleteOnTermination", "true"},
                  {"BlockDeviceMapping.1.DeviceName", device},
                  {"BlockDeviceMapping.1.Ebs.StorageId", storage_id}};
  // Without a node the cloud places the instance itself; an empty node would be refused.
  if (!entry.target_node_id.empty()) pairs.emplace_back("AllowNodes.1", entry.target_node_id);
  if (!create_network_interfaces(pairs)) return false;
  if (!entry.storage_schedule_tag.empty())
    pairs.emplace_back("StorageScheduleTags", entry.storage_schedule_tag);
  if (!entry.schedule_tag.empty()) pairs.emplace_back("ScheduleTags", entry.schedule_tag);
  if (!entry.owner_id.empty()) pairs.emplace_back("OwnerId", entry.owner_id);
  out = std::move(pairs);
  return true;
}

bool Instance_Restore_Handler::create_network_interfaces(Params& pairs) {
  std::vector<Restore_Source_Entry::NIC> nics = params_.entry.nics;
  // "main" before "extend": the first interface is the instance's main one.
  std::stable_sort(nics.begin(), nics.end(),
                   [](const Restore_Source_Entry::NIC& l, const Restore_Source_Entry::NIC& r) {
                     return l.type > r.type;
                   });
  int number = 0;
  for (const Restore_Source_Entry::NIC& nic : nics) {
    std::vector<std::string> groups;
    for (const Restore_Source_Entry::Security_Group& g : nic.groups) groups.push_back(g.id);
    std::string id;
    if (!client_->create_network_interface(nic.subnet_id, groups,
                                           chosen_address(nic.mac_op, nic.mac_address),
                                           chosen_address(nic.ip_op, nic.ip_address), id))
      return false;
    net_interfaces_.push_back(id);
    ++number;
    pairs.emplace_back(string_sprintf("NetworkInterface.%d.NetworkInterfaceId", number), id);
    pairs.emplace_back(string_sprintf("NetworkInterface.%d.AssociatePublicIpAddress", number),
                       "true");
  }
  return true;
}

}  // namespace tavrocloud
