#include "tavrocloud/job/instance_backup_handler.h"

#include "fixtures.h"
#include "host/pool/pool_test_env.h"
#include "json/json_dump.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "pool/pool_file_system.h"
#include "support/latch.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tavrocloud {

// Drives the volume upload of a handler against a real pool, with files as devices.
class Instance_Backup_Handler_Test : public ::testing::Test {
 protected:
  static constexpr uint64_t GIB = 1ULL << 30;

  Instance_Backup_Handler_Test() {
    EXPECT_EQ(open_progress_record(record_, "upload-def", "i/1", true), 0);
    params_.base.def_id = "upload-def";
    params_.base.retry_internal = 1;
    params_.pool_url = env_.url();
    params_.backup_instance.instance_id = "i/1";
  }

  // A sparse device file of one GiB (or `bytes`) for volume `n`.
  void add_volume(int n, uint64_t bytes = GIB) {
    Volume_Backup_Info v;
    v.vol_id = "v-" + std::to_string(n);
    v.size = 1;
    v.attached_dev_name = env_.dir() + "/dev" + std::to_string(n);
    v.storage_file_path = "run/i_1";
    v.storage_file_name = "img-" + std::to_string(n);
    pool_test::write_file(v.attached_dev_name, "");
    ASSERT_EQ(::truncate(v.attached_dev_name.c_str(), static_cast<off_t>(bytes)), 0);
    params_.backup_instance.backup_vols.push_back(v);
  }

  bool upload(Instance_Backup_Handler& h) { return h.open_records() && h.backup_volumes(); }
  // Ends a handler's run after its upload as backup() does: its set kept or not.
  void end_run(Instance_Backup_Handler& h, bool kept) {
    if (!kept) h.remove_uploaded_images();
  }
  // Powers off a handler's instance "i/1", found "stopping", through `cloud`; whether it
  // asks for a retry then.
  bool power_off_stopping(test::Scripted_Cloud& cloud, bool& retry) {
    Instance_Backup_Handler handler(*job_, params_);
    if (!handler.open_records()) return false;
    handler.client_ = std::make_unique<RESTful_Client>();
    cloud.login(*handler.client_);
    handler.instance_.id = "i/1";
    handler.instance_.status = STOPPING;
    handler.retry_ = true;
    const bool ok = handler.power_off();
    retry = handler.retry_;
    return ok;
  }
  // Powers off a handler's running instance "i/1" ("web", its volume "v-1" on "st-1"),
  // through `cloud`.
  bool power_off_running(test::Scripted_Cloud& cloud) {
    Instance_Backup_Handler handler(*job_, params_);
    handler.client_ = std::make_unique<RESTful_Client>();
    cloud.login(*handler.client_);
    handler.instance_.id = "i/1";
    handler.instance_.name = "web";
    handler.instance_.status = RUNNING;
    handler.instance_.volumes.emplace_back();
    handler.instance_.volumes.back().id = "v-1";
    handler.instance_.volumes.back().storage_id = "st-1";
    return handler.power_off();
  }
  // Backs up, without temporary snapshots, a handler's instance of two volumes of which
  // the source selects one, through `cloud`; whether it asks for a retry then.
  bool back_up_selection_without_tmp_snapshots(test::Scripted_Cloud& cloud, bool& retry) {
    Instance_Backup_Handler handler(*job_, params_);
    handler.client_ = std::make_unique<RESTful_Client>();
    cloud.login(*handler.client_);
    handler.instance_.volumes.resize(2);
    handler.params_.backup_instance.backup_vols.resize(1);
    handler.retry_ = true;
    const bool ok = handler.backup_legacy();
    retry = handler.retry_;
    return ok;
  }
  // Checks the reserved space of a handler whose instance has a volume on "st-1", through
  // `cloud`.
  bool check_storage(test::Scripted_Cloud& cloud) {
    Instance_Backup_Handler handler(*job_, params_);
    handler.client_ = std::make_unique<RESTful_Client>();
    cloud.login(*handler.client_);
    handler.instance_.volumes.emplace_back();
    handler.instance_.volumes.back().storage_id = "st-1";
    return handler.check_storage();
  }
  std::string images() const { return pool_test::list_dir(env_.root() + "/run/i_1"); }

  pool_test::Pool_Env env_;  // first: the home every record below lives in
  Job_var job_ = test::make_job("upload-def", JOB_DEFINITION_BACKUP);
  Instance_Mem_Map_Handle record_;
  Backup_Params params_;
};

// The pool's file system, holding every image it creates at a gate until the test opens
// it: the uploads under way wait there together.
class Gated_File_System : public Pool_File_System {
 public:
  Gated_File_System() : previous_(install(this)) {}
  ~Gated_File_System() override { install(previous_); }
  int open_unnamed(const char* dir, mode_t mode) override {
    two.count_down();
    three.count_down();
    gate.wait();
    return Pool_File_System::open_unnamed(dir, mode);
  }

