// Locks that keep two runs off one thing of a kind (a job definition, a cloud instance)
// at a time, across every process of this host that shares the home. The host's job
// engine locks a definition for its run; the module's instance handlers lock an instance
// before they change anything of it in the cloud. Header only, so that each side has its
// own copy and neither reaches into the other for it.
//
// A lock is an flock on the file "<home>/lock/<kind>/<name>" (folders 0700, files 0600):
// the kernel drops it when its holder closes the file, ends or is killed, so a killed run
// never blocks the next one. The files stay; an unheld file locks nothing. Below the home
// no symbolic link is followed: each folder and the file are opened from the one above.
#ifndef YOLT_LOCK_FILE_H
#define YOLT_LOCK_FILE_H

#include "runtime/path_conf.h"
#include "yolt/home_file.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

namespace yolt {

// The longest lock file name.
constexpr size_t LOCK_FILE_NAME_MAX = 240;

// The file name that locks `id`: letters, digits, '-' and '_' as they are, every other
// byte as "%XX" (upper-case hex), so distinct ids get distinct names and no name holds
// '/' or is "." or "..". Empty when `id` is empty or its name would be longer than
// LOCK_FILE_NAME_MAX.
inline std::string lock_file_name(const std::string& id) {
  static const char HEX[] = "0123456789ABCDEF";
  std::string name;
  for (const char c : id) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (kept) {
      name += c;
    } else {
      const unsigned char b = static_cast<unsigned char>(c);
      name += {'%', HEX[b >> 4], HEX[b & 0xF]};
    }
    if (name.size() > LOCK_FILE_NAME_MAX) return std::string();
  }
  return name;
}

class Lock_File {
 public:
  enum Outcome { TAKEN, BUSY, FAILED };

  // `kind`: the folder below "<home>/lock" that holds this kind's files (a literal).
  explicit Lock_File(const char* kind) : kind_(kind) {}
  ~Lock_File() { release(); }
  Lock_File(const Lock_File&) = delete;
  Lock_File& operator=(const Lock_File&) = delete;

  // Takes the lock of `id` without waiting (a lock this object held is let go first).
  // TAKEN: held until release() or the object's end. BUSY: another holder has it, another
  // Lock_File of this process or of any other. FAILED: `id` is empty or too long for a
  // file name, or the lock file could not be made, opened (a link or anything but a
  // folder on its way, a link or anything but a regular file in its place) or locked
  // (logged).
  Outcome try_lock(const std::string& id) {
    release();
    const std::string name = lock_file_name(id);
    if (name.empty()) {
      ACE_ERROR((LM_ERROR, "Refused to lock an identifier that is empty or longer than %u "
                           "bytes as a file name.\n",
                 static_cast<unsigned>(LOCK_FILE_NAME_MAX)));
      return FAILED;
    }
    // Makes the home when missing, as every file of the home is made.
    const Path_Conf lock_dir("/var/opt/telquin/quillon3/lock", nullptr, true, nullptr,
                             FOLDER_MODE);
    const std::string& dir = lock_dir.str();
    const std::string path = dir + "/" + kind_ + "/" + name;
    const size_t slash = dir.rfind('/');
    const int fd = open_file(slash == 0 ? "/" : dir.substr(0, slash), name);
    if (fd < 0) {
      ACE_ERROR((LM_ERROR, "Failed to open the lock file %s, %m\n", path.c_str()));
      return FAILED;
    }
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
    ACE_ERROR((LM_ERROR, "Failed to lock the lock file %s, %m\n", path.c_str()));
    return FAILED;
  }

  // Lets the lock go (nothing when none is held).
  void release() {
    if (fd_ < 0) return;
    ::close(fd_);  // closing the only descriptor of its open file drops the flock
    fd_ = -1;
  }

  bool held() const { return fd_ >= 0; }

 private:
  static constexpr mode_t FOLDER_MODE = S_IRWXU;
  static constexpr mode_t FILE_MODE = S_IRUSR | S_IWUSR;
  static_assert(FOLDER_MODE == 0700 && FILE_MODE == 0600, "owner-only lock files");

  // Opens (making it when missing) "<home>/lock/<kind_>/<name>": a regular file, no link
  // followed below the home. The descriptor, or -1 with errno set.
  int open_file(const std::string& home, const std::string& name) const {
    const int dir = open_folder_below(home, std::string("lock/") + kind_, true, FOLDER_MODE);
    if (dir < 0) return -1;
    const int fd = open_regular_at(dir, name, O_RDWR | O_CREAT, FILE_MODE);
    close_keeping_errno(dir);
    return fd;
  }

  const char* kind_;
  int fd_ = -1;
};

}  // namespace yolt

#endif  // YOLT_LOCK_FILE_H
