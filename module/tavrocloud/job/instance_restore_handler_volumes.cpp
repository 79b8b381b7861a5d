// The instance restore handler's volumes: each is created, attached to the agent,
// written from the pool, detached, moved to the target node and, as the root of a VM
// restore, turned into the new instance; afterwards the data volumes are attached to
// the target instance.
#include "tavrocloud/job/instance_restore_handler.h"

#include "pool/client_io.h"
#include "tavrocloud/job/job_run.h"
#include "tavrocloud/job/volume_reader.h"
#include "yolt/check.h"
#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>

#include <algorithm>

namespace tavrocloud {
namespace {

constexpr uint64_t GIB = uint64_t(1) << 30;

bool is_node_local(const std::string& storage_type) {
  return storage_type == "localfs" || storage_type == "localvg";
}

}  // namespace

bool Instance_Restore_Handler::restore_volumes() {
  const int volumes = static_cast<int>(params_.entry.volumes.size());
  source_size_ = 0;
  for (const Restore_Source_Entry::Volume& v : params_.entry.volumes) source_size_ += v.size * GIB;
  if (progress() != nullptr) progress()->start(source_size_, static_cast<uint32_t>(volumes));

  Thread_Task_Scheduler<Volume_Restore_Info> scheduler(1024);
  if (!scheduler.register_stop_callback([this] { return is_canceled(); })) return false;
  for (const Volume_Restore_Info_var& vol : restore_volumes_) {
    ++volume_count_;
    if (!scheduler.enqueue_task(vol, nullptr, 0, vol->src_vol_id.c_str(), nullptr)) return false;
  }
  auto body = [this](const Volume_Restore_Info_var& vol) { return restore_volume_i(*vol); };
  if (!run_tasks(scheduler, job_, std::min(params_.base.parallel_disks_per_vm, volumes), body))
    return false;
  return succeeded_volumes_.load() == volume_count_;
}

Task_Base::Error Instance_Restore_Handler::restore_volume_i(Volume_Restore_Info& vol) {
  const Base_Params& base = params_.base;
  const Restore_Source_Entry& entry = params_.entry;
  if (!prepare_volume(vol)) {
    ACE_ERROR((LM_ERROR, "Failed to prepare volume for src volume %s.\n", vol.src_vol_id.c_str()));
    return Task_Base::CODE_FAILED;
  }
  bool accepted = false;
  const bool attached =
      client_->attach_volume_to_agent(base.agent_instance_id, vol.created_vol_id, vol.dev_name,
                                      &accepted, [this] { return is_canceled(); });
  if (accepted) vol.attached_instance_id = base.agent_instance_id;
  if (!attached) {
    ACE_ERROR((LM_ERROR, "Failed to attach tavro volume %s.\n", vol.created_vol_id.c_str()));
    return Task_Base::CODE_FAILED;
  }
  if (!get_local_device(vol.created_vol_id, vol.attached_dev_name)) {
    ACE_ERROR((LM_ERROR,
               "Failed to get local device of volume %s, device_name: %s, "
               "attached_device_name: %s.\n",
               vol.created_vol_id.c_str(), vol.dev_name.c_str(), vol.attached_dev_name.c_str()));
    return Task_Base::CODE_FAILED;
  }
  if (!transfer_data(vol)) {
    ACE_ERROR((LM_ERROR, "Failed to transfer tavro volume %s data.\n", vol.created_vol_id.c_str()));
    return Task_Base::CODE_FAILED;
  }
  if (!client_->detach_volume(base.agent_instance_id, vol.dev_name, vol.created_vol_id)) {
    ACE_ERROR((LM_ERROR, "Failed to detach volume %s.\n", vol.created_vol_id.c_str()));
    return Task_Base::CODE_FAILED;
  }
  vol.attached_instance_id.clear();
  // An entry without a target node keeps the volume where it was made.
  if (is_node_local(vol.storage_type) && !entry.target_node_id.empty() &&
      base.agent_node_id != entry.target_node_id &&
      !client_->modify_volume_storage(vol.created_vol_id, vol.storage_id, entry.target_node_id)) {
    ACE_ERROR((LM_ERROR, "Failed to change volume %s to node %s.\n", vol.created_vol_id.c_str(),
               entry.target_node_id.c_str()));
    return Task_Base::CODE_FAILED;
  }
  if (params_.restore_vm && vol.is_root && !create_instance(vol)) {
    ACE_ERROR((LM_ERROR, "Failed to create new instance.\n"));
    return Task_Base::CODE_FAILED;
  }
  ++succeeded_volumes_;
  return Task_Base::CODE_SUCCESS;
}

bool Instance_Restore_Handler::prepare_volume(Volume_Restore_Info& vol) {
  YOLT_CHECK_NULL(client_, false);
  const std::string node = is_node_local(vol.storage_type) ? params_.base.agent_node_id : "";
  Volume volume;
  const bool created = client_->create_volume(vol.src_vol_name, params_.entry.target_cluster_id,
                                              vol.storage_id, vol.size, node, volume);
  // A volume whose wait failed exists all the same and must be deleted.
  vol.created_vol_id = volume.id;
  vol.created_vol_name = volume.name;
  if (!created) {
    ACE_ERROR((LM_ERROR, "Failed to create volume for %s.\n", vol.src_vol_id.c_str()));
    return false;
  }
  return true;
}

bool Instance_Restore_Handler::transfer_data(const Volume_Restore_Info& vol) {
  if (vol.timepoint_piece_list.empty()) {
    ACE_ERROR((LM_ERROR, "Timepoint piece list of volume %s is emtpy.\n", vol.src_vol_id.c_str()));
    return false;
  }
  Client_IO_Ex io;
  for (const Volume_Restore_Info::Pieces& pieces : vol.timepoint_piece_list)
    for (const Volume_Restore_Info::Piece& piece : pieces)
      if (!transfer_piece(io, vol, piece)) return false;
  if (progress() != nullptr) progress()->add_processed_volume();
  ACE_DEBUG((LM_DEBUG, "Volume %s restored successfully.\n", vol.created_vol_id.c_str()));
  return true;
}

bool Instance_Restore_Handler::transfer_piece(Client_IO_Ex& io, const Volume_Restore_Info& vol,
                                              const Volume_Restore_Info::Piece& piece) {
  const std::string& url = piece.pool.url;
  if (!io.connect(url, piece.pool.io_opts)) {
    ACE_ERROR((LM_ERROR, "Failed to connect to storage pool %s, err %s.\n", url.c_str(),
               io.error()));
    return false;
  }
  auto connection = make_deleter(&io, &Client_IO_Ex::teardown);
  if (!io.open(piece.remote_path, Client_IO_Base::MODE_READ, 0, 0)) {
    ACE_ERROR((LM_ERROR, "Failed to open storage pool %s remote file %s, err %s.\n", url.c_str(),
               piece.remote_path.c_str(), io.error()));
    return false;
  }
  total_storage_size_ += io.storage_size();
  auto file = make_deleter(&io, &Client_IO_Ex::close);
  if (piece.block_size == 0) {
    ACE_ERROR((LM_ERROR, "Piece %s of volume %s has block size 0.\n", piece.remote_path.c_str(),
               vol.src_vol_id.c_str()));
    return false;
  }
  ACE_DEBUG((LM_DEBUG, "Begin write tavro volume %s.\n", vol.created_vol_id.c_str()));
  // The image is read in its own block size: a piece recorded with another one (its
  // device size, where the piece had no attributes) still restores.
  Volume_Reader reader(vol.attached_dev_name, piece.block_size, piece.remote_path);
  auto on_block = [this](const char*, size_t length, int64_t) {
    if (progress() != nullptr) progress()->add_processed(length);
    return !is_canceled();
  };
  if (!reader.read_all(io, on_block)) {
    ACE_ERROR((LM_ERROR, "Failed to read data from %s.\n", piece.remote_path.c_str()));
    return false;
  }
  return true;
}

bool Instance_Restore_Handler::attach_data_volumes() {
  const std::string& target = params_.entry.instance_tgt_id;
  for (const Volume_Restore_Info_var& vol : restore_volumes_) {
    if (params_.restore_vm && vol->is_root) {
      ACE_DEBUG((LM_DEBUG, "Skip mount root volume %s.\n", vol->created_vol_id.c_str()));
      continue;
    }
    ACE_DEBUG((LM_DEBUG, "Begin attach volumes %s to tavro instance %s.\n",
               vol->created_vol_id.c_str(), target.c_str()));
    // Past the point where a restore can stop: a stop does not end the wait for another
    // job's attachment to the target.
    bool accepted = false;
    const bool attached =
        client_->attach_volume_to_agent(target, vol->created_vol_id, vol->dev_name, &accepted);
    if (accepted) vol->attached_instance_id = target;
    if (!attached) {
      ACE_ERROR((LM_ERROR, "Failed to attach volume %s to tavro instance %s.\n",
                 vol->created_vol_id.c_str(), target.c_str()));
      return false;
    }
  }
  return true;
}

}  // namespace tavrocloud
