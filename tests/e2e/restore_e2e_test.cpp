// Restore jobs end to end: an instance is backed up through the host's job engine, then
// restored by the restore job against the simulator with real loop devices: as a new
// instance on clouds with and without temporary snapshots, and onto an existing
// instance. Every restored volume must hold the source's bytes. Faults at the second
// attachment, at RunInstances and at a network interface must leave nothing behind and
// never touch the target instance.
#include "catalog/restful_catalog_operator.h"
#include "job/controllable_job_t.h"
#include "job_fixture.h"
#include "json/json_dump.h"
#include "support/log_capture.h"
#include "tavrocloud/job/backup_executor.h"
#include "tavrocloud/job/restore_executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Backup_Job = Controllable_Job_T<tavrocloud::Backup_Executor>;
using Restore_Job = Controllable_Job_T<tavrocloud::Restore_Executor>;

const uint64_t GIB = 1ull << 30;

void no_sleep(unsigned int) {}

class Restore_E2E : public test::Cloud_Job_Test {
 protected:
  Restore_E2E() : Cloud_Job_Test(&no_sleep) {}

  // The simulator with the agent, the instance "i-src" (a root and a data volume) and
  // the running instance "i-tgt"; then a backup of i-src, whose set is remembered.
  void start_and_back_up() {
    ASSERT_NO_FATAL_FAILURE(start_cloud(
        "V9.8", {test::seed_instance("i-src", "vm-src", "running", "10.10.1.31", "vol-src-root", "vol-src-data"),
                 test::seed_instance("i-tgt", "vm-tgt", "running", "10.10.1.32", "vol-tgt-root", "vol-tgt-data")}));
    test::Job_Spec spec;
    spec.id = "backup-for-restore";
    spec.source = R"({"id": "res-r", "name": "r", "entries": [{"id": "i-src", "name": "vm-src",
                      "type": "Instance"}]})";
    spec.options = R"({"parallel_disks_per_vm": 2})";
    test::Log_Capture log;
    Job_var job(new Backup_Job(definition(spec)));
    const test::Job_Run run = test::run_job(*job, nullptr, 600);
    ASSERT_TRUE(run.completed);
    ASSERT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << log.text();
    RESTful_Catalog_Operator catalog("127.0.0.1", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> sets;
    ASSERT_TRUE(catalog.list("tavro", sets));
    ASSERT_EQ(sets.size(), 1u);
    timepoint_ = sets[0].timepoint;
    set_uuid_ = sets[0].uuid;
    source_digests_ = {sim_digest("vol-src-root"), sim_digest("vol-src-data")};
    std::sort(source_digests_.begin(), source_digests_.end());
  }

  static constexpr const char* MAIN_NIC =
      R"([{"vpc_id": "vpc-prod", "vpc_name": "production", "subnet_id": "subnet-prod-a",
           "subnet_name": "prod-a", "type": "main",
           "security_groups": [{"security_group_id": "sg-default",
                                "security_group_name": "default"}]}])";

  std::string entry(const std::string& target_name, const std::string& extra = "",
                    const std::string& nics = MAIN_NIC) const {
    return R"({"catalog_uuid": ")" + set_uuid_ + R"(", "backup_start_time": ")" + timepoint_ +
           R"(", "src_instance_id": "i-src", "src_instance_name": "vm-src",
           "target_instance_name": ")" + target_name + R"(", "target_node_id": "node-a1",
           "target_cluster_id": "cluster-a",
           "flavor": {"type": "ts.small", "display_name": "small", "cpu": 1, "ram": 1024},
           "nic": )" + nics + R"(,
           "volumes": [{"id": "vol-src-root", "name": "root", "storage_id": "st-ceph-01",
                        "storage_type": "ceph", "size": 1},
                       {"id": "vol-src-data", "name": "data", "storage_id": "st-ceph-01",
                        "storage_type": "ceph", "size": 1}])" + extra + "}";
  }

  // Runs a restore of `entry`; true when it succeeded.
  bool restore(const std::string& entry_json, Job_Definition_Subtype subtype, Job_var* out = nullptr) {
    test::Job_Spec spec;
    spec.type = JOB_DEFINITION_RESTORE;
    spec.subtype = subtype;
    spec.id = "restore-e2e-" + std::to_string(++runs_);
    spec.source = R"({"id": "res-r", "name": "r", "entries": [)" + entry_json + "]}";
    spec.options = R"({"parallel_disks_per_vm": 1, "start_vm": true})";
    test::Log_Capture log;
    Job_var job(new Restore_Job(definition(spec)));
    const test::Job_Run run = test::run_job(*job, nullptr, 600);
    EXPECT_TRUE(run.completed);
    if (out != nullptr) *out = job;
    const bool ok = run.outcome() == Job_Event_Record::SUCCESS;
    if (!ok) last_log_ = log.text();
    return ok;
  }

  tavrocloud::RESTful_Client& client() {
    if (client_ == nullptr) client_ = cloud_client();
    return *client_;
  }

  // The digests of the volumes attached to `instance_id`, sorted.
  std::vector<std::string> instance_digests(const std::string& instance_id) {
    tavrocloud::Volumes volumes;
    EXPECT_TRUE(client().query_instance_volumes(instance_id, volumes));
    std::vector<std::string> out;
    for (const auto& v : volumes) out.push_back(sim_digest(v.id));
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string instance_id(const std::string& name) {
    tavrocloud::Instances found;
    if (!client().query_instances_by_name(name, found)) return "";
    tavrocloud::RESTful_Client::filter_instances_by_status(found, tavrocloud::TERMINATED, false);
    return found.size() == 1 ? found[0].id : "";
  }

  json_spirit::Object leftovers() const { return test::object_of(sim_->get("/leftovers")); }

  std::unique_ptr<tavrocloud::RESTful_Client> client_;
  std::string timepoint_, set_uuid_, last_log_;
  std::vector<std::string> source_digests_;  // sorted
  int runs_ = 0;
};

