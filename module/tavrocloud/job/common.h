// What the backup and restore jobs share: the plain records that carry a job's resolved
// parameters from an executor to its handlers and the payloads of the instance and
// volume tasks, and the lookup of the local block device behind a cloud disk attached
// to the backup agent. Filled by the executors, read by the handlers and uploads.
#ifndef TAVROCLOUD_JOB_COMMON_H
#define TAVROCLOUD_JOB_COMMON_H

#include "client_io/client_io_base.h"
#include "job_engine/job_types.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/utils.h"
#include "tavrocloud/job/restore_source_entry.h"
#include "yolt/lock_file.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace tavrocloud {

// Parameters shared by backup and restore jobs.
struct Base_Params {
  bool backupd_ssl = false;
  std::string backupd_host;
  uint16_t backupd_port = 0;
  std::string access_key;  // this host's access key, for the catalog client
  size_t max_seconds_retry = 3;
  size_t retry_count = 3;
  size_t retry_internal = 3;  // seconds between retries
  int parallel_vms = 2;
  int parallel_vms_per_host = 2;
  int parallel_disks_per_vm = 1;
  int parallel_workers_per_disk = 1;
  std::string def_id;
  std::string def_name;
  std::string host_id;  // the registered cloud's uuid
  std::string agent;
  std::string pool_uuid;
  std::string target_device_id;
  std::string resource_uuid;
  Client_IO_Base::Options io_opts;
  Login login_info;
  std::string agent_instance_id;
  std::string agent_node_id;
  bool support_tmp_snapshot = false;
};

// One volume of an instance backup, as its upload task carries it.
struct Volume_Backup_Info {
  std::string vol_id;
  std::string vol_name;
  std::string storage_id;
  std::string storage_name;
  std::string storage_type;
  bool is_root = false;
  std::string availability_zone;
  std::string snapshot_id;
  uint64_t size = 0;  // GiB
  std::string src_dev_name;
  std::string storage_file_path;
  std::string storage_file_name;
  std::string dev_name;           // device name of the attachment to the agent
  std::string attached_dev_name;  // local block device read by the upload
  std::string created_vol_id;
  uint64_t created_vol_size = 0;
  std::string attached_instance_id;
  size_t block_size = 131072;
};

// One instance to back up, as its task carries it.
struct Instance_Backup_Info {
  std::string instance_id;
  std::string instance_name;
  std::string storage_id;
  std::string host_address;
  std::string node_name;
  Status status = UNKNOWN;
  std::string availability_zone;
  std::list<Volume_Backup_Info> backup_vols;
  std::string instance_backup_id;
  std::list<std::string> snapshot_ids;
  std::list<std::string> backup_vol_ids;  // empty: every volume
};

using Instance_Backup_Infos = std::list<Instance_Backup_Info>;
using Instance_Backup_Info_var = std::shared_ptr<Instance_Backup_Info>;
using Volume_Backup_Info_var = std::shared_ptr<Volume_Backup_Info>;

struct Backup_Params {
  Job_Definition_Subtype backup_type = JOB_DEFINITION_SUBTYPE_NONE;
  std::string pool_url;
  uint64_t storage_reserved_bytes = 0;
  int storage_reserved_percent = 0;
  bool restart_vm = false;
  bool reserve_snapshot = false;
  Base_Params base;
  Instance_Backup_Info backup_instance;
};

struct Restore_Params {
  bool restore_vm = false;
  bool origin_restore = false;
  bool start_vm = true;
  std::string pool_url;
  std::string duplicate_vm;
  Base_Params base;
  Restore_Source_Entry entry;
};

// One volume to restore, as its task carries it.
struct Volume_Restore_Info {
  struct Storage_Pool {
    std::string url;
    Client_IO_Base::Options io_opts;
  };

  // One backed-up piece of the volume in one backup set.
  struct Piece {
    size_t block_size = 0;
    Storage_Pool pool;
    std::string remote_path;
  };

  using Pieces = std::list<Piece>;
  // For each backup set to apply, in order, the pieces of this volume.
  using Timepoint_Piece_List = std::list<Pieces>;

  Timepoint_Piece_List timepoint_piece_list;
  std::string src_vol_id;
  std::string src_vol_name;
  int size = 0;  // GiB
  std::string src_dev_name;
  std::string storage_id;
  std::string storage_type;
  bool is_root = false;
  std::string created_vol_id;
  std::string created_vol_name;
  std::string attached_instance_id;
  std::string snapshot_id;
  std::string dev_name;
  std::string attached_dev_name;
  std::string storage_file_path;
};

using Volume_Restore_Info_var = std::shared_ptr<Volume_Restore_Info>;
using Volume_Restore_Infos = std::vector<Volume_Restore_Info_var>;

// The job alerts a backup raises about its source and instances (the host's alert
// catalogue holds their texts), all at the error level: each names work the run leaves
// undone. What the job itself asked to leave out or change is told in warning log lines.
enum Backup_Alert : unsigned long {
  ALERT_ENTRY_NOT_LISTED = 7,          // an entry not found or not listed; [id, name, type]
  ALERT_INSTANCES_NOT_BACKED_UP = 10,  // [count]
  ALERT_NAMELESS_SKIPPED = 11,         // [instance id]
  ALERT_INSTANCE_SKIPPED = 20,         // an instance the source names; [id, name, why]
};

// Resolves the cloud identifier `id` of a volume or temporary snapshot attached to this
// machine into its local block device (through /dev/disk/by-id/virtio-<id>), waiting
// with a growing delay for the kernel to make it. True with the device path in `device`;
// false, `device` untouched, for an empty identifier, one holding anything but letters,
// digits, '-', '_' and '.', or when no block device appeared in time (logged).
bool get_local_device(const std::string& id, std::string& device);

// Runs one clean-up request (`step`, true when done) and, while it fails, again after
// short waits, a few times: clean-up is a run's last chance not to leave what it made
// in the cloud. True once a run of `step` succeeded.
bool retry_cleanup(const std::function<bool()>& step);

// The lock of one cloud instance, "<home>/lock/instance/<name of its id>": an instance
// handler holds it while it changes anything of its instance in the cloud, so that what
// it finds of the instance there (a temporary snapshot, say) is a leftover of a killed
// run and never the live work of another job of this host.
class Instance_Lock : public yolt::Lock_File {
 public:
  Instance_Lock() : Lock_File("instance") {}
};

// Takes `lock` on the instance `instance_id` for this run's `work` ("backup" or
// "restore"), before the run changes anything of the instance in the cloud. True when
// taken. False, logged, when another job of this host holds the instance (its temporary
// snapshots, volumes and power state are that job's to handle, not leftovers), or when
// the lock cannot be had: a run never goes on unlocked.
bool lock_instance(Instance_Lock& lock, const std::string& instance_id, const char* work);

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_COMMON_H
