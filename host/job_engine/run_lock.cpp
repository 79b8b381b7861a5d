#include "job_engine/run_lock.h"

#include "runtime/path_conf.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr mode_t LOCK_DIR_MODE = S_IRWXU;
constexpr mode_t LOCK_FILE_MODE = S_IRUSR | S_IWUSR;
static_assert(LOCK_DIR_MODE == 0700 && LOCK_FILE_MODE == 0600, "owner-only lock files");

const char* kind_prefix(Run_Lock::Kind kind) {
  return kind == Run_Lock::JOB ? "/var/opt/telquin/quillon3/lock/job"
                               : "/var/opt/telquin/quillon3/lock/instance";
}

bool is_kept(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

// Opens (making it when missing) the lock file at `path`: a regular file, never one
// reached through a symbolic link. The descriptor, or -1 (logged).
int open_lock_file(const char* path) {
  int fd = -1;
  while ((fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                      LOCK_FILE_MODE)) < 0 &&
         errno == EINTR) {
  }
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
    errno = EINVAL;
  }
  if (fd < 0) ACE_ERROR((LM_ERROR, "Failed to open the run lock %s, %m\n", path));
  return fd;
}

}  // namespace

std::string run_lock_file_name(const std::string& id) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string name;
  for (const char c : id) {
    if (is_kept(c)) {
      name += c;
    } else {
      const unsigned char b = static_cast<unsigned char>(c);
      name += {'%', HEX[b >> 4], HEX[b & 0xF]};
    }
    if (name.size() > RUN_LOCK_NAME_MAX) return std::string();
  }
  return name;
}

Run_Lock::Outcome Run_Lock::try_lock(Kind kind, const std::string& id) {
  release();
  const std::string name = run_lock_file_name(id);
  if (name.empty()) {
    ACE_ERROR((LM_ERROR, "Refused to lock an identifier that is empty or longer than %u "
                         "bytes as a file name.\n",
               static_cast<unsigned>(RUN_LOCK_NAME_MAX)));
    return FAILED;
  }
  const Path_Conf path(kind_prefix(kind), name.c_str(), true, nullptr, LOCK_DIR_MODE);
  const int fd = open_lock_file(path.c_str());
  if (fd < 0) return FAILED;
  int rc = 0;
  while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc == 0) {
    fd_ = fd;
    return TAKEN;
  }
  const int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return BUSY;
  errno = error;
  ACE_ERROR((LM_ERROR, "Failed to lock the run lock %s, %m\n", path.c_str()));
  return FAILED;
}

void Run_Lock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the only descriptor of its open file drops the flock
  fd_ = -1;
}
