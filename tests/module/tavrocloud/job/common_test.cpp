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

#include <functional>
#include <string>
#include <vector>

namespace {

using tavrocloud::get_local_device;
using Waits = std::vector<unsigned int>;

const Waits ALL_DELAYS = {2, 4, 8, 16, 32, 60, 60, 60, 60, 60};

// Identifiers that must never reach the file system are refused at once; a missing link
// is waited for through every delay, then the time-out is logged once.
TEST(Get_Local_Device, RefusesUnsafeIdentifiersAndTimesOutOnAMissingLink) {
  const std::string absent = "tavrotest-absent-" + std::to_string(::getpid());
  const struct {
    std::string id;
    Waits waits;
    const char* log;  // null: nothing logged
  } cases[] = {
      {"", {}, nullptr},
      {"../sda", {}, "Refused to look up the local device"},
      {"vol 1", {}, "Refused to look up the local device"},
      {std::string("a\0b", 3), {}, "Refused to look up the local device"},
      {absent, ALL_DELAYS, "Get local device for volume tavrotest-absent-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    test::Sleep_Recorder sleeps;
    test::Log_Capture log;
    std::string device = "untouched";
    EXPECT_FALSE(get_local_device(c.id, device));
    EXPECT_EQ(device, "untouched");
    EXPECT_EQ(sleeps.waits(), c.waits);
    EXPECT_EQ(log.entries().size(), c.log ? 1u : 0u) << log.text();
    EXPECT_TRUE(!c.log || log.contains(c.log, LM_ERROR)) << log.text();
  }
}

// A link `/dev/disk/by-id/virtio-<id>` to a block device node (only stat'ed) or, when
// `plain`, to a regular file.
bool make_link(const std::string& id, bool plain = false) {
  const std::string link = "/dev/disk/by-id/virtio-" + id;
  return ::symlink(plain ? "/dev/disk/plain" : "/dev/disk/blk", link.c_str()) == 0;
}

// A link is found whole and at once, or on the pass after it appeared; a link to a file
// that is no block device is tested until the time-out. Run in a child with its own
// mount namespace and an empty tmpfs on /dev/disk, which returns the number of the first
// row that failed (77: no namespace could be had).
TEST(Get_Local_Device, FindsTheBlockDeviceLinkedToTheWholeIdentifier) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ::_exit(77);
    }
    ::mkdir("/dev/disk", 0755);  // there already on most machines
    if (::mount("tavrotest-disk", "/dev/disk", "tmpfs", 0, "mode=0755,size=1m") ||
        ::mkdir("/dev/disk/by-id", 0755) ||
        ::mknod("/dev/disk/blk", S_IFBLK | 0600, ::makedev(7, 250)) ||
        ::close(::open("/dev/disk/plain", O_CREAT | O_WRONLY, 0600))) {
      ::_exit(77);
    }
    const struct {
      std::string id;
      int link;  // 0: none now, 1: to a block device, 2: to a regular file
      std::function<void(size_t)> on_sleep;
      bool found;
      Waits waits;
    } cases[] = {
        {"vol-a1b2c3d4.x_y", 1, nullptr, true, {}},
        {std::string(70, 'v'), 1, nullptr, true, {}},
        {"tmpsnap-late", 0, [](size_t n) { if (n == 2) make_link("tmpsnap-late"); }, true, {2, 4}},
        {"vol-file", 2, nullptr, false, ALL_DELAYS},
        {std::string(40, 'v'), 0, nullptr, false, ALL_DELAYS},  // a prefix of a link's
    };
    int row = 0;
    for (const auto& c : cases) {
      ++row;
      if (c.link != 0 && !make_link(c.id, c.link == 2)) ::_exit(100 + row);
      test::Sleep_Recorder sleeps(c.on_sleep);
      test::Log_Capture log;
      std::string device;
      if (get_local_device(c.id, device) != c.found || sleeps.waits() != c.waits) ::_exit(row);
      if (c.found && device != "/dev/disk/blk") ::_exit(row);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "needs root for a private mount namespace";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the number of the row that failed";
}

}  // namespace