  test::Latch two{2}, three{3}, gate;  // uploads arrived; the gate

 private:
  Pool_File_System* previous_;
};

// Two uploads run at once, and a third starts only when one of them ends. The scheduler
// starts one upload per pass, and passes come every two or three seconds while the
// uploads are held: a third would start within four seconds.
TEST_F(Instance_Backup_Handler_Test, UploadsInParallelUpToTheBound) {
  for (int n = 0; n < 3; ++n) add_volume(n);
  params_.base.parallel_disks_per_vm = 2;
  Instance_Backup_Handler handler(*job_, params_);
  Gated_File_System pool_fs;
  std::future<bool> ok = std::async(std::launch::async, [&] { return upload(handler); });
  EXPECT_TRUE(pool_fs.two.wait());
  EXPECT_FALSE(pool_fs.three.wait(std::chrono::seconds(4)));
  pool_fs.gate.open();
  EXPECT_TRUE(ok.get());
  EXPECT_EQ(images(), "img-0 img-1 img-2");
  EXPECT_EQ(record_->processed_size.load(), 3 * GIB);
  EXPECT_EQ(record_->processed_volume_num.load(), 3u);
}

// The pool's file system failing its first fsync with EIO.
class Fsync_Fails_Once : public Pool_File_System {
 public:
  Fsync_Fails_Once() : previous_(install(this)) {}
  ~Fsync_Fails_Once() override { install(previous_); }
  int fsync(int fd) override {
    if (failed_) return Pool_File_System::fsync(fd);
    failed_ = true;
    errno = EIO;
    return -1;
  }

 private:
  bool failed_ = false;
  Pool_File_System* previous_;
};

// A volume that fails its runs (all of them: the pool faults of the end-to-end tests
// show a re-run that succeeds) leaves no image and no progress, the others stay; an
// image already at the path (another volume's, whose safe name meets this one's) is
// never removed. A volume whose re-run succeeds is counted once; a failed one is re-run
// as often as the job's retry count says.
TEST_F(Instance_Backup_Handler_Test, FailedUploadsLeaveOnlyWhatSucceeded) {
  const std::string dir = env_.root() + "/run/i_1", img = dir + "/img-0";
  const struct {
    const char* name;
    uint64_t second;  // the bytes of a second volume's device; 0: one volume
    bool taken;       // another file at the first image's path
    uint64_t processed;
    size_t second_runs;                          // how often the second volume was read
    size_t retry_count = 1, retry_interval = 1;  // the job's re-runs of a failed volume
    bool sync_fails_once = false;                // the pool fails the first image's sync, once
  } cases[] = {
      {"the second device ends half way", GIB / 2, false, GIB, 2},
      {"the same, three re-runs without a pause", GIB / 2, false, GIB, 4, 3, 0},
      {"another image at the path", 0, true, 0, 0, 0},
      {"the image's sync fails once, its re-run succeeds", 0, false, GIB, 0, 1, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<Fsync_Fails_Once> sync_fault;
    if (c.sync_fails_once) sync_fault = std::make_unique<Fsync_Fails_Once>();
    const std::string reset = "rm -rf " + dir + " && mkdir -p " + dir;
    ASSERT_EQ(::system((reset + (c.taken ? " && echo other > " + img : "")).c_str()), 0);
    params_.backup_instance.backup_vols.clear();
    add_volume(0);
    if (c.second != 0) add_volume(1, c.second);
    params_.base.retry_count = c.retry_count;
    params_.base.retry_internal = c.retry_interval;
    record_->processed_size = 0;
    Instance_Backup_Handler handler(*job_, params_);
    test::Log_Capture log;
    EXPECT_EQ(upload(handler), c.sync_fails_once);
    EXPECT_EQ(images(), "img-0");
    EXPECT_EQ(record_->processed_size.load(), c.processed);
    EXPECT_EQ(log.count("bytes readable"), c.second_runs);
    EXPECT_EQ(pool_test::read_file(img) == "other\n", c.taken);
  }
}

// Two instances of one run upload into the pool, "a" then "b", and end in that order. A
// failed one removes the folders made for its images while they are empty, also those the
// other made, but never a folder that holds a kept set or was there before.
TEST_F(Instance_Backup_Handler_Test, FailedInstancesRemoveOnlyTheEmptyFoldersOfTheRun) {
  const struct {
    const char* name;
    const char* before;  // a folder there before the run
    bool a_kept, b_kept;
    const char* left;  // the pool's folders afterwards
  } cases[] = {
      {"both fail", "", false, false, ""},
      {"a fails, b is kept", "", false, true, "c c/d c/d/run c/d/run/b"},
      {"a is kept, b fails", "", true, false, "c c/d c/d/run c/d/run/a"},
      {"both fail below a folder there before", "c/d", false, false, "c c/d"},
  };
  add_volume(0);
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Each round in a pool folder of its own, there before: the pool remembers the
    // folders it made in earlier rounds.
    const std::string top = env_.root() + "/" + std::to_string(++round);
    params_.pool_url = env_.url() + "/" + std::to_string(round) + "/c/d";
    std::filesystem::create_directories(top + "/" + c.before);
    std::vector<std::unique_ptr<Instance_Backup_Handler>> handlers;
    for (const char* instance : {"run/a", "run/b"}) {
      Backup_Params params = params_;
      params.backup_instance.backup_vols.front().storage_file_path = instance;
      handlers.push_back(std::make_unique<Instance_Backup_Handler>(*job_, params));
      ASSERT_TRUE(upload(*handlers.back()));
    }
    end_run(*handlers[0], c.a_kept);
    end_run(*handlers[1], c.b_kept);
    std::set<std::string> folders;
    for (const auto& e : std::filesystem::recursive_directory_iterator(top))
      if (e.is_directory()) folders.insert(std::filesystem::relative(e.path(), top));
    std::string left;
    for (const std::string& f : folders) left += (left.empty() ? "" : " ") + f;
    EXPECT_EQ(left, c.left);
  }
}

