// Puts the end-to-end test process into a private mount namespace with an empty tmpfs on
// /dev/disk (and /dev/disk/by-id made), so the simulator's virtio-<id> links and the
// module's look-ups of them stay private to this run and never touch the machine's own.
// Each e2e fixture calls enter_private_dev_disk() on the main thread before it starts the
// simulator, which inherits the namespace, and skips with the returned reason when it is
// not empty.
#ifndef TESTS_E2E_PRIVATE_DEV_DISK_H
#define TESTS_E2E_PRIVATE_DEV_DISK_H

#include <fcntl.h>
#include <linux/loop.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace test {

namespace detail {

inline std::string errno_text(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

inline std::string enter() {
  if (::geteuid() != 0) return "needs root (loop devices and a private mount namespace)";
  if (std::system("command -v losetup >/dev/null 2>&1") != 0) return "losetup is not installed";
  const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
  if (control < 0) return errno_text("no loop devices (/dev/loop-control)");
  const int free_loop = ::ioctl(control, LOOP_CTL_GET_FREE);
  ::close(control);
  if (free_loop < 0) return errno_text("no free loop device");
  if (::unshare(CLONE_NEWNS) != 0) return errno_text("cannot make a private mount namespace");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return errno_text("cannot make the mounts private");
  if (::mkdir("/dev/disk", 0755) != 0 && errno != EEXIST) return errno_text("mkdir /dev/disk");
  if (::mount("tavro-e2e-disk", "/dev/disk", "tmpfs", 0, "mode=0755,size=16m") != 0)
    return errno_text("cannot mount a tmpfs on /dev/disk");
  if (::mkdir("/dev/disk/by-id", 0755) != 0) return errno_text("mkdir /dev/disk/by-id");
  return std::string();
}

}  // namespace detail

// Enters the namespace once per process; the empty text on success, else why the e2e
// tests cannot run here.
inline const std::string& enter_private_dev_disk() {
  static std::once_flag once;
  static std::string reason;
  std::call_once(once, [] { reason = detail::enter(); });
  return reason;
}

}  // namespace test

#endif  // TESTS_E2E_PRIVATE_DEV_DISK_H
