// Backup jobs end to end: the host's job engine runs the module's backup job against the
// simulator with real loop devices, into a real pool and catalog. Two instances of two
// volumes each are backed up on both paths (temporary snapshots from cloud 9.8 on,
// snapshot-made volumes before), then a cancelled run, a retry run and a partial failure.
// After every run the images must decode to the volumes' bytes and nothing may be left
// in the cloud or the pool.
#include "catalog/restful_catalog_operator.h"
#include "content_digest.h"
#include "job/controllable_job_t.h"
#include "job_fixture.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "support/log_capture.h"
#include "tavrocloud/job/backup_executor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Backup_Job = Controllable_Job_T<tavrocloud::Backup_Executor>;

const uint64_t GIB = 1ull << 30;
const std::map<std::string, std::vector<std::string>> VOLUMES = {
    {"i-vma", {"vol-a-root", "vol-a-data"}}, {"i-vmb", {"vol-b-root", "vol-b-data"}}};

// The waits poll the simulator, whose changes advance per poll: sleeps are not slept. A
// test may ask for its job to be cancelled at the first wait of the run.
std::atomic<Job*> cancel_at_first_sleep{nullptr};
void no_sleep(unsigned int) {
  Job* job = cancel_at_first_sleep.exchange(nullptr);
  if (job != nullptr) job->stop();
}

class Backup_E2E : public test::Cloud_Job_Test {
 protected:
  Backup_E2E() : Cloud_Job_Test(&no_sleep) {}

