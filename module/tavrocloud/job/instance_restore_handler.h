// Restores one instance of a restore job. The restore executor builds one handler per
// instance task on a worker thread, calls restore() once and destroys it. The handler
// logs in with its own client, reads the instance's backup sets from the catalog,
// re-creates and writes every volume (several at once), builds the new instance in a VM
// restore (or uses the existing target instance), attaches the data volumes, sets the
// power state and reports its result as a JSON object.
//
// Flow of restore() (each failure jumps to the step named after the arrow; the first
// error is kept and the clean-up always runs once volumes may exist):
//
//   a restore onto an existing instance: refuse the agent's own ──> result;
//    │   lock the target against other jobs of this host ──busy or failed──> result
//   init ──fail──> result
//    │
//   load_catalog ──> parse_source_instance ──fail──> result (nothing made in the cloud)
//    │
//   restore_volumes: per volume, on its own worker thread
//    │   create volume ─> attach to agent ─> find device ─> write pieces, sync
//    │   ─> detach ─> move to target node ─> (VM restore, root) create_instance
//    │                                          convert or snapshot, NICs, RunInstances
//    │   any failure ──> clean_up_when_failed ──> result
//   attach_data_volumes ──fail──> clean_up_when_failed ──> result
//    │
//   power state (never fails the restore) ──> clean_up (older clouds: root snapshot and
//                                             intermediate root volume) ──> result
//
// Every id the cloud hands out is recorded at once, also when the wait after it fails,
// so that clean_up_when_failed can undo it: it terminates the instance this handler
// created (and waits for it), detaches and deletes the volumes and the root snapshot,
// then deletes the network interfaces. An instance the handler did not create is never
// touched.
#ifndef TAVROCLOUD_JOB_INSTANCE_RESTORE_HANDLER_H
#define TAVROCLOUD_JOB_INSTANCE_RESTORE_HANDLER_H

#include "backup_set/common/tavro_backup_set.h"
#include "catalog/json_restful_client.h"
#include "job_engine/job.h"
#include "job_engine/job_activity.h"
#include "job_engine/job_alert.h"
#include "json/value.h"
#include "models/task/task_base.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/common.h"
#include "tavrocloud/job/instance_progress_info.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class Client_IO_Ex;
class RESTful_Catalog_Operator;

namespace tavrocloud {

// True when `id` is not empty and holds only letters, digits, '.', '_' and '-': cloud
// identifiers that name devices, records and files must pass it.
bool is_safe_identifier(const std::string& id);

// Asks `catalog` for the backup sets of the entry's instance at its time point (the view
// "restore"); true with a non-empty array in `val`. False when the catalog fails (logged
// with `failed`, a format given the resource, the instance and the time point) or answers
// anything but a non-empty array (an empty one is also logged with the three keys and
// where the user finds the sets the catalog holds).
bool get_restore_view(RESTful_Catalog_Operator& catalog, const Base_Params& base,
                      const Restore_Source_Entry& entry, const char* failed,
                      json_spirit::Value& val);

class Instance_Restore_Handler {
 public:
  using Params = RESTful_Client::Params;

  // Copies the parameters and stamps the start time; connects to nothing yet.
  Instance_Restore_Handler(Job& job, const Restore_Params& params);
  ~Instance_Restore_Handler();
  Instance_Restore_Handler(const Instance_Restore_Handler&) = delete;
  Instance_Restore_Handler& operator=(const Instance_Restore_Handler&) = delete;

  // Restores the instance. Always fills `result` ("storage_size", "set_size",
  // "source_size", "instance_id", "instance_name", "succeed") and sets the progress
  // record's final state; true when the instance was restored, and then `result` also
  // holds "restored": what the restore made (see restored_facts).
  bool restore(json_spirit::Object& result);

  // True once the job is being cancelled, cancelled or in error (false before init).
  bool is_canceled() const;

  // Raises a job alert with the arguments as a JSON array (null when there are none).
  void add_agent_alert(Error_ID::Level level, unsigned long id,
                       const std::vector<json_spirit::Value>& args, unsigned long extra);

