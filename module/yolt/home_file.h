// Opening the folders and files of the host home without following a symbolic link below
// it: each folder is opened from the one above (openat, O_NOFOLLOW), so a link planted in
// the home never makes a file appear, change or lose its mode elsewhere. The home itself
// may be reached through links (QUILLON3_ROOT may name one). Header only, so that the
// module (memory-mapped records, lock files) and the host (identity, accounts, pool
// registry) each have their own copy and neither reaches into the other for it.
#ifndef YOLT_HOME_FILE_H
#define YOLT_HOME_FILE_H

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace yolt {

// Closes a descriptor and keeps errno as it was.
inline void close_keeping_errno(int fd) {
  const int error = errno;
  ::close(fd);
  errno = error;
}

// The folder `name` of the open folder `at`, never reached through a link; with `create`
// made with `mode` when missing. `at` stays open. A descriptor, or -1 with errno set
// (ELOOP or ENOTDIR for a link or anything but a folder in its place).
inline int open_folder_at(int at, const std::string& name, bool create, mode_t mode) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::openat(at, name.c_str(), flags);
  if (fd < 0 && errno == ENOENT && create &&
      (::mkdirat(at, name.c_str(), mode) == 0 || errno == EEXIST))
    fd = ::openat(at, name.c_str(), flags);
  return fd;
}

// The folder `rel` ("a/b", empty for `base` itself) below the folder `base`: `base` is
// opened as it is named, each part of `rel` from the one above and never through a link;
// with `create` each missing part is made with `mode`. A descriptor, or -1 with errno set.
inline int open_folder_below(const std::string& base, const std::string& rel, bool create,
                             mode_t mode) {
  int fd = ::open(base.empty() ? "/" : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (size_t from = 0; fd >= 0 && from < rel.size();) {
    size_t end = rel.find('/', from);
    if (end == std::string::npos) end = rel.size();
    if (end > from) {
      const int next = open_folder_at(fd, rel.substr(from, end - from), create, mode);
      close_keeping_errno(fd);
      fd = next;
    }
    from = end + 1;
  }
  return fd;
}

// True when `path` lies below the folder `home` (and is not `home` itself); `rel` is then
// what follows "<home>/".
inline bool below_home(const std::string& home, const std::string& path, std::string& rel) {
  if (home.empty() || path.size() <= home.size() + 1 || path.compare(0, home.size(), home) != 0 ||
      (home != "/" && path[home.size()] != '/'))
    return false;
  rel = path.substr(home == "/" ? 1 : home.size() + 1);
  return true;
}

// The folder that holds `path`, with the last part of `path` in `name`. Below `home` no
// link is followed on the way (see open_folder_below; with `create` missing folders are
// made with `mode`); elsewhere the folder is opened as it is named. A descriptor, or -1
// with errno set.
inline int open_parent(const std::string& home, const std::string& path, bool create,
                       mode_t mode, std::string& name) {
  const size_t slash = path.rfind('/');
  name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string rel;
  if (below_home(home, path, rel)) {
    const size_t last = rel.rfind('/');
    return open_folder_below(home, last == std::string::npos ? "" : rel.substr(0, last), create,
                             mode);
  }
  return ::open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Opens the regular file `name` of the open folder `dir` with `flags` (and `mode` when it
// is created), never through a link and never blocking on a FIFO or device in its place.
// A descriptor, or -1 with errno set: ELOOP for a link, EINVAL for anything but a regular
// file (nothing in its place is changed).
inline int open_regular_at(int dir, const std::string& name, int flags, mode_t mode) {
  int fd;
  while ((fd = ::openat(dir, name.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                        mode)) < 0 &&
         errno == EINTR) {
  }
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // Regular files ignore O_NONBLOCK; it is taken back so that the descriptor is plain.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Opens the regular file `path` as open_regular_at does, reaching its folder as
// open_parent does (without making folders). A descriptor, or -1 with errno set.
inline int open_regular(const std::string& home, const std::string& path, int flags,
                        mode_t mode) {
  std::string name;
  const int dir = open_parent(home, path, false, 0, name);
  if (dir < 0) return -1;
  const int fd = open_regular_at(dir, name, flags, mode);
  close_keeping_errno(dir);
  return fd;
}

}  // namespace yolt

#endif  // YOLT_HOME_FILE_H
