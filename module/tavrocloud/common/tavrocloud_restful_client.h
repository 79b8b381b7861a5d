// The module's client of the cloud's query API. Every executor, instance handler and
// console request owns one, logs it in with a cloud account and calls one operation per
// API action; one logged-in client may be called from several threads at once, since it
// keeps no per-request state. Signing, transport and the feeding of XML answers into the
// response parsers belong to the host's request library.
//
// Layout: this file declares the whole class. The login and the request transport are in
// tavrocloud_restful_client.cpp; the action operations, the waits and paging, the
// temporary snapshots and the agent attachment each go in a source file of their own
// (tavrocloud_restful_client_<topic>.cpp), all built on `send_request`.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_H

#include <ace/Thread_Mutex.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cloud/api_client.h"
#include "cloud/api_xml_response.h"
#include "tavrocloud/common/default_response.h"
#include "json/value.h"
#include "tavrocloud/common/tavrocloud_cloud.h"
#include "tavrocloud/common/tavrocloud_cluster.h"
#include "tavrocloud/common/tavrocloud_image.h"
#include "tavrocloud/common/tavrocloud_instance.h"
#include "tavrocloud/common/tavrocloud_instance_backup.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_network.h"
#include "tavrocloud/common/tavrocloud_node.h"
#include "tavrocloud/common/tavrocloud_snapshot.h"
#include "tavrocloud/common/tavrocloud_storage.h"
#include "tavrocloud/common/tavrocloud_tmp_snapshot.h"
#include "tavrocloud/common/tavrocloud_volume.h"
#include "tavrocloud/common/utils.h"

namespace tavrocloud {

// A wait that follows a create polls a resource the cloud may not list yet (its listings
// are eventually consistent). While `tolerated`, a query that finds the resource not
// listed (an empty listing or a "...NotFound" error) sets `seen` and logs nothing.
struct Listing_Grace {
  bool tolerated = false;
  bool seen = false;
};

// What a single-object query met, for a caller that must tell an object the cloud does
// not have from a cloud that could not answer.
struct Lookup {
  enum Answer {
    FOUND,      // exactly one record, copied out
    NOT_FOUND,  // the cloud does not know the id: a "...NotFound" error or no record
    FAILED      // no answer, a refusal, or several records for the one id
  };
  Answer answer = FAILED;
  std::string reason;  // when FAILED: the cloud's words (or the count); empty when none
};

class RESTful_Client {
 public:
  using Client_ptr = std::unique_ptr<cloud::API_Client>;
  // Request parameters, name then value, sent in vector order.
  using Params = std::vector<std::pair<std::string, std::string>>;

  enum {
    QUERY_RES_SLOT_TIME = 2,           // first wait of every status poll, seconds
    MAX_RETRY = 3,                     // attempts at creating a temporary snapshot
    QUERY_RES_RETRIES = 10,            // polls paired with the slot time and interval
    QUERY_RES_MAX_INTERVAL = 60,       // longest wait between two polls, seconds
    CLEAR_TMP_SNAPSHOT_INTERVAL = 60,  // longest wait between two deletions, seconds
    CLEAR_TMP_SNAPSHOT_TIMEOUT = 360,  // budget for clearing a temporary snapshot, seconds
    MIN_PRODUCT_UUID_LENGTH = 8,       // shortest product id the agent's id is taken from
    // Overall deadlines of the status waits, besides their backoff, so that a resource
    // stuck in a transitional state cannot hold a job (or the attachment lock) for ever.
    WAIT_CREATE_TIMEOUT = 7200,        // creations, snapshots, storage moves, seconds
    WAIT_CHANGE_TIMEOUT = 1800,        // attachments and state changes, seconds
    // How long a wait after a create keeps polling while the new resource is not
    // listed yet, from the start of the wait, seconds.
    NEW_RESOURCE_LISTING_GRACE = 30
  };

  // No client and no version yet; sends nothing.
  RESTful_Client();
  // Frees the request client; the account copy wipes its keys.
  ~RESTful_Client();

  RESTful_Client(const RESTful_Client&) = delete;
  RESTful_Client& operator=(const RESTful_Client&) = delete;

  // Makes a request client for the account and asks the cloud for its version. Returns
  // true when a client was made and the cloud answered (even with an error document for
  // the version, which leaves the version as it was); false, logged, when no client can
  // be made, the cloud cannot be reached or it refused the keys (HTTP 401/403). A failed
  // login leaves an earlier one in force.
  bool login(const Login& login_info);

  // The cloud's version text as the last successful version query returned it; empty
  // until one succeeded.
  const std::string& version() const { return version_; }

