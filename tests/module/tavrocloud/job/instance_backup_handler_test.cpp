#include "tavrocloud/job/instance_backup_handler.h"

#include "host/pool/pool_test_env.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "runtime/sleep.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tavrocloud {

// Drives the volume upload of a handler against a real pool, with files as devices.
class Instance_Backup_Handler_Test : public ::testing::Test {
 protected:
  static constexpr uint64_t GIB = 1ULL << 30;

  Instance_Backup_Handler_Test() {
    Job_Definition_var def(new Job_Definition);
    def->set_id(def_id_);
    def->set_type(JOB_DEFINITION_BACKUP);
    job_ = Job_var(new Job(def));
    EXPECT_EQ(open_progress_record(record_, def_id_, "i/1", true), 0);
    params_.base.def_id = def_id_;
    params_.base.retry_internal = 1;
    params_.pool_url = env_.url();
    params_.backup_instance.instance_id = "i/1";
  }

  // A sparse device file of one GiB (or `bytes`) for volume `n`.
  void add_volume(int n, uint64_t bytes = GIB) {
    const std::string device = env_.dir() + "/dev" + std::to_string(n);
    const int fd = ::open(device.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bytes)), 0);
    ::close(fd);
    Volume_Backup_Info v;
    v.vol_id = "v-" + std::to_string(n);
    v.size = 1;
    v.attached_dev_name = device;
    v.storage_file_path = "run/i_1";
    v.storage_file_name = "img-" + std::to_string(n);
    params_.backup_instance.backup_vols.push_back(v);
  }

  bool upload(Instance_Backup_Handler& handler) {
    return handler.open_records() && handler.backup_volumes();
  }
  uint64_t succeeded(const Instance_Backup_Handler& handler) const {
    return handler.succeeded_volumes_.load();
  }
  // Powers off `handler`'s instance "i/1", found "stopping", through `cloud`.
  bool power_off_stopping(Instance_Backup_Handler& handler, test::Scripted_Cloud& cloud) {
    if (!handler.open_records()) return false;
    handler.client_ = std::make_unique<RESTful_Client>();
    cloud.login(*handler.client_);
    handler.instance_.id = "i/1";
    handler.instance_.status = STOPPING;
    handler.retry_ = true;
    return handler.power_off();
  }
  bool retry(const Instance_Backup_Handler& handler) const { return handler.retry_.load(); }
  std::string images() const { return pool_test::list_dir(env_.root() + "/run/i_1"); }

  pool_test::Pool_Env env_;  // first: the home every record below lives in
  const std::string def_id_ = "upload-def";
  Job_var job_;
  Instance_Mem_Map_Handle record_;
  Backup_Params params_;
};

TEST_F(Instance_Backup_Handler_Test, UploadsInParallelUpToTheBound) {
  for (int n = 0; n < 3; ++n) add_volume(n);
  params_.base.parallel_disks_per_vm = 2;
  Instance_Backup_Handler handler(*job_, params_);
  std::atomic<bool> done{false};
  size_t most = 0;
  std::thread watch([&] {
    while (!done) {
      const std::string names = images();
      size_t parts = 0;
      for (size_t at = names.find(".part"); at != std::string::npos; at = names.find(".part", at + 1))
        ++parts;
      most = std::max(most, parts);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const bool ok = upload(handler);
  done = true;
  watch.join();
  EXPECT_TRUE(ok);
  EXPECT_LE(most, 2u);
  EXPECT_EQ(images(), "img-0 img-1 img-2");
  EXPECT_EQ(record_->processed_size.load(), 3 * GIB);
  EXPECT_EQ(record_->processed_volume_num.load(), 3u);
}

TEST_F(Instance_Backup_Handler_Test, AFailingVolumeLeavesNoResidueAndNoProgress) {
  add_volume(0);
  add_volume(1, GIB / 2);  // the device ends half way
  params_.base.parallel_disks_per_vm = 1;
  params_.base.retry_count = 1;
  Instance_Backup_Handler handler(*job_, params_);
  test::Log_Capture log;
  EXPECT_FALSE(upload(handler));
  EXPECT_EQ(succeeded(handler), 1u);
  EXPECT_EQ(images(), "img-0");
  EXPECT_EQ(record_->processed_size.load(), GIB);
  EXPECT_EQ(log.count("bytes readable"), 2u);  // the first run and its one re-run
}

TEST_F(Instance_Backup_Handler_Test, ARetriedVolumeSucceeds) {
  add_volume(0);
  // The image's name is taken at first; it is freed once the first run has failed.
  const std::string taken = env_.root() + "/run/i_1/img-0";
  ASSERT_EQ(::system(("mkdir -p " + taken).c_str()), 0);
  params_.base.parallel_disks_per_vm = 1;
  Instance_Backup_Handler handler(*job_, params_);
  test::Log_Capture log;
  std::thread free_name([&] {
    while (!log.contains("Failed to open io, write to run/i_1/img-0"))
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::rmdir(taken.c_str());
  });
  const bool ok = upload(handler);
  free_name.join();
  EXPECT_TRUE(ok);
  EXPECT_EQ(succeeded(handler), 1u);
  EXPECT_EQ(images(), "img-0");
  EXPECT_EQ(record_->processed_size.load(), GIB);
}

TEST_F(Instance_Backup_Handler_Test, AnImageAlreadyAtThePathIsNeverRemoved) {
  add_volume(0);
  // Another volume's image whose safe name meets this one's.
  ASSERT_EQ(::system(("mkdir -p " + env_.root() + "/run/i_1 && echo other > " + env_.root() +
                      "/run/i_1/img-0").c_str()),
            0);
  params_.base.retry_count = 0;
  Instance_Backup_Handler handler(*job_, params_);
  test::Log_Capture log;
  EXPECT_FALSE(upload(handler));
  EXPECT_TRUE(log.contains("Failed to open io, write to run/i_1/img-0"));
  EXPECT_EQ(images(), "img-0");
}

// An instance found "stopping" is waited for, but not past the job's cancellation.
TEST_F(Instance_Backup_Handler_Test, AStoppingInstanceIsNotWaitedForOnceCancelled) {
  static Job* cancel_on_sleep = nullptr;
  cancel_on_sleep = job_.get();
  const Sleep_Hook previous = set_sleep_hook([](unsigned int) {
    cancel_on_sleep->activity().state = JOB_STATE_CANCELING;
  });
  test::Scripted_Cloud cloud;
  int polls = 0;
  cloud.respond([&polls](const test::Sent&) {
    return test::instance("i/1", ++polls < 4 ? "stopping" : "stopped");
  });
  Instance_Backup_Handler handler(*job_, params_);
  test::Log_Capture log;
  EXPECT_FALSE(power_off_stopping(handler, cloud));
  set_sleep_hook(previous);
  EXPECT_FALSE(retry(handler));
  EXPECT_TRUE(log.contains("Job canceled while tavro backing."));
}

}  // namespace tavrocloud
