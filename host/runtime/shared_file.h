// Small files that several processes of the host share (the cloud accounts, the host
// identity and keys, the pool registry): changed under a lock held across processes and
// replaced whole, so a reader sees the old or the new text, never a mix, and no writer's
// change is lost. Below the host home none of them is opened, created or replaced
// through a symbolic link, on the way or in its place (yolt/home_file.h).
#ifndef HOST_RUNTIME_SHARED_FILE_H
#define HOST_RUNTIME_SHARED_FILE_H

#include "runtime/secure_memset.h"

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

// Opens the regular file `path` with `flags` close-on-exec (with O_CREAT the file, new or
// not, gets exactly `mode`, once it proved to be a regular file): below the host home no link is followed on the way or in its place and
// the folders are not made. A descriptor, or -1 with errno set (ELOOP for a link, EINVAL
// for anything but a regular file, which is left as it is).
int open_home_file(const std::string& path, int flags, mode_t mode = 0600);

// Reads the whole regular file `path` (opened as open_home_file does) straight into
// `out` (a wiping string for keys, so no copy is left in other buffers). 1 when read, 0
// when there is nothing at `path`, -1 otherwise (errno set).
template <typename String>
int read_home_file(const std::string& path, String& out) {
  const int fd = open_home_file(path, O_RDONLY);
  if (fd < 0) return errno == ENOENT ? 0 : -1;
  out.clear();
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  const int error = errno;
  secure_memset(buf, 0, sizeof buf);
  ::close(fd);
  errno = error;
  return n == 0 ? 1 : -1;
}

// Holds an exclusive flock on the file `path` (created with mode 0600 when missing,
// opened as open_home_file does) while it lives; it waits for other holders, in this
// process or others.
class File_Lock {
 public:
  explicit File_Lock(const std::string& path);
  ~File_Lock();
  File_Lock(const File_Lock&) = delete;
  File_Lock& operator=(const File_Lock&) = delete;

  // False when the lock file could not be opened or locked (errno set).
  bool locked() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// Writes `length` bytes to a new file of its own beside `path` (O_EXCL, exactly `mode`),
// syncs it, renames it over `path` and syncs the directory; below the host home the
// directory is reached without following a link and a link at `path` is refused (ELOOP),
// never replaced. True on success; false with a one-line reason in `error` otherwise,
// and no file left behind.
bool replace_file(const std::string& path, const char* data, size_t length, mode_t mode,
                  std::string* error = nullptr);

#endif  // HOST_RUNTIME_SHARED_FILE_H
