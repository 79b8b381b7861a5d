#include "tavrocloud/job/instance_backup_handler.h"

#include "host/pool/pool_test_env.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "runtime/sleep.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
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
  // How many files of the image directory this process holds open: the images being
  // written, which have no name there until they are published.
  size_t images_open() const {
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string dir = fs::canonical(env_.root(), ec).string() + "/run/i_1/";
    size_t n = 0;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd", ec))
      n += fs::read_symlink(fd.path(), ec).string().compare(0, dir.size(), dir) == 0;
    return n;
  }

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
      most = std::max(most, images_open());
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

// A volume that fails its runs leaves no image and no progress, the others stay; a run
// that fails once is retried; an image already at the path (another volume's, whose safe
// name meets this one's) is never removed.
TEST_F(Instance_Backup_Handler_Test, FailedUploadsLeaveOnlyWhatSucceeded) {
  const std::string dir = env_.root() + "/run/i_1", img = dir + "/img-0";
  const struct {
    const char* name;
    uint64_t second;  // the bytes of a second volume's device; 0: one volume
    char taken;  // at the first image's path: 'd' a directory (gone after the first
                 // failure), 'f' a file, '-' nothing
    bool ok;
    uint64_t processed;
  } cases[] = {
      {"the second device ends half way", GIB / 2, '-', false, GIB},
      {"retried after a failure", 0, 'd', true, GIB},
      {"another image at the path", 0, 'f', false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string taken = c.taken == 'd' ? "mkdir " + img : c.taken == 'f' ? "echo other > " + img : "true";
    ASSERT_EQ(::system(("rm -rf " + dir + " && mkdir -p " + dir + " && " + taken).c_str()), 0);
    params_.backup_instance.backup_vols.clear();
    add_volume(0);
    if (c.second != 0) add_volume(1, c.second);
    params_.base.retry_count = c.taken == 'f' ? 0 : 1;
    record_->processed_size = 0;
    Instance_Backup_Handler handler(*job_, params_);
    test::Log_Capture log;
    std::thread free_name;
    if (c.taken == 'd')
      free_name = std::thread([&] {
        while (!log.contains("Failed to open io, write to run/i_1/img-0"))
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::rmdir(img.c_str());
      });
    EXPECT_EQ(upload(handler), c.ok);
    if (free_name.joinable()) free_name.join();
    EXPECT_EQ(images(), "img-0");
    EXPECT_EQ(record_->processed_size.load(), c.processed);
    EXPECT_EQ(log.count("bytes readable"), c.second != 0 ? 2u : 0u);  // the first run and its re-run
    EXPECT_EQ(pool_test::read_file(img) == "other\n", c.taken == 'f');
  }
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
