// The two ways of making an instance's volumes readable on this agent, each with the
// guard that removes what it made in the cloud, on success and on failure alike:
// temporary snapshots attached directly, or an instance backup whose snapshots become
// new volumes that are attached.
#include "tavrocloud/job/instance_backup_handler.h"

#include "runtime/filenamify.h"
#include "tavrocloud/common/tavrocloud_instance_backup.h"
#include "tavrocloud/common/tavrocloud_tmp_snapshot.h"
#include "tavrocloud/common/tavrocloud_volume.h"
#include "yolt/scoped_deleter.h"
#include "yolt/string_sprintf.h"

#include <ace/Log_Msg.h>

namespace tavrocloud {

namespace {

std::string safe_name(const std::string& text) {
  std::string out;
  return filenamify(text, out, '_');
}


}  // namespace

void Instance_Backup_Handler::start_progress() {
  progress_->start(source_size_,
                   static_cast<uint32_t>(params_.backup_instance.backup_vols.size()));
}

bool Instance_Backup_Handler::canceled_while_attaching() {
  if (!is_canceled()) return false;
  cancel_retry();
  ACE_ERROR((LM_ERROR, "Job canceled while tavro backing.\n"));
  return true;
}

bool Instance_Backup_Handler::backup_with_tmp_snapshot() {
  Instance_Backup_Info& info = params_.backup_instance;
  // Armed before the first creation: snapshots made before a failing one go too.
  auto cleanup = make_deleter([&] { delete_tmp_snapshots(info); });
  if (!prepare_tmp_snapshots(info)) {
    ACE_ERROR((LM_ERROR, "Failed to prepare tmp snapshot.\n"));
    return false;
  }
  start_progress();
  if (!attach_tmp_snapshots(info)) return false;
  return backup_volumes();
}

bool Instance_Backup_Handler::prepare_tmp_snapshots(Instance_Backup_Info& info) {
  for (Volume_Backup_Info& v : info.backup_vols) {
    Tmp_Snapshot snapshot;
    const bool created = client_->create_tmp_snapshot(v.vol_id, snapshot);
    // A snapshot the cloud accepted but that never became ready still has to go.
    v.snapshot_id = snapshot.id;
    if (!created) {
      alert_instance(8);
      ACE_ERROR((LM_ERROR, "Failed to create tmp snapshot for volume: %s.\n", v.vol_id.c_str()));
      return false;
    }
  }
  return true;
}

bool Instance_Backup_Handler::attach_tmp_snapshots(Instance_Backup_Info& info) {
  const std::string& agent = params_.base.agent_instance_id;
  ACE_DEBUG((LM_DEBUG, "Begin attach temp snapshots to agent for instance %s.\n",
             info.instance_id.c_str()));
  for (Volume_Backup_Info& v : info.backup_vols) {
    if (!client_->attach_tmp_snapshot(v.snapshot_id, agent, [this] { return is_canceled(); })) {
      ACE_ERROR((LM_ERROR, "Failed to attach tmp snapshot %s to the backup agent %s.\n",
                 v.snapshot_id.c_str(), agent.c_str()));
      return false;
    }
    std::string device;
    if (!get_local_device(v.snapshot_id, device)) {
      ACE_ERROR((LM_ERROR, "Failed to get local device of tmp snapshot %s.\n",
                 v.snapshot_id.c_str()));
      return false;
    }
    v.dev_name = device;
    v.attached_dev_name = device;
    v.attached_instance_id = agent;
    if (canceled_while_attaching()) return false;
  }
  return true;
}

bool Instance_Backup_Handler::delete_tmp_snapshots(const Instance_Backup_Info& info) {
  for (const Volume_Backup_Info& v : info.backup_vols) {
    if (v.snapshot_id.empty()) continue;  // never made
    Tmp_Snapshot snapshot;
    if (!client_->query_tmp_snapshot(v.snapshot_id, snapshot)) {
      ACE_DEBUG((LM_DEBUG, "Tmp snapshot %s doesn't exist.\n", v.snapshot_id.c_str()));
      continue;
    }
    // An attached snapshot cannot be deleted; one whose detach failed is left alone.
    if (snapshot.status == ATTACHED &&
        !retry_cleanup([&] { return client_->detach_tmp_snapshot(v.snapshot_id); }))
      continue;
    if (retry_cleanup([&] { return client_->delete_tmp_snapshot(v.snapshot_id); })) {
      ACE_DEBUG((LM_DEBUG, "Succeed to delete tmp snapshot %s.\n", v.snapshot_id.c_str()));
    }
  }
  return true;
}

bool Instance_Backup_Handler::backup_legacy() {
  Instance_Backup_Info& info = params_.backup_instance;
  // An instance backup takes every volume of the instance: a selection of some cannot be
  // honoured this way, and another run would fail the same. Nothing is made for it.
  if (info.backup_vols.size() < instance_.volumes.size()) {
    cancel_retry();
    ACE_ERROR((LM_ERROR,
               "Cannot back up %d of the %d volumes of tavro instance %s: the source's "
               "\"volumes\" select only some, which needs temporary snapshots (a cloud from 9.8 "
               "on, and storages that allow them); without them all volumes of an instance are "
               "backed up together, so leave out its \"volumes\".\n",
               static_cast<int>(info.backup_vols.size()),
               static_cast<int>(instance_.volumes.size()), info.instance_id.c_str()));
    return false;
  }
  // The volumes made from the backup's snapshots go first: the backup cannot be
  // deleted while volumes made from it exist.
  auto cleanup = make_deleter([&] {
    delete_backup_volumes(info);
    if (!info.instance_backup_id.empty())
      retry_cleanup([&] { return client_->delete_instance_backup(info.instance_backup_id); });
  });
  if (!prepare_instance_backup(info)) {
    ACE_ERROR((LM_ERROR, "Failed to prepare tavro instance backup.\n"));
    return false;
  }
  if (!prepare_backup_volumes(info)) {
    ACE_ERROR((LM_ERROR, "Failed to prepare tavro backup volumes.\n"));
    return false;
  }
  start_progress();
  if (!attach_backup_volumes(info)) return false;
  return backup_volumes();
}

bool Instance_Backup_Handler::prepare_instance_backup(Instance_Backup_Info& info) {
  Instance_Backup backup;
  const bool created = client_->create_instance_backup(info.instance_id, backup);
  // Known as soon as the cloud accepted it, so clean-up removes it also when it failed.
  info.instance_backup_id = backup.id;
  if (!created) return false;
  const Block_Device_Mappings& mappings = backup.block_device_mappings;
  if (mappings.size() != info.backup_vols.size()) {
    ACE_ERROR((LM_ERROR, "Instance backup snapshot num %d not equal to volume num %d.\n",
               static_cast<int>(mappings.size()), static_cast<int>(info.backup_vols.size())));
    return false;
  }
  for (const Block_Device_Mapping& m : mappings) {
    auto it = std::find_if(info.backup_vols.begin(), info.backup_vols.end(),
                           [&](const Volume_Backup_Info& v) { return v.src_dev_name == m.device_name; });
    if (it == info.backup_vols.end()) {
      ACE_ERROR((LM_ERROR, "Failed to find volume by snapshot %s, device name %s.\n",
                 m.snapshot_id.c_str(), m.device_name.c_str()));
      return false;
    }
    it->snapshot_id = m.snapshot_id;
  }
  return true;
}

bool Instance_Backup_Handler::prepare_backup_volumes(Instance_Backup_Info& info) {
  if (info.availability_zone.empty()) {
    ACE_ERROR((LM_ERROR, "Failed to prepare backup volumes availability zone is empty.\n"));
    return false;
  }
  for (Volume_Backup_Info& v : info.backup_vols) {
    const std::string name =
        string_sprintf("%s-%s-%s-%s", "Quillon3", safe_name(info.instance_id).c_str(),
                       safe_name(v.snapshot_id).c_str(), start_timepoint_.c_str());
    Volume created;
    const bool made =
        client_->create_volume_by_snapshot(v.snapshot_id, info.availability_zone, name, created);
    // A volume the cloud accepted but that never became available still has to go.
    v.created_vol_id = created.id;
    if (!made) {
      ACE_ERROR((LM_ERROR, "Failed to create volume by snapshot %s.\n", v.snapshot_id.c_str()));
      return false;
    }
    v.created_vol_size = static_cast<uint64_t>(static_cast<int64_t>(created.size));
  }
  return true;
}

bool Instance_Backup_Handler::attach_backup_volumes(Instance_Backup_Info& info) {
  for (Volume_Backup_Info& v : info.backup_vols) {
    if (!attach_backup_volume(params_.base.agent_instance_id, v)) return false;
    if (canceled_while_attaching()) return false;
  }
  return true;
}

bool Instance_Backup_Handler::attach_backup_volume(const std::string& agent_instance_id,
                                                   Volume_Backup_Info& volume) {
  std::string device;
  bool accepted = false;
  const bool attached =
      client_->attach_volume_to_agent(agent_instance_id, volume.created_vol_id, device, &accepted,
                                      [this] { return is_canceled(); });
  // Recorded as soon as the cloud took the request, so clean-up detaches it even when
  // the wait or the local device fails.
  if (accepted) {
    volume.attached_instance_id = agent_instance_id;
    volume.dev_name = device;
  }
  if (!attached) {
    ACE_ERROR((LM_ERROR, "Failed to attach volume %s to tavro backup agent instance %s.\n",
               volume.created_vol_id.c_str(), agent_instance_id.c_str()));
    return false;
  }
  std::string local;
  if (!get_local_device(volume.created_vol_id, local)) {
    ACE_ERROR((LM_ERROR,
               "Failed to get local device of volume %s, device_name %s, attached_device_name %s.\n",
               volume.created_vol_id.c_str(), device.c_str(), local.c_str()));
    return false;
  }
  ACE_DEBUG((LM_DEBUG, "Volume %s created by snapshot %s, is attached to %s.\n",
             volume.created_vol_id.c_str(), volume.snapshot_id.c_str(), local.c_str()));
  volume.attached_dev_name = local;
  return true;
}

bool Instance_Backup_Handler::delete_backup_volumes(const Instance_Backup_Info& info) {
  for (const Volume_Backup_Info& v : info.backup_vols) delete_backup_volume(v);
  return true;
}

void Instance_Backup_Handler::delete_backup_volume(const Volume_Backup_Info& volume) {
  if (!volume.attached_instance_id.empty()) {
    // The cloud's own record of the attachment is what the detach must name.
    std::string device = volume.dev_name;
    Volume current;
    if (client_->query_volume(volume.created_vol_id, current) &&
        !current.volume_attachment.device.empty()) {
      device = current.volume_attachment.device;
    }
    if (retry_cleanup([&] {
          return client_->detach_volume(volume.attached_instance_id, device, volume.created_vol_id);
        })) {
      ACE_DEBUG((LM_DEBUG, "Backup volume %s, device %s detached from instance %s Successfully.\n",
                 volume.created_vol_id.c_str(), device.c_str(),
                 volume.attached_instance_id.c_str()));
    }
  }
  if (!volume.created_vol_id.empty() &&
      retry_cleanup([&] { return client_->delete_volume(volume.created_vol_id); })) {
    ACE_DEBUG((LM_DEBUG, "Backup volume %s deleted successfully.\n", volume.created_vol_id.c_str()));
  }
}

}  // namespace tavrocloud