  // Sends `action` ("ec2", API version "2016-11-15") with `params` in order and feeds the
  // answer to `rsp`. Returns the request library's verdict: true only when the answer
  // arrived and `rsp.success()` holds. Logs nothing, except when called before a
  // successful login (then false without sending).
  bool send_request(const char* action, const Params& params, Default_Response& rsp);

  // Asks the cloud for its version and stores it (see version()). False, logged with the
  // cloud's message, when the request fails.
  bool query_cloud_version();

  // ---- action operations ------------------------------------------------------------------
  // Each sends one action (or, for the composites, calls other operations) and returns
  // true on success. A failure is logged once, with the cloud's message, and returns false.
  // Listings replace the caller's vector only after a successful request; a single-record
  // query needs exactly one record in the answer and leaves the caller's record untouched
  // otherwise. An operation that waits polls the resource (2 s doubling to 60 s between
  // polls, within the overall deadline) until it reaches its target state, and fails at
  // once on any state other than its one transitional state; its record then holds the
  // last polled state. A create whose request succeeded stores the new id in the caller's
  // record before waiting, so a failed wait still leaves the caller something to delete.
  // Defined in tavrocloud_restful_client_actions.cpp unless said otherwise.

  // The single-record queries of clusters, nodes, storages and instances take `lookup`,
  // when given, to receive what they met (it is set on every return; the failure is
  // logged as always).

  // The cloud itself (DescribeCloud).
  bool query_cloud(Cloud& cloud);
  // All clusters; one cluster by id.
  bool query_clusters(Clusters& clusters);
  bool query_cluster(const std::string& cluster_id, Cluster& cluster, Lookup* lookup = nullptr);
  // All nodes; one node by id; the nodes of a cluster.
  bool query_nodes(Nodes& nodes);
  bool query_node(const std::string& node_id, Node& node, Lookup* lookup = nullptr);
  bool query_cluster_nodes(const std::string& cluster_id, Nodes& nodes);

  // The listings of instances below take `reason`, when given, to receive on failure the
  // cloud's words (empty when it gave none).
  // All instances, following every page.
  bool query_instances(Instances& instances, std::string* reason = nullptr);
  // One instance with its full type, volumes and image. The image is optional: when it
  // cannot be queried (deleted), this is logged and the instance still returned.
  bool query_instance_detail(const std::string& instance_id, Instance& instance);
  bool query_instance(const std::string& instance_id, Instance& instance,
                      Lookup* lookup = nullptr);
  // The instances of a cluster (availability zone) or of a node, following every page.
  bool query_cluster_instances(const std::string& cluster_id, Instances& instances,
                               std::string* reason = nullptr);
  bool query_node_instances(const std::string& node_id, Instances& instances,
                            std::string* reason = nullptr);
  // The instances bearing a name; false (logged at information priority, vector
  // untouched) also when there is none.
  bool query_instances_by_name(const std::string& inst_name, Instances& insts);
  // RunInstances with the caller's parameters, then waits until the instance runs.
  bool create_instance(const Params& params, Instance& instance);
  // Terminates an instance; true once the cloud reports it shutting down.
  bool delete_instance(const std::string& instance_id);
  // Stops or starts an instance and waits until it is stopped or running.
  bool stop_instance(const std::string& instance_id);
  bool start_instance(const std::string& instance_id);
  bool query_instance_type(const std::string& type, Instance_Type& instance_type);
  bool query_instance_types(Instance_Types& instance_types);

  // Creates a volume (on `node_id` when not empty) and waits until it is available.
  bool create_volume(const std::string& volume_name, const std::string& availability_zone,
                     const std::string& storage_id, int64_t size, const std::string& node_id,
                     Volume& volume);
  // Creates a volume from a snapshot and waits until it is available.
  bool create_volume_by_snapshot(const std::string& snapshot_id,
                                 const std::string& availability_zone,
                                 const std::string& volume_name, Volume& volume);
  bool query_volume(const std::string& volume_id, Volume& volume);
  // Attaches a volume to an instance under the next free device name and waits until the
  // attachment, naming that instance, is complete. Attachments to an instance run one
  // after the other in every process of this host that shares the home: the class-wide
  // lock and the instance's attachment lock file (see attachment_lock_kind) are held
  // throughout. While another process holds that file, the call waits, asking `stopped`
  // (when given) between tries: true ends the wait, and the call, with false. A lock file
  // that cannot be had (an unwritable home, say) fails the call, logged: attachments never
  // go on unserialised. `device` receives the chosen name; `attach_accepted`, when given,
  // is set true as soon as the cloud accepted the attach request (false before), so a
  // caller knows it owns an attachment to undo even when the wait fails. Defined in
  // tavrocloud_restful_client_agent.cpp.
  bool attach_volume_to_agent(const std::string& instance_id, const std::string& volume_id,
                              std::string& device, bool* attach_accepted = nullptr,
                              const std::function<bool()>& stopped = nullptr);
  // The folder below "<home>/lock" whose file "<name of an instance id>" serialises the
  // attachments to that instance across the processes of this host.
  static const char* attachment_lock_kind() { return "attach"; }
  // Detaches a volume and waits until it is available.
  bool detach_volume(const std::string& instance_id, const std::string& device,
                     const std::string& volume_id);
  bool delete_volume(const std::string& volume_id);
  // ConvertVolume with the caller's parameters.
  bool convert_volume(const Params& params);
  // Moves a volume to another storage and node, and waits until the volume reports that
  // node (whatever its state).
  bool modify_volume_storage(const std::string& volume_id, const std::string& storage_id,
                             const std::string& node_id);
  // The volumes attached to an instance.
  bool query_instance_volumes(const std::string& instance_id, Volumes& volumes);

