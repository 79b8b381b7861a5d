// The commit of an instance's backup-set record, with its network interfaces as the
// cloud describes them now.
#include "tavrocloud/job/instance_backup_handler.h"

#include "catalog/restful_catalog_operator.h"
#include "identity/host_manager.h"
#include "runtime/uuid.h"
#include "tavrocloud/common/tavrocloud_network.h"
#include "tavrocloud/job/backup_set_record.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_time.h>

namespace tavrocloud {

bool Instance_Backup_Handler::save_catalog() {
  Tavro_Backup_Set set;
  if (!save_networks(set)) return false;
  Backup_Set_Facts facts;
  facts.set_uuid = uuid_binary_to_string(bset_uuid_);
  facts.job_id = uuid_binary_to_string(job_act_->id);
  facts.run_uid = uuid_binary_to_string(job_act_->uid);
  facts.host_name = Host_Manager::instance().name();
  facts.start_time = start_time_;
  facts.end_time = ACE_OS::time(nullptr);
  facts.source_size = source_size_;
  facts.storage_size = total_storage_size_.load();
  fill_backup_set(params_, instance_, facts, set);
  const Base_Params& base = params_.base;
  RESTful_Catalog_Operator catalog(base.backupd_host, base.backupd_port, base.backupd_ssl,
                                   base.access_key, -1, base.max_seconds_retry);
  if (catalog.commit(set, true)) return true;
  alert_instance(3);
  ACE_ERROR((LM_ERROR, "Failed to commit catalog for tavrocloud instance %s.\n",
             params_.backup_instance.instance_id.c_str()));
  return false;
}

bool Instance_Backup_Handler::save_networks(Tavro_Backup_Set& set) {
  for (const Network_Interface& own : instance_.network_interfaces) {
    Network_Interface queried;
    if (!client_->query_network_interface(own.id, queried)) return false;
    save_network(own.type, queried, set);
  }
  return true;
}

void Instance_Backup_Handler::save_network(Network_Interface_Type type,
                                           const Network_Interface& iface,
                                           Tavro_Backup_Set& set) {
  Vpc vpc;
  Subnet subnet;
  const std::string vpc_name = client_->query_vpc(iface.vpc_id, vpc) ? vpc.name : "";
  const std::string subnet_name = client_->query_subnet(iface.subnet_id, subnet) ? subnet.name : "";
  set.networks.push_back(network_entry(type, iface, params_.backup_instance.host_address,
                                       vpc_name, subnet_name));
}

}  // namespace tavrocloud
