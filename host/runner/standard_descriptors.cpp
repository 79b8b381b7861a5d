#include "runner/standard_descriptors.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace runner {

namespace {

// The null device's numbers on Linux: anything else reads or keeps data (/dev/zero gives
// endless zeros to a closed stdin).
const unsigned NULL_MAJOR = 1;
const unsigned NULL_MINOR = 3;

}  // namespace

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
    const bool the_null_device = device && major(st.st_rdev) == NULL_MAJOR &&
                                 minor(st.st_rdev) == NULL_MINOR;
    if (null != fd || !the_null_device) {
      ::close(null);
      error = null != fd && the_null_device
                  ? std::string("cannot open ") + null_device + " for a closed standard descriptor"
                  : std::string(null_device) +
                        (device ? " is not the null device (character device 1:3)"
                                : " is not a character device") +
                        "; it cannot take the place of a closed standard descriptor";
      return false;
    }
    if (fd == STDOUT_FILENO) stdout_closed = true;
  }
  return true;
}

}  // namespace runner
