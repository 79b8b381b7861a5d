#include "pool/pool_file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

namespace {

Pool_File_System standard_fs;
std::atomic<Pool_File_System*> current_fs{&standard_fs};

}  // namespace

Pool_File_System::~Pool_File_System() = default;

int Pool_File_System::open(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

int Pool_File_System::open_unnamed(const char* dir, mode_t mode) {
  return ::open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
}

int Pool_File_System::link_unnamed(int fd, const char* path) {
  // Through /proc any process may link its own descriptor; linking the descriptor itself
  // needs CAP_DAC_READ_SEARCH, so it serves only where /proc is missing.
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  if (::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return 0;
  if (errno == EPERM) errno = ENOENT;  // no /proc is the cause worth reporting
  return -1;
}

ssize_t Pool_File_System::writev(int fd, const struct iovec* iov, int count) {
  return ::writev(fd, iov, count);
}

int Pool_File_System::fsync(int fd) { return ::fsync(fd); }

int Pool_File_System::rename(const char* from, const char* to, bool replace) {
  if (replace) return ::rename(from, to);
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // The file system cannot rename without replacing: a hard link refuses an existing
  // name just as well.
  if (::link(from, to) != 0) return -1;
  ::unlink(from);
  return 0;
}

int Pool_File_System::sync_directory(const char* dir) {
  const int fd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int rc = ::fsync(fd);
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return rc;
}

int Pool_File_System::remove(const char* path) { return ::unlink(path); }

Pool_File_System& Pool_File_System::current() { return *current_fs.load(); }

Pool_File_System* Pool_File_System::install(Pool_File_System* fs) {
  return current_fs.exchange(fs != nullptr ? fs : &standard_fs);
}
