#include "tavrocloud/job/common.h"

#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using tavrocloud::get_local_device;

const std::vector<unsigned int> ALL_DELAYS = {2, 4, 8, 16, 32, 60, 60, 60, 60, 60};
const char TIMEOUT[] = "Get local device for volume %s timeout.\n";

using test::Sleep_Recorder;

std::string timeout_line(const std::string& id) {
  std::string line = TIMEOUT;
  line.replace(line.find("%s"), 2, id);
  return line;
}

// Runs `body` in a child process that has its own mount namespace with an empty tmpfs
// on /dev/disk (and /dev/disk/by-id made), so links made there stay private. The child's
// exit status is returned; 77 means the namespace could not be had.
int in_private_dev_disk(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ::_exit(77);
    }
    ::mkdir("/dev/disk", 0755);
    if (::mount("tavrotest-disk", "/dev/disk", "tmpfs", 0, "mode=0755,size=1m") != 0 ||
        ::mkdir("/dev/disk/by-id", 0755) != 0) {
      ::_exit(77);
    }
    ::_exit(body());
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#define RUN_PRIVATE(body)                                                          \
  do {                                                                             \
    const int rc_ = in_private_dev_disk(body);                                     \
    if (rc_ == 77) GTEST_SKIP() << "needs root for a private mount namespace";    \
    EXPECT_EQ(0, rc_) << "the child's first failed check (see the child's body)"; \
  } while (0)

// A block device node (it is only stat'ed, never opened) and a link to it named after
// `id`, as the kernel makes them for an attached virtio disk.
bool make_block_link(const std::string& id) {
  const std::string node = "/dev/disk/blk-" + std::to_string(::getpid());
  if (::access(node.c_str(), F_OK) != 0 &&
      ::mknod(node.c_str(), S_IFBLK | 0600, ::makedev(7, 250)) != 0) {
    return false;
  }
  return ::symlink(node.c_str(), ("/dev/disk/by-id/virtio-" + id).c_str()) == 0;
}

TEST(Job_Records, Defaults_And_Copies) {
  const tavrocloud::Base_Params base;
  EXPECT_EQ(3u, base.retry_count);
  EXPECT_EQ(3u, base.retry_internal);
  EXPECT_EQ(3u, base.max_seconds_retry);
  EXPECT_EQ(2, base.parallel_vms);
  EXPECT_EQ(2, base.parallel_vms_per_host);
  EXPECT_EQ(1, base.parallel_disks_per_vm);
  EXPECT_FALSE(base.support_tmp_snapshot);

  const tavrocloud::Volume_Backup_Info vol;
  EXPECT_EQ(131072u, vol.block_size);
  EXPECT_EQ(0u, vol.size);

  const tavrocloud::Restore_Params restore;
  EXPECT_TRUE(restore.start_vm);
  EXPECT_FALSE(restore.restore_vm);
  EXPECT_FALSE(restore.origin_restore);

  tavrocloud::Instance_Backup_Info info;
  info.backup_vols.resize(2);
  info.backup_vols.back().vol_id = "vol-2";
  info.snapshot_ids = {"s-1"};
  info.backup_vol_ids = {"vol-1", "vol-2"};
  tavrocloud::Instance_Backup_Info copy = info;
  info.backup_vols.back().vol_id = "changed";
  ASSERT_EQ(2u, copy.backup_vols.size());
  EXPECT_EQ("vol-2", copy.backup_vols.back().vol_id);
  EXPECT_EQ(info.snapshot_ids, copy.snapshot_ids);
  EXPECT_EQ(info.backup_vol_ids, copy.backup_vol_ids);
}

// The defaults the executors rely on when an option is absent.
TEST(Job_Records, Remaining_Defaults) {
  const tavrocloud::Base_Params base;
  EXPECT_FALSE(base.backupd_ssl);
  EXPECT_EQ(0u, base.backupd_port);
  EXPECT_EQ(1, base.parallel_workers_per_disk);

  const tavrocloud::Backup_Params backup;
  EXPECT_EQ(JOB_DEFINITION_SUBTYPE_NONE, backup.backup_type);
  EXPECT_EQ(0u, backup.storage_reserved_bytes);
  EXPECT_EQ(0, backup.storage_reserved_percent);
  EXPECT_FALSE(backup.restart_vm);
  EXPECT_FALSE(backup.reserve_snapshot);
  EXPECT_EQ(tavrocloud::UNKNOWN, backup.backup_instance.status);
  EXPECT_EQ(3u, backup.base.retry_count);

  const tavrocloud::Volume_Backup_Info vol;
  EXPECT_FALSE(vol.is_root);
  EXPECT_EQ(0u, vol.created_vol_size);

  const tavrocloud::Volume_Restore_Info restore_vol;
  EXPECT_EQ(0, restore_vol.size);
  EXPECT_FALSE(restore_vol.is_root);
  EXPECT_TRUE(restore_vol.timepoint_piece_list.empty());
  EXPECT_EQ(0u, tavrocloud::Volume_Restore_Info::Piece().block_size);
}