  // ---- steps, public for the tests ------------------------------------------------------
  // Reads the backup sets of the entry's instance at its time point; false (logged)
  // when the catalog fails or answers anything but a non-empty array of readable sets.
  bool load_catalog(std::vector<Tavro_Backup_Set>& sets);
  // Fills the entry's instance description from the last set and one
  // Volume_Restore_Info per entry volume with the pieces of every set (last set first);
  // false (logged) when a volume, pool or piece is missing.
  bool parse_source_instance(const std::vector<Tavro_Backup_Set>& sets);
  // The pool named `pool_uuid`, its url joined with the set's `uri`; false (logged).
  bool get_pool(const std::string& pool_uuid, const std::string& uri,
                Volume_Restore_Info::Storage_Pool& pool);

  // Restores every volume on `parallel_disks_per_vm` workers; true when all succeeded.
  bool restore_volumes();
  // One volume; CODE_SUCCESS or CODE_FAILED (what was made stays recorded in `vol`).
  Task_Base::Error restore_volume_i(Volume_Restore_Info& vol);
  bool prepare_volume(Volume_Restore_Info& vol);
  // Writes every piece of every set onto the volume's local device.
  bool transfer_data(const Volume_Restore_Info& vol);
  // Attaches the restored volumes (not the root of a VM restore) to the target instance.
  bool attach_data_volumes();

  // Turns the restored root volume into a new instance (conversion or, on clouds
  // without temporary snapshots, a snapshot); the entry then names the new instance.
  bool create_instance(Volume_Restore_Info& root);
  bool create_instance_legacy(Volume_Restore_Info& root);
  // The RunInstances parameters; creates the network interfaces on the way (each id is
  // recorded at once). `out` is replaced only on success.
  bool build_instance_params(const std::string& image_id, int size, const std::string& storage_id,
                             const std::string& device, Params& out);

  // After success: removes the intermediates of the older creation path. After failure:
  // removes everything this handler made (always true).
  bool clean_up();
  bool clean_up_when_failed();
  void clean_volume(const Volume_Restore_Info& vol);

  // For the tests.
  const Restore_Params& params() const { return params_; }
  Restore_Params& params() { return params_; }
  const Volume_Restore_Infos& restore_volumes_list() const { return restore_volumes_; }
  const std::vector<std::string>& net_interfaces() const { return net_interfaces_; }
  const std::string& created_instance_id() const { return created_instance_id_; }
  // Test hook: the client the steps use (the handler logs one in on init otherwise).
  void set_client(std::unique_ptr<RESTful_Client> client) { client_ = std::move(client); }

  // Seconds the failure clean-up waits for the instance it terminated.
  enum { TERMINATE_WAIT_SECONDS = 600 };

 private:
  bool init();
  bool restore_i();
  // The instance restored to ("instance_id", "instance_name": the new one in a VM
  // restore) and the volumes attached to it ("volumes": objects with the new volume's
  // "id" and the "device" it was attached as).
  json_spirit::Object restored_facts() const;
  void set_power_state();
  // The entry volume's pieces, one list per set (last set first).
  bool add_piece_lists(const std::vector<Tavro_Backup_Set>& sets, const std::string& vol_id,
                       Volume_Restore_Info& vol);
  bool transfer_piece(Client_IO_Ex& io, const Volume_Restore_Info& vol,
                      const Volume_Restore_Info::Piece& piece);
  // Records what a create_instance call made (also when its wait failed).
  bool run_instance(const Params& params, const char* done_text);
  bool create_network_interfaces(Params& pairs);
  void terminate_created_instance();
  Instance_Progress_Info* progress() const { return progress_.get(); }

  Job& job_;
  Restore_Params params_;
  Instance_Lock instance_lock_;  // the target's, held for the whole restore
  time_t start_time_;
  std::string start_timepoint_;
  JSON_RESTful_Client rest_client_;
  std::unique_ptr<RESTful_Client> client_;
  Job_Activity_Handle job_act_;
  Instance_Mem_Map_Handle progress_;
  Volume_Restore_Infos restore_volumes_;
  uint64_t source_size_ = 0;
  std::atomic<uint64_t> succeeded_volumes_{0};
  std::atomic<uint64_t> total_storage_size_{0};
  size_t volume_count_ = 0;
  std::vector<std::string> net_interfaces_;
  // The instance that this handler's RunInstances made (empty when none): the only
  // instance the failure clean-up may terminate.
  std::string created_instance_id_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_INSTANCE_RESTORE_HANDLER_H
