#include "runtime/shared_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool fail(std::string* error, const std::string& what, int err) {
  if (error != nullptr) *error = what + ": " + std::strerror(err);
  errno = err;
  return false;
}

bool write_all(int fd, const char* data, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string dir_part(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

File_Lock::File_Lock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;
  int rc;
  while ((rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    const int e = errno;
    ::close(fd_);
    fd_ = -1;
    errno = e;
  }
}

File_Lock::~File_Lock() {
  if (fd_ >= 0) ::close(fd_);
}

bool replace_file(const std::string& path, const char* data, size_t length, mode_t mode,
                  std::string* error) {
  std::string temp = path + ".XXXXXX";
  const int fd = ::mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) return fail(error, "cannot create a file beside " + path, errno);
  bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, data, length) && ::fsync(fd) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    return fail(error, "cannot write " + path, e);
  }
  const int dir = ::open(dir_part(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    // The new name is in place either way; a failed directory sync only risks the old
    // text coming back after a crash, which readers handle like any other version.
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}