// Identifiers that must never reach the file system: the lookup refuses them at once.
TEST(Get_Local_Device, Refuses_Unsafe_Identifiers_Without_Waiting) {
  struct Case {
    std::string id;
    bool logged;
  };
  const Case cases[] = {
      {"", false},          {"../sda", true},        {"vol/../../sda", true},
      {"vol 1", true},      {std::string("vol\n1"), true}, {"vol*", true},
      {std::string("a\0b", 3), true},
  };
  for (const Case& c : cases) {
    Sleep_Recorder sleeps;
    test::Log_Capture log;
    std::string device = "untouched";
    EXPECT_FALSE(get_local_device(c.id, device)) << c.id;
    EXPECT_EQ("untouched", device);
    EXPECT_TRUE(sleeps.waits().empty()) << c.id;
    EXPECT_EQ(c.logged, log.contains("Refused to look up the local device", LM_ERROR)) << c.id;
  }
}

TEST(Get_Local_Device, Missing_Link_Times_Out_After_Ten_Delays) {
  Sleep_Recorder sleeps;
  test::Log_Capture log;
  const std::string id = "tavrotest-absent-" + std::to_string(::getpid());
  std::string device = "untouched";
  EXPECT_FALSE(get_local_device(id, device));
  EXPECT_EQ("untouched", device);
  EXPECT_EQ(ALL_DELAYS, sleeps.waits());
  EXPECT_EQ(1u, log.count(timeout_line(id)));
}

// The child's checks return a distinct number at their first failure.
TEST(Get_Local_Device, Link_Present_At_First_Pass_Returns_At_Once) {
  RUN_PRIVATE([] {
    const std::string id = "vol-a1b2c3d4.x_y";
    if (!make_block_link(id)) return 1;
    Sleep_Recorder sleeps;
    std::string device;
    if (!get_local_device(id, device)) return 2;
    if (device != "/dev/disk/blk-" + std::to_string(::getpid())) return 3;
    if (!sleeps.waits().empty()) return 4;
    return 0;
  });
}

TEST(Get_Local_Device, Long_Identifier_Is_Used_Whole) {
  RUN_PRIVATE([] {
    const std::string id(70, 'v');
    // A link for the first 40 characters only must not be found instead.
    if (!make_block_link(id)) return 1;
    Sleep_Recorder sleeps;
    std::string device;
    if (!get_local_device(id, device) || device.empty()) return 2;
    test::Log_Capture log;
    std::string other;
    if (get_local_device(id.substr(0, 40), other)) return 3;
    return 0;
  });
}

TEST(Get_Local_Device, Link_Made_While_Waiting_Is_Found_On_The_Next_Pass) {
  RUN_PRIVATE([] {
    const std::string id = "tmpsnap-late";
    Sleep_Recorder sleeps([&](size_t n) {
      if (n == 2) make_block_link(id);
    });
    std::string device;
    if (!get_local_device(id, device)) return 1;
    if (sleeps.waits() != std::vector<unsigned int>({2, 4})) return 2;
    return 0;
  });
}

TEST(Get_Local_Device, Link_To_A_Regular_File_Is_Tested_Until_Time_Out) {
  RUN_PRIVATE([] {
    const std::string id = "vol-file";
    const int fd = ::open("/dev/disk/plain", O_CREAT | O_WRONLY, 0600);
    if (fd < 0) return 1;
    ::close(fd);
    if (::symlink("/dev/disk/plain", ("/dev/disk/by-id/virtio-" + id).c_str()) != 0) return 2;
    Sleep_Recorder sleeps;
    test::Log_Capture log;
    std::string device = "untouched";
    if (get_local_device(id, device)) return 3;
    if (device != "untouched") return 4;
    if (sleeps.waits() != ALL_DELAYS) return 5;
    if (log.count(timeout_line(id)) != 1) return 6;
    return 0;
  });
}

}  // namespace
