// Restore jobs end to end: an instance is backed up through the host's job engine, then
// restored by the restore job against the simulator with real loop devices: as a new
// instance on clouds with and without temporary snapshots, and onto an existing
// instance. Every restored volume must hold the source's bytes. Faults at the second
// attachment, at RunInstances and at a network interface must leave nothing behind and
// never touch the target instance.
#include "job_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using test::GIB;

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
    Job_var job = this->job<test::Backup_Job>(spec);
    const test::Job_Run run = this->run(*job);
    ASSERT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << run.log;
    const std::vector<Catalog_Entry> sets = catalog_sets();
    ASSERT_EQ(sets.size(), 1u);
    timepoint_ = sets[0].timepoint;
    set_uuid_ = sets[0].uuid;
    source_digests_ = {sim_->digest("vol-src-root"), sim_->digest("vol-src-data")};
  }

  std::string entry(const std::string& target_name, const std::string& onto = "", bool two_nics = false) const {
    return test::restore_entry(set_uuid_, timepoint_, "i-src", target_name, onto, two_nics);
  }

  // Runs a restore of `entry`; the run, its log in last_log_.
  Job_Event_Record::Kind restore(const std::string& entry_json, Job_Definition_Subtype subtype,
                                 Job_var* out = nullptr) {
    test::Job_Spec spec;
    spec.type = JOB_DEFINITION_RESTORE;
    spec.subtype = subtype;
    spec.id = "restore-e2e-" + std::to_string(++runs_);
    spec.source = R"({"id": "res-r", "name": "r", "entries": [)" + entry_json + "]}";
    spec.options = R"({"parallel_disks_per_vm": 1, "start_vm": true})";
    Job_var job = this->job<test::Restore_Job>(spec);
    const test::Job_Run run = this->run(*job);
    last_log_ = run.log;
    if (out != nullptr) *out = job;
    return run.outcome();
  }

  std::string leftovers() const { return sim_->get("/leftovers"); }

  std::string timepoint_, set_uuid_, last_log_;
  std::vector<std::string> source_digests_;  // root, data
  int runs_ = 0;
};

TEST_F(Restore_E2E, New_Instance_On_Both_Paths_And_Onto_An_Existing_Instance) {
  ASSERT_NO_FATAL_FAILURE(start_and_back_up());
  const auto SUCCESS = Job_Event_Record::SUCCESS;

  // Conversion path (temporary snapshots): history, restore path and totals as well.
  Job_var job;
  ASSERT_EQ(restore(entry("restored-new"), JOB_DEFINITION_SUBTYPE_VM, &job), SUCCESS) << last_log_;
  EXPECT_EQ(sim_->instance_digests("restored-new"), source_digests_);
  const json_spirit::Array history = job->result().at("tavrocloud").get_array();
  ASSERT_EQ(history.size(), 1u);
  const json_spirit::Object& h = history[0].get_obj();
  EXPECT_EQ(h.at("uuid").get_str() + " " + h.at("state").get_str(), "i-src completed");
  EXPECT_EQ(h.at("size").get_uint64(), 2 * GIB);
  ASSERT_EQ(job->restore_paths().size(), 1u);
  EXPECT_EQ(job->restore_paths()[0].pool_uuid, std::string(POOL));
  EXPECT_EQ(job->activity().size, 2 * GIB);
  EXPECT_GT(job->activity().set_size, 0u);
  EXPECT_EQ(job->activity().set_size, job->activity().set_storage_size);

  // Older cloud: snapshot path; its root snapshot and intermediate volume are removed.
  ASSERT_TRUE(sim_->post("/config", R"({"version": "V9.7"})"));
  ASSERT_EQ(restore(entry("restored-old"), JOB_DEFINITION_SUBTYPE_VM), SUCCESS) << last_log_;
  EXPECT_EQ(sim_->instance_digests("restored-old"), source_digests_);
  EXPECT_TRUE(test::object_of(leftovers())["snapshots"].get_array().empty()) << leftovers();

  // Onto the existing instance: two more volumes on it, same bytes.
  ASSERT_EQ(restore(entry("", "i-tgt"), JOB_DEFINITION_SUBTYPE_DISK), SUCCESS) << last_log_;
  EXPECT_EQ(sim_->instance_digests("i-tgt", "vol-tgt-"), source_digests_);
  json_spirit::Object left = test::object_of(leftovers());
  EXPECT_TRUE(left["tmp_snapshots"].get_array().empty() && left["loop_devices"].get_array().empty())
      << leftovers();
}

TEST_F(Restore_E2E, Faults_Leave_Nothing_Behind_And_Spare_The_Target) {
  ASSERT_NO_FATAL_FAILURE(start_and_back_up());
  const std::string before = leftovers();
  const std::vector<std::string> target = sim_->instance_digests("i-tgt");
  const struct {
    const char* fault;
    Job_Definition_Subtype subtype;
    const char* log;  // shows the run failed where the fault was
  } cases[] = {
      {R"({"action": "AttachVolume", "nth": 2, "kind": "error", "code": "InternalError",
           "message": "attach refused", "http_status": 500})", JOB_DEFINITION_SUBTYPE_DISK, "attach refused"},
      {R"({"action": "RunInstances", "kind": "error", "code": "InsufficientInstanceCapacity",
           "message": "no room", "http_status": 400})", JOB_DEFINITION_SUBTYPE_VM, "no room"},
      {R"({"action": "RunInstances", "kind": "end_status", "status": "error"})",
       JOB_DEFINITION_SUBTYPE_VM, "Failed to create new instance"},
      {R"({"action": "CreateNetworkInterface", "nth": 2, "kind": "error", "code": "InternalError",
           "message": "no interface", "http_status": 500})", JOB_DEFINITION_SUBTYPE_VM, "no interface"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    ASSERT_TRUE(sim_->post("/faults", c.fault));
    // Two interfaces, so that the second one can fail after the first was made.
    EXPECT_EQ(restore(entry("failed", "i-tgt", true), c.subtype), Job_Event_Record::FAILURE);
    EXPECT_NE(last_log_.find(c.log), std::string::npos) << last_log_;
    ASSERT_TRUE(sim_->post("/settle", "{}"));
    EXPECT_EQ(leftovers(), before);
    EXPECT_EQ(sim_->instance_status("i-tgt"), "running");
    EXPECT_EQ(sim_->instance_digests("i-tgt"), target);
    sim_->clear_faults();
  }
}

}  // namespace
