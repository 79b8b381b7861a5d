// The instance restore handler's clean-up: after a success only the intermediates of the
// older creation path go; after a failure everything this handler made goes, the new
// instance first (its termination frees the interfaces and the volumes attached to it),
// then the volumes and the root snapshot, then the network interfaces.
#include "tavrocloud/job/instance_restore_handler.h"

#include "yolt/countdown.h"

#include <ace/Log_Msg.h>

namespace tavrocloud {

bool Instance_Restore_Handler::clean_up() {
  if (!params_.restore_vm || params_.base.support_tmp_snapshot) return true;
  const Volume_Restore_Info* root = nullptr;
  for (const Volume_Restore_Info_var& vol : restore_volumes_)
    if (vol->is_root) root = vol.get();
  if (root == nullptr) {
    ACE_ERROR((LM_ERROR, "Failed to find tavro root volume.\n"));
    return false;
  }
  if (!retry_cleanup([&] { return client_->delete_snapshot(root->snapshot_id); }))
    ACE_ERROR((LM_ERROR, "Failed to delete tavro root volume snapshot %s.\n",
               root->snapshot_id.c_str()));
  if (!retry_cleanup([&] { return client_->delete_volume(root->created_vol_id); }))
    ACE_ERROR((LM_ERROR, "Failed to delete tavro root volume %s.\n", root->created_vol_id.c_str()));
  return true;
}

bool Instance_Restore_Handler::clean_up_when_failed() {
  if (client_ == nullptr) return true;
  terminate_created_instance();
  for (const Volume_Restore_Info_var& vol : restore_volumes_) clean_volume(*vol);
  for (const std::string& id : net_interfaces_)
    if (!client_->delete_network_interface(id))
      ACE_DEBUG((LM_DEBUG, "Failed to clean network interface %s .\n", id.c_str()));
  return true;
}

void Instance_Restore_Handler::terminate_created_instance() {
  if (created_instance_id_.empty()) return;
  const std::string& id = created_instance_id_;
  if (!client_->delete_instance(id)) {
    ACE_DEBUG((LM_DEBUG, "Failed to clean tavro instance %s .\n", id.c_str()));
    return;
  }
  // The volumes attached to it are free only once it is gone.
  for (const auto& tick : countdown(TERMINATE_WAIT_SECONDS, 2, 60, false)) {
    (void)tick;
    Instance instance;
    if (!client_->query_instance(id, instance)) break;
    if (instance.status == TERMINATED) {
      for (const Volume_Restore_Info_var& vol : restore_volumes_) {
        if (vol->attached_instance_id == id) vol->attached_instance_id.clear();
        // A converted root volume became the instance's system disk and went with it
        // (delete on termination).
        if (vol->is_root && params_.base.support_tmp_snapshot) vol->created_vol_id.clear();
      }
      return;
    }
  }
  ACE_ERROR((LM_ERROR, "Tavro instance %s was not terminated in time.\n", id.c_str()));
}

void Instance_Restore_Handler::clean_volume(const Volume_Restore_Info& vol) {
  if (!vol.created_vol_id.empty()) {
    if (!vol.attached_instance_id.empty() && !retry_cleanup([&] {
          return client_->detach_volume(vol.attached_instance_id, vol.dev_name, vol.created_vol_id);
        }))
      ACE_ERROR((LM_ERROR, "Failed to detach tavro volume %s from instance %s.\n",
                 vol.created_vol_id.c_str(), vol.attached_instance_id.c_str()));
    if (!retry_cleanup([&] { return client_->delete_volume(vol.created_vol_id); }))
      ACE_ERROR((LM_ERROR, "Failed to delete tavro Volume %s.\n", vol.created_vol_id.c_str()));
  }
  if (vol.is_root && !vol.snapshot_id.empty() && !client_->delete_snapshot(vol.snapshot_id))
    ACE_ERROR((LM_ERROR, "Failed to delete tavro root snapshot %s.\n", vol.snapshot_id.c_str()));
}

}  // namespace tavrocloud
