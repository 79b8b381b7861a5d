// Backup jobs end to end: the host's job engine runs the module's backup job against the
// simulator with real loop devices, into a real pool and catalog. Two instances of two
// volumes each are backed up on both paths (temporary snapshots from cloud 9.8 on,
// snapshot-made volumes before), then partial failures.
// After every run the images must decode to the volumes' bytes and nothing may be left
// in the cloud or the pool.
#include "job_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using test::GIB;
using States = std::map<std::string, std::string>;
using Volumes = std::set<std::string>;

// The waits poll the simulator, whose changes advance per poll: sleeps are not slept.
void no_sleep(unsigned int) {}

class Backup_E2E : public test::Cloud_Job_Test {
 protected:
  Backup_E2E() : Cloud_Job_Test(&no_sleep) {}

  // Nothing may be left in the cloud.
  void before_stop() override {
    EXPECT_TRUE(sim_->clean()) << "left behind in the cloud: " << sim_->get("/leftovers");
  }

  // Starts the simulator at `version` with i-a and i-b (in `b_status`).
  void start_cloud(const std::string& version, const std::string& b_status = "running") {
    ASSERT_NO_FATAL_FAILURE(Cloud_Job_Test::start_cloud(
        version, {test::seed_instance("a", "10.10.1.31"),
                  test::seed_instance("b", "10.10.1.32", b_status)}));
  }

  Job_var make_job(const std::string& options) const {
    test::Job_Spec spec;
    spec.id = "backup-e2e";
    spec.source = R"({"id": "res-e2e", "name": "e2e cloud",
                      "entries": [{"id": "cloud", "name": "all", "type": "Cloud"}]})";
    spec.options = options;
    return job<test::Backup_Job>(spec);
  }

  Volumes images_;

  // The history's state of each instance.
  static States history(const Job& job) {
    States out;
    const json_spirit::Object result = job.result();
    for (const json_spirit::Value& h : result.at("tavrocloud").get_array())
      out[h.get_obj().at("uuid").get_str()] = h.get_obj().at("state").get_str();
    return out;
  }

  // A run of `options` that succeeds with `alerts` and images of as many
  // volumes as it backs up: `images` (their volumes kept in images_), with their sets in
  // the catalog and nothing else in the pool, each image decoding to its volume's bytes.
  Job_var expect_run(const std::string& options, const std::vector<unsigned long>& alerts,
                     size_t images) {
    Job_var job = make_job(options);
    const test::Job_Run run = this->run(*job);
    EXPECT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << run.log;
    EXPECT_EQ(test::alert_ids(*job), alerts);
    EXPECT_EQ(pool_leftovers(), "");
    const std::map<std::string, std::string> pieces = catalog_pieces();
    images_.clear();
    for (const auto& piece : pieces) images_.insert(piece.second);
    EXPECT_EQ(images_.size(), images);
    EXPECT_EQ(pieces.size(), images);
    EXPECT_EQ(catalog_sets().size(), images / 2);
    EXPECT_EQ(job->activity().size, images * GIB);
    return job;
  }

  // A whole successful backup of both instances with `alerts`, checked from every side.
  void back_up_both(const std::string& options, const std::vector<unsigned long>& alerts = {}) {
    Job_var job = expect_run(options, alerts, 4);
    EXPECT_EQ(history(*job), (States{{"i-a", "completed"}, {"i-b", "completed"}}));
    EXPECT_EQ(images_, (Volumes{"vol-a-root", "vol-a-data", "vol-b-root", "vol-b-data"}));
    EXPECT_EQ(job->activity().set_size, 4 * GIB);
    EXPECT_GT(job->activity().set_storage_size, 0u);
    const auto progress = job->progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(progress.back().final);
    for (const VM_Job_Progress& p : progress.back().progresses) {
      EXPECT_TRUE(p.state == VM_Job_Progress::STATE_COMPLETED &&
                  p.processed_bytes == p.total_bytes && p.processed_virtual_disk_count == 2u)
          << p.uuid;
    }
    EXPECT_EQ(sim_->instance_status("i-a") + " " + sim_->instance_status("i-b"), "running running");
  }
};