TEST_F(Restore_E2E, New_Instance_On_Both_Paths_And_Onto_An_Existing_Instance) {
  ASSERT_NO_FATAL_FAILURE(start_and_back_up());
  const std::vector<std::string>& want = source_digests_;

  // Conversion path (temporary snapshots): history, restore path and totals as well.
  Job_var job;
  ASSERT_TRUE(restore(entry("restored-new"), JOB_DEFINITION_SUBTYPE_VM, &job)) << last_log_;
  const std::string made = instance_id("restored-new");
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(instance_digests(made), want);
  const json_spirit::Object result = job->result();
  const json_spirit::Value& history = result.at("tavrocloud");
  ASSERT_EQ(history.get_array().size(), 1u);
  const json_spirit::Object& h = history.get_array()[0].get_obj();
  EXPECT_EQ(h.at("uuid").get_str() + " " + h.at("state").get_str(), "i-src completed");
  EXPECT_EQ(h.at("size").get_uint64(), 2 * GIB);
  ASSERT_EQ(job->restore_paths().size(), 1u);
  EXPECT_EQ(job->restore_paths()[0].pool_uuid, std::string(POOL));
  EXPECT_EQ(job->activity().size, 2 * GIB);
  EXPECT_GT(job->activity().set_size, 0u);
  EXPECT_EQ(job->activity().set_size, job->activity().set_storage_size);

  // Older cloud: snapshot path; its root snapshot and intermediate volume are removed.
  ASSERT_TRUE(sim_->post("/config", R"({"version": "V9.7"})"));
  ASSERT_TRUE(restore(entry("restored-old"), JOB_DEFINITION_SUBTYPE_VM)) << last_log_;
  const std::string old = instance_id("restored-old");
  ASSERT_FALSE(old.empty());
  EXPECT_EQ(instance_digests(old), want);
  EXPECT_TRUE(leftovers().at("snapshots").get_array().empty()) << JSON_Dump(leftovers());

  // Onto the existing instance: two more volumes on it, same bytes.
  ASSERT_TRUE(restore(entry("", R"(, "target_instance_id": "i-tgt")"), JOB_DEFINITION_SUBTYPE_DISK))
      << last_log_;
  tavrocloud::Volumes on_target;
  ASSERT_TRUE(client().query_instance_volumes("i-tgt", on_target));
  std::vector<std::string> restored;
  for (const auto& v : on_target)
    if (v.id.compare(0, 8, "vol-tgt-") != 0) restored.push_back(sim_digest(v.id));
  std::sort(restored.begin(), restored.end());
  EXPECT_EQ(restored, want);
  const json_spirit::Object left = leftovers();
  EXPECT_TRUE(left.at("tmp_snapshots").get_array().empty());
  EXPECT_TRUE(left.at("loop_devices").get_array().empty()) << JSON_Dump(left);
}

TEST_F(Restore_E2E, Faults_Leave_Nothing_Behind_And_Spare_The_Target) {
  ASSERT_NO_FATAL_FAILURE(start_and_back_up());
  const std::string before = JSON_Dump(leftovers());
  struct Case {
    const char* fault;
    Job_Definition_Subtype subtype;
    const char* log;  // shows the run failed where the fault was
  } cases[] = {
      {R"({"action": "AttachVolume", "nth": 2, "kind": "error", "code": "InternalError",
           "message": "attach refused", "http_status": 500})", JOB_DEFINITION_SUBTYPE_DISK,
       "attach refused"},
      {R"({"action": "RunInstances", "kind": "error", "code": "InsufficientInstanceCapacity",
           "message": "no room", "http_status": 400})", JOB_DEFINITION_SUBTYPE_VM, "no room"},
      {R"({"action": "RunInstances", "kind": "end_status", "status": "error"})",
       JOB_DEFINITION_SUBTYPE_VM, "Failed to create new instance"},
      {R"({"action": "CreateNetworkInterface", "nth": 2, "kind": "error", "code": "InternalError",
           "message": "no interface", "http_status": 500})", JOB_DEFINITION_SUBTYPE_VM,
       "no interface"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(sim_->post("/faults", c.fault));
    // Two interfaces, so that the second one can fail after the first was made.
    const std::string two_nics = R"([{"vpc_id": "vpc-prod", "vpc_name": "p",
        "subnet_id": "subnet-prod-a", "subnet_name": "a", "type": "main"},
        {"vpc_id": "vpc-prod", "vpc_name": "p", "subnet_id": "subnet-prod-a",
         "subnet_name": "a", "type": "extend"}])";
    EXPECT_FALSE(restore(entry("failed", R"(, "target_instance_id": "i-tgt")", two_nics), c.subtype));
    EXPECT_NE(last_log_.find(c.log), std::string::npos) << last_log_;
    ASSERT_TRUE(sim_->post("/settle", "{}"));
    EXPECT_EQ(JSON_Dump(leftovers()), before);
    tavrocloud::Instance target;
    ASSERT_TRUE(client().query_instance("i-tgt", target));
    EXPECT_EQ(target.status, tavrocloud::RUNNING);
    tavrocloud::Volumes volumes;
    ASSERT_TRUE(client().query_instance_volumes("i-tgt", volumes));
    EXPECT_EQ(volumes.size(), 2u);
    std::string body;
    sim_->control("DELETE", "/faults", "", body);
  }
}

}  // namespace
