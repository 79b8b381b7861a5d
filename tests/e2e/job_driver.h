// Runs cloud jobs end to end through the host's job engine, as the product would: a host
// home with an identity, a registered cloud account (the simulator) and a storage pool;
// job definitions of either kind built from their source and options JSON; a job started
// with its options and waited for until its thread completes; the restore entries of
// their sets. Header only; used by the job and runner end-to-end tests and the job benchmark.
#ifndef TESTS_E2E_JOB_DRIVER_H
#define TESTS_E2E_JOB_DRIVER_H

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "job_engine/job.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_types.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "pool/pool_registry.h"
#include "sim_process.h"
#include "tavrocloud/job/job_parameters.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test {

// The host home of a job test (QUILLON3_ROOT must already point at `home`): the
// identity, the account `cloud_uuid` for the simulator on `port`, and the pool
// `pool_uuid` in "<home>/pool". Empty on success, else what failed.
inline std::string prepare_job_home(const std::string& home, uint16_t port,
                                    const std::string& cloud_uuid, const std::string& access_key,
                                    const std::string& secret_key, const std::string& pool_uuid) {
  if (!Host_Manager::initialise_home(home, "e2e-host", 2048) || !Host_Manager::instance().reload())
    return "no host identity";
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  RSA_Encoder encoder(secret_key.data(), secret_key.size(), pub.data(), pub.size(), true,
                      RSA_CODEC_OAEP_SHA256);
  if (!encoder) return "cannot encrypt the secret key";
  json_spirit::Object account = object_of(R"({"host": "127.0.0.1", "ssl": false, "locale": ""})");
  account["port"] = static_cast<int>(port);
  account["access_key"] = access_key;
  account["security_key"] = encoder.str();
  std::string error;
  Pool_Record pool;
  pool.uuid = pool_uuid;
  pool.name = "e2e pool";
  pool.url = "file://" + home + "/pool";
  ::mkdir((home + "/pool").c_str(), 0750);
  const bool stored = tavrocloud_accounts::store_account(cloud_uuid, account, &error) &&
                      Pool_Registry().add(pool, &error);
  return stored ? std::string() : error;
}

// What a job definition of the cloud jobs is made of.
struct Job_Spec {
  Job_Definition_Type type = JOB_DEFINITION_BACKUP;
  Job_Definition_Subtype subtype = JOB_DEFINITION_SUBTYPE_FULL;
  std::string id;
  std::string cloud_uuid;
  std::string pool_uuid;
  std::string source;   // JSON text
  std::string options;  // JSON text
  size_t retry_count = 0;
};

inline Job_Definition_var make_job_definition(const Job_Spec& spec) {
  using Doc = ACE_Refcounted_Auto_Ptr<tavrocloud::Job_Parameters, ACE_Thread_Mutex>;
  auto document = [](const std::string& json) {
    Doc doc(new tavrocloud::Job_Parameters);
    doc->value() = JSON_Load(json);
    doc->set_id(json_str(json, "id"));
    return doc;
  };
  Job_Definition_var def(new Job_Definition);
  def->set_type(spec.type);
  def->set_subtype(spec.subtype);
  def->set_id(spec.id);
  def->set_uid("6f2c7e0a-4b1d-4c3e-9a5f-0123456789ab");
  def->set_name("e2e job");
  def->set_host_id(spec.cloud_uuid);
  def->set_target(Job_Target(spec.pool_uuid, "e2e pool", ""));
  def->set_source(document(spec.source));
  def->set_options(document(spec.options));
  def->set_retry_count(spec.retry_count);
  def->set_retry_interval(0);
  return def;
}

// The outcome of one run.
struct Job_Run {
  bool completed = false;  // the job thread called complete() in time
  Job_Event_Record::Kind closing = Job_Event_Record::START;  // START when the run never closed
  std::string log;  // what the run logged, when its caller captured it

  Job_Event_Record::Kind outcome() const { return closing; }
};

// Starts `job` with `opts` (null for none) and waits up to `timeout_seconds` for its run
// to complete.
inline Job_Run run_job(Job& job, const Action_Options* opts, int timeout_seconds) {
  Job_Run run;
  const size_t events_before = job.events().size();
  run.completed = job.start(opts) == 0 && job.wait_complete(ACE_Time_Value(timeout_seconds));
  const std::vector<Job_Event_Record> all = job.events();
  if (all.size() > events_before) run.closing = all.back().kind;
  return run;
}

inline std::vector<unsigned long> alert_ids(const Job& job, int lowest_level = 0) {
  std::vector<unsigned long> ids;
  for (const auto& a : job.alerts())
    if (a.level >= lowest_level) ids.push_back(a.id);
  return ids;
}

// The restore entry of the set `set_uuid` (taken at `timepoint`) of the instance `src`
// ("i-X", named "vm-X", volumes "vol-X-root" and "vol-X-data" of 1 GiB) as a new instance
// `target_name`, or onto the instance `onto`, on the node `node` (none: the cloud chooses);
// with a main interface in sg-default and an extension without groups.
inline std::string restore_entry(const std::string& set_uuid, const std::string& timepoint,
                                 const std::string& src, const std::string& target_name,
                                 const std::string& onto = "",
                                 const std::string& node = "node-a1") {
  const std::string x = src.substr(2);
  const std::string nic = R"({"vpc_id": "vpc-prod", "vpc_name": "p", "subnet_id": "subnet-prod-a",
      "subnet_name": "a", "type": )";
  const std::string vol = R"(", "storage_id": "st-ceph-01", "storage_type": "ceph", "size": 1})";
  return R"({"catalog_uuid": ")" + set_uuid + R"(", "backup_start_time": ")" + timepoint +
         R"(", "src_instance_id": ")" + src + R"(", "src_instance_name": "vm-)" + x +
         R"(", "target_instance_name": ")" + target_name +
         (node.empty() ? R"(",)" : R"(", "target_node_id": ")" + node + R"(",)") +
         R"( "target_cluster_id": "cluster-a",)" +
         (onto.empty() ? "" : R"( "target_instance_id": ")" + onto + R"(",)") +
         R"( "flavor": {"type": "ts.small", "display_name": "small", "cpu": 1, "ram": 1024},
         "nic": [)" + nic + R"("main", "security_groups": [{"security_group_id": "sg-default",
         "security_group_name": "default"}]}, )" + nic + R"("extend"}],
         "volumes": [{"id": "vol-)" + x + R"(-root", "name": "root)" + vol + R"(,
         {"id": "vol-)" + x + R"(-data", "name": "data)" + vol + "]}";
}

}  // namespace test

#endif  // TESTS_E2E_JOB_DRIVER_H