  // Nothing may be left in the cloud, nor an unfinished file in the pool.
  void before_stop() override {
    const std::string left = sim_->get("/leftovers");
    const json_spirit::Object leftovers = test::object_of(left);
    const auto it = leftovers.find("clean");
    EXPECT_TRUE(it != leftovers.end() && it->second == json_spirit::Value(true))
        << "left behind in the cloud: " << left;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(home_->dir() + "/pool", ec))
      EXPECT_NE(entry.path().filename().string().front(), '.')
          << "unfinished file left in the pool: " << entry.path();
  }

  // Starts the simulator at `version` with the two instances (vm-b in `vmb_status`).
  void start_cloud(const std::string& version, const std::string& vmb_status) {
    json_spirit::Array instances;
    for (const auto& vm : VOLUMES) {
      const std::string letter(1, vm.first.back());
      instances.push_back(test::seed_instance(vm.first, "vm-" + letter,
                                              letter == "b" ? vmb_status : "running",
                                              "10.10.1.3" + letter, vm.second[0], vm.second[1]));
    }
    ASSERT_NO_FATAL_FAILURE(Cloud_Job_Test::start_cloud(version, instances));
  }

  Job_var make_job(const std::string& options) {
    test::Job_Spec spec;
    spec.id = "backup-e2e";
    spec.source = R"({"id": "res-e2e", "name": "e2e cloud",
                      "entries": [{"id": "cloud", "name": "all", "type": "Cloud"}]})";
    spec.options = options;
    return Job_var(new Backup_Job(definition(spec)));
  }

  // Every image in the pool must decode to its volume's bytes; the volumes with images.
  std::set<std::string> check_images() {
    std::set<std::string> volumes;
    const std::string root = home_->dir() + "/pool";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().filename();
      std::string volume;
      for (const auto& vm : VOLUMES)
        for (const std::string& v : vm.second)
          if (name.find("-" + v + "-") != std::string::npos) volume = v;
      EXPECT_FALSE(volume.empty()) << "unknown image " << name;
      if (volume.empty()) continue;
      volumes.insert(volume);
      EXPECT_EQ(image_digest(root, fs::relative(entry.path(), root)), sim_digest(volume)) << name;
    }
    return volumes;
  }

  std::string image_digest(const std::string& root, const std::string& path) {
    Client_IO_Ex io;
    if (!io.connect("file://" + root, Client_IO_Base::Options()) ||
        !io.open(path, Client_IO_Base::MODE_READ, 0, 0))
      return std::string("cannot open ") + io.error();
    test::Digest digest(GIB);
    Image_Block_Reader reader;
    const bool ok = reader.read_blocks_align(
        io,
        [&digest](const char* data, size_t length, int64_t offset) {
          digest.feed(data, length, static_cast<uint64_t>(offset));
          return true;
        },
        131072);
    return ok ? digest.hex() : "damaged image " + path;
  }

  std::string instance_status(const std::string& id) {
    tavrocloud::Instance instance;
    if (!cloud_client()->query_instance(id, instance)) return "?";
    return tavrocloud::status_to_name(instance.status);
  }

  size_t catalog_sets() {
    RESTful_Catalog_Operator catalog("127.0.0.1", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> sets;
    EXPECT_TRUE(catalog.list("tavro", sets));
    return sets.size();
  }

  // The history's state of each instance.
  static std::map<std::string, std::string> history(const Job& job) {
    std::map<std::string, std::string> out;
    const auto result = job.result();
    const auto it = result.find("tavrocloud");
    if (it == result.end() || it->second.type() != json_spirit::array_type) return out;
    for (const json_spirit::Value& h : it->second.get_array())
      out[h.get_obj().at("uuid").get_str()] = h.get_obj().at("state").get_str();
    return out;
  }

  static std::vector<unsigned long> alert_ids(const Job& job) {
    std::vector<unsigned long> ids;
    for (const auto& a : job.alerts()) ids.push_back(a.id);
    return ids;
  }

  // A whole successful backup of both instances, checked from every side.
  void back_up_both(const std::string& options, const std::string& vmb_before) {
    test::Log_Capture log;
    Job_var job = make_job(options);
    const test::Job_Run run = test::run_job(*job, nullptr, 600);
    ASSERT_TRUE(run.completed);
    EXPECT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << log.text();
    EXPECT_TRUE(alert_ids(*job).empty());
    EXPECT_EQ(history(*job), (std::map<std::string, std::string>{{"i-vma", "completed"},
                                                                 {"i-vmb", "completed"}}));
    EXPECT_EQ(check_images(), (std::set<std::string>{"vol-a-root", "vol-a-data", "vol-b-root",
                                                     "vol-b-data"}));
    EXPECT_EQ(catalog_sets(), 2u);
    const Job_Activity& act = job->activity();
    EXPECT_EQ(act.size, 4 * GIB);
    EXPECT_EQ(act.set_size, 4 * GIB);
    EXPECT_GT(act.set_storage_size, 0u);
    const auto progress = job->progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(progress.back().final);
    for (const VM_Job_Progress& p : progress.back().progresses) {
      EXPECT_EQ(p.state, VM_Job_Progress::STATE_COMPLETED) << p.uuid;
      EXPECT_EQ(p.processed_bytes, p.total_bytes) << p.uuid;
      EXPECT_EQ(p.processed_virtual_disk_count, 2u) << p.uuid;
    }
    EXPECT_EQ(instance_status("i-vma"), "running");
    EXPECT_EQ(instance_status("i-vmb"), vmb_before == "stopped" ? "running" : vmb_before);
  }

};

TEST_F(Backup_E2E, Temporary_Snapshots_Of_Two_Instances) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8", "running"));
  back_up_both(R"({"parallel_vms": 2, "parallel_disks_per_vm": 2})", "running");
}

// Without temporary snapshots, and with "restart_vm": each instance is stopped for its
// backup and started afterwards, also the one that was stopped before.
TEST_F(Backup_E2E, Snapshot_Volumes_With_Power_Cycle) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.7", "stopped"));
  back_up_both(R"({"parallel_vms": 2, "restart_vm": true})", "stopped");
}

TEST_F(Backup_E2E, Cancelled_Run_Leaves_Nothing) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8", "running"));
  test::Log_Capture log;
  Job_var job = make_job(R"({"parallel_vms": 1})");
  cancel_at_first_sleep = job.get();
  const test::Job_Run run = test::run_job(*job, nullptr, 600);
  cancel_at_first_sleep = nullptr;
  ASSERT_TRUE(run.completed);
  EXPECT_EQ(run.outcome(), Job_Event_Record::CANCELED) << log.text();
  EXPECT_TRUE(check_images().empty());
  EXPECT_EQ(catalog_sets(), 0u);
  EXPECT_EQ(job->activity().size, 0u);
}

