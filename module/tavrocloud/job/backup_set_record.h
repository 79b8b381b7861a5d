// The catalog record of one instance backup, both ways: the backup builds it from the
// run's parameters, the instance read from the cloud and the run's own facts; the
// restore reads the catalog's JSON form of it back, refusing any record that lacks what
// a restore needs.
#ifndef TAVROCLOUD_JOB_BACKUP_SET_RECORD_H
#define TAVROCLOUD_JOB_BACKUP_SET_RECORD_H

#include "backup_set/common/tavro_backup_set.h"
#include "json/value.h"
#include "tavrocloud/common/tavrocloud_instance.h"
#include "tavrocloud/job/common.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace tavrocloud {

// What one run knows about itself, beside its parameters and the instance.
struct Backup_Set_Facts {
  std::string set_uuid;  // the set, as UUID text (also the images' set UUID)
  std::string job_id;    // the run, as UUID text
  std::string run_uid;   // the definition's uid, as UUID text
  std::string host_name; // this backup host
  time_t start_time = 0;
  time_t end_time = 0;
  uint64_t source_size = 0;   // bytes of the backed-up volumes
  uint64_t storage_size = 0;  // bytes the pool stored for all the set's images
};

// Fills every part of `set` but its networks from the parameters (the backed-up
// volumes are params.backup_instance.backup_vols, in order), the instance and the facts:
// one volume entry and one piece per volume, one storage.
void fill_backup_set(const Backup_Params& params, const Instance& instance,
                     const Backup_Set_Facts& facts, Tavro_Backup_Set& set);

// The record of one network interface: `type` is the instance's own entry's type,
// `iface` the interface as queried, the names those of its VPC and subnet ("" when
// unknown).
Tavro_Backup_Set::Network network_entry(Network_Interface_Type type,
                                        const Network_Interface& iface,
                                        const std::string& host_address,
                                        const std::string& vpc_name,
                                        const std::string& subnet_name);

// Reads a set's catalog JSON into `set`; false (logged) when anything a restore needs is
// missing or of another type. On false `set` is partly filled and must be dropped.
bool load_backup_set(const json_spirit::Object& obj, Tavro_Backup_Set& set);
// Reads the set's "network" (an array, or one object taken as one element); false
// (logged) when absent, of another type or unreadable.
bool load_networks(const json_spirit::Object& obj, Tavro_Backup_Set& set);

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_BACKUP_SET_RECORD_H
