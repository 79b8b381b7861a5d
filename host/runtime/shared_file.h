// Small files that several processes of the host share (the cloud accounts, the host
// identity and keys): changed under a lock held across processes and replaced whole, so
// a reader sees the old or the new text, never a mix, and no writer's change is lost.
#ifndef HOST_RUNTIME_SHARED_FILE_H
#define HOST_RUNTIME_SHARED_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <string>

// Holds an exclusive flock on the file `path` (created with mode 0600 when missing)
// while it lives; it waits for other holders, in this process or others.
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
// syncs it, renames it over `path` and syncs the directory. True on success; false with
// a one-line reason in `error` otherwise, and no file left behind.
bool replace_file(const std::string& path, const char* data, size_t length, mode_t mode,
                  std::string* error = nullptr);

#endif  // HOST_RUNTIME_SHARED_FILE_H