// An instance found "stopping" is waited for, but not past the job's cancellation.
TEST_F(Instance_Backup_Handler_Test, AStoppingInstanceIsNotWaitedForOnceCancelled) {
  test::Sleep_Recorder cancel_at_wait(
      [this](size_t) { job_->activity().state = JOB_STATE_CANCELING; });
  test::Scripted_Cloud cloud;
  int polls = 0;
  cloud.respond([&polls](const test::Sent&) {
    return test::instance("i/1", ++polls < 4 ? "stopping" : "stopped");
  });
  test::Log_Capture log;
  bool retry = true;
  EXPECT_FALSE(power_off_stopping(cloud, retry));
  EXPECT_FALSE(retry);
  EXPECT_TRUE(log.contains("Job canceled while tavro backing."));
}

// An instance is powered off for its backup when the job asks for it, or when a volume
// lies on nfs_raw or localfs storage and no temporary snapshot is taken: a warning line
// says so, with the reason, before it is stopped; no alert is raised.
TEST_F(Instance_Backup_Handler_Test, PoweringOffIsToldWithItsReason) {
  const struct {
    const char* name;
    bool restart_vm, tmp_snapshots;
    const char* storage_type;
    std::string outcome;  // the warning, then the stop request; empty: left running
  } cases[] = {
      {"asked by the job", true, true, "ceph",
       "Powering off tavro instance i/1 (web) for its backup, on again afterwards: the job's "
       "option restart_vm asks for it. | stopped"},
      {"nfs_raw without temporary snapshots", false, false, "nfs_raw",
       "Powering off tavro instance i/1 (web) for its backup, on again afterwards: its volume "
       "v-1 lies on nfs_raw storage st-1, which is read without temporary snapshots only while "
       "the instance is off. | stopped"},
      {"nfs_raw with temporary snapshots", false, true, "nfs_raw", ""},
      {"ceph without temporary snapshots", false, false, "ceph", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    params_.restart_vm = c.restart_vm;
    params_.base.support_tmp_snapshot = c.tmp_snapshots;
    test::Scripted_Cloud cloud;
    cloud.respond([&c](const test::Sent& s) {
      if (s.action == "DescribeStorages")
        return test::listing("DescribeStorages", "storageSet",
                             {test::item(test::fields({{"storageId", "st-1"},
                                                       {"storageType", c.storage_type}}))});
      return s.action == "StopInstances" ? test::ok("StopInstances")
                                         : test::instance("i/1", "stopped");
    });
    const size_t before = job_->alerts().size();
    test::Log_Capture log;
    EXPECT_TRUE(power_off_running(cloud));
    std::string outcome;
    for (const test::Log_Entry& e : log.entries())
      if (e.priority == LM_WARNING) outcome += e.text.substr(0, e.text.find('\n')) + " | ";
    if (cloud.sent_text().find("StopInstances") != std::string::npos) outcome += "stopped";
    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(job_->alerts().size(), before);
  }
}

namespace {

// The cloud of a handler's backup of "i/1" (on node-1, its one volume v-1); its log-in
// refused when `refuse_login`.
test::Answer instance_cloud(const test::Sent& s, bool refuse_login) {
  using test::fields;
  using test::item;
  using test::listing;
  if (s.action == "GetCloudVersion")
    return refuse_login ? test::refused("bad keys", 401) : test::ok("GetCloudVersion");
  if (s.action == "DescribeInstances")
    return test::instances({item(
        fields({{"instanceId", "i/1"}, {"instanceType", "t1"}, {"hostAddress", "node-1"}}) +
        "<instanceState><name>running</name></instanceState><blockDeviceMapping>" +
        item("<ebs><volumeId>v-1</volumeId></ebs>") + "</blockDeviceMapping>")});
  if (s.action == "DescribeInstanceTypes")
    return listing("DescribeInstanceTypes", "instanceTypeSet",
                   {item(fields({{"instanceType", "t1"}}))});
  if (s.action == "DescribeVolumes") return test::volume("v-1", "in-use");
  if (s.action == "DescribeNodes")
    return listing("DescribeNodes", "nodeSet", {item(fields({{"nodeId", "node-1"}}))});
  if (s.action == "DescribeStorages") return listing("DescribeStorages", "storageSet", {});
  return test::refused("not in this cloud");
}

}  // namespace

// What a failed backup reports: a failure before the instance is read is final (code
// 1); one after it asks for another run (code 2), also a source that selects a volume
// the instance lacks, which may be attached by then.
TEST_F(Instance_Backup_Handler_Test, AFailureAfterTheInstanceIsReadAsksForAnotherRun) {
  const struct {
    const char* name;
    bool refuse_login;
    const char* selection;  // of the instance's volumes; "": all of them
    int code;
    std::vector<std::string> logged;  // error lines
  } cases[] = {
      {"the log-in refused", true, "", 1, {"Failed to login Tavrocloud.\n"}},
      {"a selected volume the instance lacks", false, "v-9", 2,
       {"Failed to backup tavro volume v-9, volume not found\n",
        "The tavro instance i/1 has no volume v-9.\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Scripted_Cloud cloud;
    cloud.respond([&c](const test::Sent& s) { return instance_cloud(s, c.refuse_login); });
    Backup_Params params = params_;
    if (*c.selection != '\0') params.backup_instance.backup_vol_ids = {c.selection};
    Instance_Backup_Handler handler(*job_, params);
    test::Log_Capture log;
    json_spirit::Object result;
    EXPECT_FALSE(handler.backup(result));
    const std::string reported = JSON_Dump(json_spirit::Value(result));
    EXPECT_NE(reported.find("\"code\":" + std::to_string(c.code)), std::string::npos) << reported;
    for (const std::string& line : c.logged)
      EXPECT_TRUE(log.contains(line, LM_ERROR)) << log.text();
  }
}

// An instance backup takes all volumes of an instance: a selection of some fails the
// instance before anything is made in the cloud, once, saying why.
TEST_F(Instance_Backup_Handler_Test, ASelectionOfVolumesNeedsTemporarySnapshots) {
  test::Scripted_Cloud cloud;  // any request fails the test
  test::Log_Capture log;
  bool retry = true;
  EXPECT_FALSE(back_up_selection_without_tmp_snapshots(cloud, retry));
  EXPECT_FALSE(retry);
  EXPECT_EQ(cloud.sent_text(), "");
  EXPECT_TRUE(log.contains("Cannot back up 1 of the 2 volumes of tavro instance i/1: the "
                           "source's \"volumes\" select only some, which needs temporary "
                           "snapshots", LM_ERROR)) << log.text();
}

// An instance is refused with alert 6, naming the storage, only when a storage of its
// volumes lacks the space the user asked to leave free: exactly that much free passes.
TEST_F(Instance_Backup_Handler_Test, TheReservedSpaceRefusesOnlyAStorageShortOfIt) {
  const struct {
    const char* name;
    int used;  // GiB of the storage's 100
    std::string outcome;
  } cases[] = {
      {"exactly the reserve free", 90, "passes"},
      {"one GiB short of the reserve", 91, R"(refused, alert 6 ["fast"])"},
  };
  params_.storage_reserved_bytes = 10 * GIB;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Scripted_Cloud cloud;
    cloud.respond([&c](const test::Sent&) {
      return test::listing("DescribeStorages", "storageSet",
                           {test::item(test::fields({{"storageId", "st-1"},
                                                     {"storageName", "fast"},
                                                     {"spaceMax", "100"},
                                                     {"spaceUsed", std::to_string(c.used)}}))});
    });
    const size_t before = job_->alerts().size();
    test::Log_Capture log;
    std::string outcome = check_storage(cloud) ? "passes" : "refused";
    const std::vector<Job_Alert_Record> alerts = job_->alerts();
    for (size_t n = before; n < alerts.size(); ++n)
      outcome += ", alert " + std::to_string(alerts[n].id) + " " + JSON_Dump(alerts[n].args);
    EXPECT_EQ(outcome, c.outcome);
  }
}

}  // namespace tavrocloud