TEST_F(Backup_E2E, Retry_Run_Backs_Up_Only_The_Named_Instance) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8", "running"));
  Job_var job = make_job("{}");
  Action_Options opts;
  opts[ACTION_OPTION_RETRY_ENTRIES] =
      JSON_Load(R"([{"id": "i-vmb", "type": "VirtualMachine"}, {"id": "vol-a-root", "type": "Volume"}])");
  test::Log_Capture log;
  const test::Job_Run run = test::run_job(*job, &opts, 600);
  ASSERT_TRUE(run.completed);
  EXPECT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << log.text();
  EXPECT_EQ(history(*job), (std::map<std::string, std::string>{{"i-vma", "skipped"},
                                                               {"i-vmb", "completed"}}));
  EXPECT_TRUE(log.contains("(succeeded/total): 2/2."));
  EXPECT_EQ(check_images(), (std::set<std::string>{"vol-b-root", "vol-b-data"}));
  EXPECT_EQ(catalog_sets(), 1u);
  EXPECT_EQ(job->activity().size, 2 * GIB);
}

// The first instance's handler cannot log in: the job succeeds with alert 10 naming one
// failed instance, and only the other instance's images and record remain.
TEST_F(Backup_E2E, Partial_Failure_Raises_Alert_10) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8", "running"));
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "GetCloudVersion", "nth": 2, "kind": "error",
      "code": "AuthFailure", "message": "keys refused", "http_status": 401})"));
  Job_var job = make_job(R"({"parallel_vms": 1})");
  test::Log_Capture log;
  const test::Job_Run run = test::run_job(*job, nullptr, 600);
  ASSERT_TRUE(run.completed);
  EXPECT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << log.text();
  EXPECT_EQ(alert_ids(*job), (std::vector<unsigned long>{1, 10}));
  EXPECT_EQ(JSON_Dump(job->alerts().back().args), "[1]");
  const auto states = history(*job);
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(std::count_if(states.begin(), states.end(),
                          [](const auto& s) { return s.second == "completed"; }),
            1);
  EXPECT_EQ(check_images().size(), 2u);
  EXPECT_EQ(catalog_sets(), 1u);
  EXPECT_EQ(job->activity().size, 2 * GIB);
}

// A cloud change that is accepted but ends in error (a creation or an attachment) fails
// that instance only; whatever its handler made in the cloud is removed all the same,
// also the resource whose change failed (TearDown checks the leftovers), and none of
// its images stay in the pool.
struct Cloud_Fault {
  const char* version;
  const char* action;
  int nth;
};
void PrintTo(const Cloud_Fault& f, std::ostream* os) { *os << f.version << " " << f.action; }

class Backup_E2E_Faults : public Backup_E2E, public ::testing::WithParamInterface<Cloud_Fault> {};

TEST_P(Backup_E2E_Faults, Failed_Cloud_Change_Leaves_Nothing) {
  const Cloud_Fault& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(start_cloud(c.version, "running"));
  ASSERT_TRUE(sim_->post("/faults", std::string(R"({"action": ")") + c.action + R"(", "nth": )" +
                                        std::to_string(c.nth) +
                                        R"(, "kind": "end_status", "status": "error"})"));
  Job_var job = make_job(R"({"parallel_vms": 1})");
  test::Log_Capture log;
  const test::Job_Run run = test::run_job(*job, nullptr, 600);
  ASSERT_TRUE(run.completed);
  EXPECT_EQ(run.outcome(), Job_Event_Record::SUCCESS) << log.text();
  EXPECT_EQ(alert_ids(*job).back(), 10u);
  EXPECT_EQ(check_images().size(), 2u);
  EXPECT_EQ(catalog_sets(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Changes, Backup_E2E_Faults,
                         ::testing::Values(Cloud_Fault{"V9.8", "CreateTmpSnapshots", 2},
                                           Cloud_Fault{"V9.8", "AttachTmpSnapshot", 2},
                                           Cloud_Fault{"V9.7", "BackupInstance", 1},
                                           Cloud_Fault{"V9.7", "CreateVolume", 2},
                                           Cloud_Fault{"V9.7", "AttachVolume", 2}),
                         [](const ::testing::TestParamInfo<Cloud_Fault>& info) {
                           return std::string(info.param.action);
                         });

}  // namespace
