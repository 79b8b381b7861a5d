#include "runtime/fd.h"

#include <fcntl.h>

int enable_fd_cloexec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags < 0) return -1;
  if ((flags & FD_CLOEXEC) != 0) return 0;
  return ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC) < 0 ? -1 : 0;
}