TEST_F(Backup_E2E, Temporary_Snapshots_Of_Two_Instances) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  back_up_both(R"({"parallel_vms": 2, "parallel_disks_per_vm": 2})");
}

// Without temporary snapshots, and with "restart_vm": each instance is stopped for its
// backup (a warning in the log, no alert) and started afterwards, also the one that was
// stopped before.
TEST_F(Backup_E2E, Snapshot_Volumes_With_Power_Cycle) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.7", "stopped"));
  back_up_both(R"({"parallel_vms": 2, "restart_vm": true})");
}

// One instance's handler fails: its login is refused, a cloud change it makes is
// accepted but ends in error, or its record cannot be made after the upload. The job
// succeeds with alert 10 naming one failed instance; whatever that handler made in the
// cloud is removed all the same, also the resource whose change failed (before_stop
// checks the leftovers), and only the other instance's images and record stay in the pool.
struct Cloud_Fault {
  std::string name;  // the action that fails
  const char* version;
  std::vector<unsigned long> alerts;
  std::string fault = "";  // the fault; empty: the action's second call ends in error
};
void PrintTo(const Cloud_Fault& f, std::ostream* os) { *os << f.name; }
class Backup_E2E_Faults : public Backup_E2E, public ::testing::WithParamInterface<Cloud_Fault> {};

TEST_P(Backup_E2E_Faults, One_Instance_Fails_And_Leaves_Nothing) {
  const Cloud_Fault& p = GetParam();
  ASSERT_NO_FATAL_FAILURE(start_cloud(p.version));
  const std::string fault = !p.fault.empty() ? p.fault : R"({"action": ")" + p.name +
      R"(", "nth": 2, "kind": "end_status", "status": "error"})";
  ASSERT_TRUE(sim_->post("/faults", fault));
  Job_var job = expect_run(R"({"parallel_vms": 1})", p.alerts, 2);
  ASSERT_FALSE(job->alerts().empty());
  EXPECT_EQ(JSON_Dump(job->alerts().back().args), "[1]");
  // One instance completed, the other not; the history's stored bytes are what the pool
  // holds of each: none of the failed one, whose images (if any) were removed.
  std::string states;
  const json_spirit::Object result = job->result();
  for (const json_spirit::Value& h : result.at("tavrocloud").get_array()) {
    const json_spirit::Object& o = h.get_obj();
    const bool completed = o.at("state").get_str() == "completed";
    states += completed ? "+" : "-";
    EXPECT_EQ(o.at("storaged_size").get_uint64() > 0, completed) << JSON_Dump(h);
  }
  EXPECT_TRUE(states == "+-" || states == "-+") << states;
}

INSTANTIATE_TEST_SUITE_P(
    Changes, Backup_E2E_Faults,
    ::testing::Values(
        Cloud_Fault{"Login", "V9.8", {1, 10},
                    R"({"action": "GetCloudVersion", "nth": 2, "kind": "error",
                        "code": "AuthFailure", "message": "keys refused", "http_status": 401})"},
        Cloud_Fault{"CreateTmpSnapshots", "V9.8", {8, 10}},
        Cloud_Fault{"AttachTmpSnapshot", "V9.8", {10}},
        Cloud_Fault{"BackupInstance", "V9.7", {10},
                    R"({"action": "BackupInstance", "kind": "end_status", "status": "error"})"},
        Cloud_Fault{"CreateVolume", "V9.7", {10}}, Cloud_Fault{"AttachVolume", "V9.7", {10}},
        // After both images were uploaded: the record cannot be made.
        Cloud_Fault{"DescribeNetworkInterfaces", "V9.8", {10},
                    R"({"action": "DescribeNetworkInterfaces", "kind": "error"})"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
