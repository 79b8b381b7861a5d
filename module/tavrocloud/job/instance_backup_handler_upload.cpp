// The upload of an instance's volumes: one scheduler task per volume, each writing its
// attached device into the pool as one image, re-run on a failure worth retrying and
// leaving nothing behind in the pool when it fails (the pool's removal of a file also
// removes the folders the upload made for it, once empty).
#include "tavrocloud/job/instance_backup_handler.h"

#include "models/task/thread_task_scheduler.h"
#include "pool/client_io.h"
#include "runtime/uuid.h"
#include "tavrocloud/job/volume_writer.h"
#include "yolt/check.h"
#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <mutex>

namespace tavrocloud {

namespace {

enum { VOLUME_QUEUE_CAPACITY = 1024 };

}  // namespace

bool Instance_Backup_Handler::backup_volumes() {
  Thread_Task_Scheduler<Volume_Backup_Info> scheduler(VOLUME_QUEUE_CAPACITY);
  const bool stop_registered = scheduler.register_stop_callback([this] {
    if (!is_canceled()) return false;
    cancel_retry();
    return true;
  });
  if (!stop_registered) return false;
  if (!scheduler.enable_retry(static_cast<uint32_t>(params_.base.retry_count),
                              static_cast<uint32_t>(params_.base.retry_internal))) {
    return false;
  }
  const std::list<Volume_Backup_Info>& volumes = params_.backup_instance.backup_vols;
  for (const Volume_Backup_Info& v : volumes) {
    ++volume_count_;
    if (!scheduler.enqueue_task(std::make_shared<Volume_Backup_Info>(v), nullptr, 0,
                                v.vol_id.c_str(), nullptr)) {
      return false;
    }
  }
  const int workers = static_cast<int>(
      std::min<size_t>(static_cast<size_t>(std::max(params_.base.parallel_disks_per_vm, 0)),
                       volumes.size()));
  const bool activated = scheduler.activate(workers, [this](const Volume_Backup_Info_var& v) {
    job_.set_thread_log_msg_callback();
    return backup_volume(v);
  });
  if (!activated || !scheduler.wait()) return false;
  return succeeded_volumes_.load() == volume_count_;
}

Task_Base::Error Instance_Backup_Handler::backup_volume(const Volume_Backup_Info_var& volume_var) {
  YOLT_CHECK_NULL(volume_var, Task_Base::CODE_FAILED);
  YOLT_CHECK_EMPTY(volume_var->storage_file_path, Task_Base::CODE_FAILED);
  YOLT_CHECK_EMPTY(volume_var->attached_dev_name, Task_Base::CODE_FAILED);
  YOLT_CHECK_EMPTY(params_.pool_url, Task_Base::CODE_FAILED);
  const Volume_Backup_Info& volume = *volume_var;
  Client_IO_Ex io;
  if (!io.connect(params_.pool_url, params_.base.io_opts)) {
    ACE_ERROR((LM_ERROR, "Failed to connect to storage pool %s : %s.\n", params_.pool_url.c_str(),
               io.error()));
    return Task_Base::CODE_FAILED;
  }
  const std::string remote = volume.storage_file_path + "/" + volume.storage_file_name;
  Task_Base::Error result = Task_Base::CODE_FAILED;
  uint64_t counted = 0;  // this attempt's share of the instance's progress
  bool opened = false;   // this attempt opened the image: only then may it remove the path
  auto residue = make_deleter([&] {
    if (result == Task_Base::CODE_SUCCESS) return;
    // A re-run starts this volume over, so its bytes must not be counted twice.
    progress_->sub_processed(counted);
    // A file still open here has no trailer: its close discards it.
    io.close();
    // A path this attempt never opened may hold another image (names are made safe for
    // the file system and can meet): it is not this attempt's to remove.
    if (opened && !io.remove(remote)) {
      ACE_ERROR((LM_WARNING, "Failed to remove residual backup volume %s : %s.\n", remote.c_str(),
                 io.error()));
    }
  });
  ACE_DEBUG((LM_DEBUG, "Start saving volume: %s, size: %Q, remote path: %s, device name: %s.\n",
             volume.created_vol_id.c_str(), static_cast<ACE_UINT64>(volume.size), remote.c_str(),
             volume.attached_dev_name.c_str()));
  Volume_Writer writer(io, volume.attached_dev_name, remote, 0, volume.size << 30,
                       volume.block_size);
  auto progress = [&](unsigned long bytes) {
    progress_->add_processed(bytes);
    counted += bytes;
    return !is_canceled();
  };
  const std::string set_uuid = uuid_binary_to_string(bset_uuid_);
  const bool written = writer.write_all(set_uuid, set_uuid, progress);
  opened = writer.opened_remote();
  if (written) {
    total_storage_size_ += writer.storage_size();
    {
      std::lock_guard<std::mutex> guard(uploaded_mutex_);
      uploaded_images_.push_back({remote, writer.storage_size()});
    }
    ++succeeded_volumes_;
    progress_->add_processed_volume();
    result = Task_Base::CODE_SUCCESS;
  } else if (is_canceled()) {
    cancel_retry();
    ACE_ERROR((LM_ERROR, "Failed to upload volume %s.\n", volume.vol_id.c_str()));
  } else {
    result = Task_Base::CODE_FAILED_RETRY;
  }
  return result;
}

void Instance_Backup_Handler::remove_uploaded_images() {
  std::lock_guard<std::mutex> guard(uploaded_mutex_);
  if (uploaded_images_.empty()) return;
  Client_IO_Ex io;
  const bool connected = io.connect(params_.pool_url, params_.base.io_opts);
  for (const Uploaded_Image& image : uploaded_images_) {
    // The result reports what the pool still holds of this run.
    if (connected && io.remove(image.path)) {
      total_storage_size_ -= image.storage_size;
      continue;
    }
    ACE_ERROR((LM_WARNING, "Failed to remove image %s of a failed tavro backup: %s.\n",
               image.path.c_str(), io.error()));
  }
  uploaded_images_.clear();
}

}  // namespace tavrocloud
