// A pool file system that fails one chosen call with a chosen errno (from its `after`-th
// use on), installed for the lifetime of the object; for tests of the pool's failure paths.
// Without `unnamed_files` it is one that cannot make files without a name (EOPNOTSUPP);
// with `short_writes` its writes are short.
#ifndef TESTS_HOST_POOL_FAILING_FILE_SYSTEM_H
#define TESTS_HOST_POOL_FAILING_FILE_SYSTEM_H

#include "pool/pool_file_system.h"

#include <algorithm>
#include <cerrno>

namespace pool_test {

class Failing_File_System : public Pool_File_System {
 public:
  enum Call { NONE, OPEN, OPEN_UNNAMED, LINK_UNNAMED, WRITE, FSYNC, RENAME, SYNC_DIRECTORY };

  Failing_File_System(Call call, int err, int after = 0, bool unnamed_files = true)
      : call_(call), err_(err), after_(after), unnamed_files_(unnamed_files),
        previous_(install(this)) {}
  ~Failing_File_System() override { install(previous_); }
  Failing_File_System(const Failing_File_System&) = delete;
  Failing_File_System& operator=(const Failing_File_System&) = delete;

  int open(const char* path, int flags, mode_t mode) override {
    return fails(OPEN) ? -1 : Pool_File_System::open(path, flags, mode);
  }
  int open_unnamed(const char* dir, mode_t mode) override {
    if (!unnamed_files_) return errno = EOPNOTSUPP, -1;
    return fails(OPEN_UNNAMED) ? -1 : Pool_File_System::open_unnamed(dir, mode);
  }
  int link_unnamed(int fd, const char* path) override {
    return fails(LINK_UNNAMED) ? -1 : Pool_File_System::link_unnamed(fd, path);
  }
  ssize_t writev(int fd, const struct iovec* iov, int count) override {
    if (fails(WRITE)) return -1;
    if (short_writes == 0 || count == 0) return Pool_File_System::writev(fd, iov, count);
    const struct iovec first = {iov[0].iov_base, std::min(iov[0].iov_len, short_writes)};
    return Pool_File_System::writev(fd, &first, 1);  // short, as a signal or a full disk makes it
  }
  int fsync(int fd) override { return fails(FSYNC) ? -1 : Pool_File_System::fsync(fd); }
  int rename(const char* from, const char* to, bool replace) override {
    return fails(RENAME) ? -1 : Pool_File_System::rename(from, to, replace);
  }
  int sync_directory(const char* dir) override {
    return fails(SYNC_DIRECTORY) ? -1 : Pool_File_System::sync_directory(dir);
  }

  size_t short_writes = 0;  // when not 0, each write stops after at most this many bytes

 private:
  bool fails(Call call) {
    if (call != call_ || seen_++ < after_) return false;
    errno = err_;
    return true;
  }

  Call call_;
  int err_;
  int after_;
  bool unnamed_files_;
  int seen_ = 0;
  Pool_File_System* previous_;
};

}  // namespace pool_test

#endif  // TESTS_HOST_POOL_FAILING_FILE_SYSTEM_H
