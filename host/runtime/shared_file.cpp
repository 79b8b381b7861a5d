#include "runtime/shared_file.h"

#include "runtime/host_home.h"
#include "yolt/home_file.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <cstring>
#include <random>

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

// Creates a new file "<name>.<random>" in the folder `dir` (O_EXCL, never through a
// link) with `mode`; its descriptor with its name in `temp`, or -1 with errno set.
int create_beside(int dir, const std::string& name, mode_t mode, std::string& temp) {
  static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp = name + ".";
    for (int i = 0; i < 8; ++i) temp += ALPHABET[random() % (sizeof ALPHABET - 1)];
    const int fd =
        ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Writes the new file `temp` of `dir` whole and in `mode`, and renames it to `name`.
bool write_and_rename(int dir, int fd, const std::string& temp, const std::string& name,
                      const char* data, size_t length, mode_t mode) {
  bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, data, length) && ::fsync(fd) == 0;
  int e = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    e = errno;
  }
  if (ok && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    ok = false;
    e = errno;
  }
  errno = e;
  return ok;
}

}  // namespace

int open_home_file(const std::string& path, int flags, mode_t mode) {
  const int fd = yolt::open_regular(host_home(), path, flags, mode);
  // A new file gets exactly `mode`, whatever the umask.
  if (fd >= 0 && (flags & O_CREAT) != 0) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && (st.st_mode & 07777) != mode) ::fchmod(fd, mode);
  }
  return fd;
}

File_Lock::File_Lock(const std::string& path) {
  fd_ = open_home_file(path, O_RDWR | O_CREAT, 0600);
  if (fd_ < 0) return;
  int rc;
  while ((rc = ::flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    yolt::close_keeping_errno(fd_);
    fd_ = -1;
  }
}

File_Lock::~File_Lock() {
  if (fd_ >= 0) ::close(fd_);
}

bool replace_file(const std::string& path, const char* data, size_t length, mode_t mode,
                  std::string* error) {
  std::string name;
  const int dir = yolt::open_parent(host_home(), path, false, 0, name);
  if (dir < 0) return fail(error, "cannot open the folder of " + path, errno);
  struct stat st;
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
    ::close(dir);
    return fail(error, "cannot write " + path, S_ISLNK(st.st_mode) ? ELOOP : EINVAL);
  }
  std::string temp;
  const int fd = create_beside(dir, name, mode, temp);
  if (fd < 0) {
    yolt::close_keeping_errno(dir);
    return fail(error, "cannot create a file beside " + path, errno);
  }
  if (!write_and_rename(dir, fd, temp, name, data, length, mode)) {
    const int e = errno;
    ::unlinkat(dir, temp.c_str(), 0);
    ::close(dir);
    return fail(error, "cannot write " + path, e);
  }
  // The new name is in place either way; a failed directory sync only risks the old
  // text coming back after a crash, which readers handle like any other version.
  ::fsync(dir);
  ::close(dir);
  return true;
}