  bool query_image(const std::string& image_id, Image& image);
  bool query_vpcs(Vpcs& vpcs);
  bool query_vpc(const std::string& vpc_id, Vpc& vpc);
  // All subnets; the subnets of a VPC; one subnet.
  bool query_subnets(Subnets& subnets);
  bool query_subnets(const std::string& vpc_id, Subnets& subnets);
  bool query_subnet(const std::string& subnet_id, Subnet& subnet);
  bool query_security_group(const std::string& group_id, Security_Group& security_group);
  // All security groups, or those of an owner, following every page.
  bool query_security_groups(Security_Groups& security_groups);
  bool query_security_groups_by_owner_id(const std::string& owner_id,
                                         Security_Groups& security_groups);

  // The backup `backup_id` among the instance's backups; false without a message when the
  // instance lists no such backup.
  bool query_instance_backup(const std::string& instance_id, const std::string& backup_id,
                             Instance_Backup& instance_backup);
  // Backs the instance up (one snapshot per volume) and waits until the backup completes.
  bool create_instance_backup(const std::string& instance_id, Instance_Backup& instance_backup);
  bool delete_instance_backup(const std::string& instance_backup_id);
  bool query_snapshot(const std::string& snapshot_id, Snapshot& snapshot);
  bool delete_snapshot(const std::string& snapshot_id);
  // Snapshots a volume (a root volume with its boot information, sent as compact JSON)
  // and waits until the snapshot is completed.
  bool create_snapshot(const std::string& volume_id, const std::string& snapshot_name,
                       Snapshot& snapshot);
  bool create_snapshot(const std::string& volume_id, const std::string& snapshot_name,
                       const json_spirit::Value& root_info, Snapshot& snapshot);
  // All storages; `reason`, when given, receives on failure the cloud's words.
  bool query_storages(Storages& storages, std::string* reason = nullptr);
  // The storage `storage_id` among all storages; false without a message when none.
  bool query_storage(const std::string& storage_id, Storage& storage, Lookup* lookup = nullptr);
  bool query_tmp_snapshot(const std::string& tmp_snapshot_id, Tmp_Snapshot& tmp_snapshot);

  // Creates a temporary snapshot of a volume and waits until it is available. When the
  // cloud refuses because a temporary snapshot of that volume was left behind, that
  // residue is detached and cleared and the creation tried again (three attempts).
  // Defined in tavrocloud_restful_client_tmp_snapshot.cpp.
  bool create_tmp_snapshot(const std::string& volume_id, Tmp_Snapshot& tmp_snapshot);
  // Attaches a temporary snapshot to an instance and waits until it is attached there.
  // The cloud names it by the instance's next free device, so this is an attachment like
  // attach_volume_to_agent's: under the same locks, waiting for the lock file as it does
  // and ending that wait, with false and nothing attached, when `stopped` says so.
  bool attach_tmp_snapshot(const std::string& tmp_snapshot_id, const std::string& instance_id,
                           const std::function<bool()>& stopped = nullptr);
  // Detaches a temporary snapshot and waits until it is available.
  bool detach_tmp_snapshot(const std::string& tmp_snapshot_id);
  // Asks the cloud to delete a temporary snapshot; it may still exist afterwards.
  bool delete_tmp_snapshot(const std::string& tmp_snapshot_id);
  // Deletes a temporary snapshot again and again (for at most six minutes) until the
  // cloud no longer knows it; true then. Defined in tavrocloud_restful_client_tmp_snapshot.cpp.
  bool clear_tmp_snapshot(const std::string& tmp_snapshot_id);

