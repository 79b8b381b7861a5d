#include "runner/standard_descriptors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace runner {

bool occupy_closed_standard_descriptors(const char* null_device, bool& stdout_closed,
                                        std::string& error) {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is this one: the ones below it are open by now.
    const int null = ::open(null_device, O_RDWR);
    if (null < 0) {
      error = std::string("cannot open ") + null_device + " for a closed standard descriptor: " +
              std::strerror(errno);
      return false;
    }
    struct stat st;
    const bool device = ::fstat(null, &st) == 0 && S_ISCHR(st.st_mode);
    if (null != fd || !device) {
      ::close(null);
      error = device ? std::string("cannot open ") + null_device +
                           " for a closed standard descriptor"
                     : std::string(null_device) +
                           " is not a character device; it cannot take the place of a closed "
                           "standard descriptor";
      return false;
    }
    if (fd == STDOUT_FILENO) stdout_closed = true;
  }
  return true;
}

}  // namespace runner
