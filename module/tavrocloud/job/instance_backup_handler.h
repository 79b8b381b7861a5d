// Backs up one cloud instance: the backup executor's instance task makes one handler per
// run, calls backup() once on its worker thread and destroys it. The handler reads the
// instance and its volumes, makes them readable on this agent (temporary snapshots, or
// volumes made from an instance backup), uploads every volume into the pool in parallel,
// removes what it made in the cloud and commits the instance's backup-set record.
//
//   lock the instance against other jobs of this host | busy -> result (code 1)
//   init: records, login, instance, node, volumes, eligibility, power-off
//     | fail -> result (code 1 before the node was read, 2 after)
//   check_storage -> is_canceled
//   backup_with_tmp_snapshot                  backup_legacy
//                                               a selection of some volumes -> fail
//                                                 (code 1), nothing made
//     create snapshots (guard armed first)      create instance backup (guard armed
//     attach + local device, per volume         as soon as its id is known)
//     backup_volumes                            create volumes from its snapshots
//     guard: detach + delete each snapshot      attach + local device, per volume
//                                               backup_volumes
//                                               guard: detach + delete the volumes,
//                                                      then the instance backup
//   save_catalog            | fail -> the images uploaded by this run are removed, then
//                                     the pool folders made for them when left empty
//   result guard: progress state, result object, power-on when the rule holds
#ifndef TAVROCLOUD_JOB_INSTANCE_BACKUP_HANDLER_H
#define TAVROCLOUD_JOB_INSTANCE_BACKUP_HANDLER_H

#include "backup_set/common/tavro_backup_set.h"
#include "job_engine/job.h"
#include "job_engine/job_activity.h"
#include "job_engine/job_alert.h"
#include "json/value.h"
#include "models/task/task_base.h"
#include "tavrocloud/common/tavrocloud_instance.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/common.h"
#include "tavrocloud/job/instance_progress_info.h"

#include <ace/Thread_Mutex.h>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tavrocloud {

class Instance_Backup_Handler {
 public:
  Instance_Backup_Handler(Job& job, const Backup_Params& params);
  ~Instance_Backup_Handler();
  Instance_Backup_Handler(const Instance_Backup_Handler&) = delete;
  Instance_Backup_Handler& operator=(const Instance_Backup_Handler&) = delete;

  // Backs up params.backup_instance; true when its images are in the pool and its record
  // in the catalog. `result` is always filled ("storage_size", "set_size",
  // "source_size", "instance_id", "instance_name", "succeed", "code").
  bool backup(json_spirit::Object& result);

 private:
  // Preparation and result (instance_backup_handler.cpp).
  bool init();
  bool open_records();
  bool read_instance();
  bool build_volumes();
  bool fill_volume(const Volume& volume, const std::string& safe_instance_id);
  void check_tmp_snapshot_support();
  bool power_off();
  bool check_storage();
  bool is_canceled() const;
  bool restart_instance(const Instance& instance);
  // Why `instance` is powered off for its backup and on again afterwards; empty when not.
  std::string power_cycle_reason(const Instance& instance);
  bool storage_type(const std::string& storage_id, std::string& type);
  void finish(bool succeeded, json_spirit::Object& result);
  void power_on();
  void add_agent_alert(Error_ID::Level level, unsigned long id,
                       const std::vector<json_spirit::Value>& args, unsigned long extra);
  void alert_instance(unsigned long id);
  void cancel_retry();

  // Temporary-snapshot and snapshot-volume paths (instance_backup_handler_paths.cpp).
  bool backup_with_tmp_snapshot();
  bool prepare_tmp_snapshots(Instance_Backup_Info& info);
  bool attach_tmp_snapshots(Instance_Backup_Info& info);
  bool delete_tmp_snapshots(const Instance_Backup_Info& info);
  bool backup_legacy();
  bool prepare_instance_backup(Instance_Backup_Info& info);
  bool prepare_backup_volumes(Instance_Backup_Info& info);
  bool attach_backup_volumes(Instance_Backup_Info& info);
  bool attach_backup_volume(const std::string& agent_instance_id, Volume_Backup_Info& volume);
  bool delete_backup_volumes(const Instance_Backup_Info& info);
  void delete_backup_volume(const Volume_Backup_Info& volume);
  void start_progress();
  bool canceled_while_attaching();

  // Volume upload (instance_backup_handler_upload.cpp).
  bool backup_volumes();
  Task_Base::Error backup_volume(const Volume_Backup_Info_var& volume_var);
  void remove_uploaded_images();
  friend class Instance_Backup_Handler_Test;  // drives the upload against a real pool

  // Backup-set record (instance_backup_handler_catalog.cpp).
  bool save_catalog();
  bool save_networks(Tavro_Backup_Set& set);
  void save_network(Network_Interface_Type type, const Network_Interface& iface,
                    Tavro_Backup_Set& set);

  Job& job_;
  Backup_Params params_;
  Instance_Lock instance_lock_;  // held for the whole backup; let go after the result guard
  time_t start_time_;
  std::string start_timepoint_;
  unsigned char bset_uuid_[16];
  std::unique_ptr<RESTful_Client> client_;
  Instance instance_;
  Job_Activity_Handle job_act_;
  Instance_Mem_Map_Handle progress_;
  ACE_Thread_Mutex alert_mutex_;
  std::atomic<bool> retry_{false};
  size_t volume_count_ = 0;
  uint64_t source_size_ = 0;
  std::atomic<uint64_t> succeeded_volumes_{0};
  std::atomic<uint64_t> total_storage_size_{0};
  // Images published by this run, removed again when the run ends without a record.
  struct Uploaded_Image {
    std::string path;
    uint64_t storage_size;  // its share of total_storage_size_
  };
  std::mutex uploaded_mutex_;
  std::vector<Uploaded_Image> uploaded_images_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_INSTANCE_BACKUP_HANDLER_H