  // Asks the cloud to attach a volume; no wait.
  bool attach_volume(const std::string& instance_id, const std::string& device,
                     const std::string& volume_id);
  // Appends the instances held by a storage (all pages searched) to `instances`.
  bool query_storage_instances(const std::string& storage_id, Instances& instances,
                               std::string* reason = nullptr);
  bool query_network_interface(const std::string& net_interface_id,
                               Network_Interface& net_interface);
  bool delete_network_interface(const std::string& net_interface_id);
  // Creates a network interface in a subnet with the given security groups (and the MAC
  // and private address, when not empty); its id goes to `net_interface_id`.
  bool create_network_interface(const std::string& subnet_id,
                                const std::vector<std::string>& group_ids,
                                const std::string& mac_addr, const std::string& ip_addr,
                                std::string& net_interface_id);

  // The id of the instance this machine is: from the machine's product identifier when it
  // has one, else the instance whose MAC address is that of this machine's first
  // non-loopback IPv4 interface. Defined in tavrocloud_restful_client_agent.cpp.
  bool agent_instance_id(std::string& agent_instance_id);

  // Keeps only the instances in `status` (`equal`) or drops them (not `equal`), in order.
  // False only when `instances` was empty. Defined in tavrocloud_restful_client_waits.cpp.
  static bool filter_instances_by_status(Instances& instances, Status status, bool equal);

  // Test seam: the file the machine's product identifier is read from (by default
  // "/sys/class/dmi/id/product_uuid"). Returns the previous path; an empty path restores
  // the default. Install before any client looks for the agent.
  static std::string set_product_uuid_path(const std::string& path);


 private:
  // send_request over a given request client (login tries a new one before taking it on).
  static bool send_request(cloud::API_Client& client, const char* action, const Params& params,
                           Default_Response& rsp);

  // CreateVolume / CreateSnapshot with a built parameter list, then the wait.
  bool create_volume_i(const Params& params, Volume& volume);
  bool create_snapshot_i(const Params& params, Snapshot& snapshot);

  // One later page of a listing: `filter` (the first request's own parameters, repeated
  // so that every page answers the same question), then MaxRecords and NextToken, into
  // `rsp`. False, logged, when the page cannot be had.
  bool query_items_by_next_token(const char* action, const Params& filter,
                                 const std::string& next_token, const std::string& max_records,
                                 Default_Response& rsp);

  // Appends the pages after the one `rsp` holds to `items`, page by page. False, logged,
  // when a page fails or the cloud hands out a token it gave before (the pages appended
  // so far stay). Defined in tavrocloud_restful_client_waits.h.
  template <typename Rsp_Type, typename Record>
  bool query_later_pages(const char* action, const Params& filter, Rsp_Type& rsp,
                         const std::vector<Record>& (Rsp_Type::*page)() const,
                         std::vector<Record>& items);

  // Polls `resource` with `query_func` until its status is `success_status_flags`; keeps
  // waiting only while it is `wait_status_flags` and for at most `timeout_secs` seconds.
  // With `grace` (a wait after a create, whose `query_func` reports into it), it also
  // keeps polling while the resource was never listed, for the first
  // NEW_RESOURCE_LISTING_GRACE seconds. Defined in tavrocloud_restful_client_waits.h.
  template <typename Query_Func, typename Rsp_Type>
  bool query_resource(Query_Func query_func, Rsp_Type& resource, Status wait_status_flags,
                      Status success_status_flags, unsigned int timeout_secs,
                      Listing_Grace* grace = nullptr);

  // The single-record queries polled by the waits after a create (`grace` may be null).
  bool query_instance(const std::string& instance_id, Instance& instance, Listing_Grace* grace,
                      Lookup* lookup = nullptr);
  bool query_volume(const std::string& volume_id, Volume& volume, Listing_Grace* grace);
  bool query_instance_backup(const std::string& instance_id, const std::string& backup_id,
                             Instance_Backup& instance_backup, Listing_Grace* grace);
  bool query_snapshot(const std::string& snapshot_id, Snapshot& snapshot, Listing_Grace* grace);
  bool query_tmp_snapshot(const std::string& tmp_snapshot_id, Tmp_Snapshot& tmp_snapshot,
                          Listing_Grace* grace);

  // Runs `step`, an attachment to `instance_id`, holding the class-wide lock and the
  // instance's attachment lock file; waits for the file while another process holds it,
  // asking `stopped` (when given) between tries. False, logged, without running `step`
  // when stopped or when the file cannot be had; else what `step` answers.
  bool with_attachment_lock(const std::string& instance_id, const std::function<bool()>& stopped,
                            const std::function<bool()>& step);
  // The attachment wait of attach_volume_to_agent (under the class-wide lock).
  bool wait_volume_attached(const std::string& instance_id, const std::string& volume_id);

  // Held by each attachment (with_attachment_lock) for its whole run, so that
  // attachments in one process choose their device names one after the other (the
  // attachment lock file does the same between processes, taken and let go inside it).
  static ACE_Thread_Mutex mutex_;

  std::string version_;
  Client_ptr client_;
  Login login_info_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_RESTFUL_CLIENT_H
