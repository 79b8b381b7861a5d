// The file-system calls by which the pool publishes a file (create, write, sync, link,
// rename, directory sync, remove), behind one small interface in the manner of LevelDB's Env.
// Production code uses the standard implementation, which makes the system calls; tests
// install one that fails a chosen call with EIO or ENOSPC to prove that no failure
// leaves a file under its final name.
#ifndef POOL_POOL_FILE_SYSTEM_H
#define POOL_POOL_FILE_SYSTEM_H

#include <sys/types.h>
#include <sys/uio.h>

class Pool_File_System {
 public:
  virtual ~Pool_File_System();

  // Each call behaves as the system call of its name: the result it gives on success,
  // -1 with errno set on failure.
  virtual int open(const char* path, int flags, mode_t mode);
  // open of the directory `dir` with O_TMPFILE: a new file without a name, open for
  // writing, with `mode`; it vanishes with its last descriptor unless link_unnamed named
  // it. EOPNOTSUPP, EISDIR or EINVAL: the file system cannot make one.
  virtual int open_unnamed(const char* dir, mode_t mode);
  // Gives the unnamed file open as `fd` the new name `path` (EEXIST when it is taken).
  virtual int link_unnamed(int fd, const char* path);
  virtual ssize_t writev(int fd, const struct iovec* iov, int count);
  virtual int fsync(int fd);
  // Renames `from` to `to`; an existing `to` is replaced only when `replace` is true
  // (otherwise the call fails with EEXIST).
  virtual int rename(const char* from, const char* to, bool replace);
  // fsync of the directory `dir`, so that the names changed in it survive a crash.
  virtual int sync_directory(const char* dir);
  // unlink of `path`.
  virtual int remove(const char* path);

  // The implementation in use (the standard one unless a test installed another).
  static Pool_File_System& current();
  // Installs `fs` (null: the standard one) and returns the one it replaces. For tests;
  // `fs` must outlive its use and no pool file may be open across the change.
  static Pool_File_System* install(Pool_File_System* fs);
};

#endif  // POOL_POOL_FILE_SYSTEM_H
