// A handle on one fixed-size record of type T kept in a memory-mapped file, shared
// between the threads and processes that map it: an instance handler writes its progress
// record, the progress reporter reads it. The file lives at
// "<PathConf::prefix>/<id>/<basename>" as Path_Conf builds it (rooted at the host home).
#ifndef YOLT_MEM_MAP_HANDLE_H
#define YOLT_MEM_MAP_HANDLE_H

#include "runtime/host_home.h"
#include "runtime/path_conf.h"
#include "yolt/check.h"
#include "yolt/home_file.h"

#include <ace/Log_Msg.h>
#include <ace/Mem_Map.h>
#include <ace/OS_NS_errno.h>
#include <ace/os_include/os_fcntl.h>

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

// PathConf: a type with a static text member `prefix`. Size: the length mapped when the
// file is created (the record lies at its start).
template <typename T, typename PathConf, size_t Size>
class Mem_Map_Handle {
  static_assert(Size >= sizeof(T), "the mapped length must hold the record");

 public:
  Mem_Map_Handle() = default;
  Mem_Map_Handle(const Mem_Map_Handle&) = delete;
  Mem_Map_Handle& operator=(const Mem_Map_Handle&) = delete;
  ~Mem_Map_Handle() { close(); }

  // Maps the record of `id`/`basename`; 0 on success, -1 on failure (logged; errno kept).
  // With `create` the file (and its directory, with `mode`) is made when missing and
  // mapped at Size bytes (an existing file keeps its contents); without it the whole
  // existing file is mapped. `cloexec` opens the file close-on-exec. `id` and `basename`
  // must each be one plain path component (no '/', not "." or "..").
  int open(const char* id, const char* basename, bool create, bool cloexec, mode_t mode) {
    YOLT_CHECK_CSTR(id, -1);
    YOLT_CHECK_CSTR(basename, -1);
    const bool id_is_one_name = is_one_name(id);
    YOLT_CHECK_FALSE(id_is_one_name, -1);
    const bool basename_is_one_name = is_one_name(basename);
    YOLT_CHECK_FALSE(basename_is_one_name, -1);
    const Path_Conf path(PathConf::prefix, id, create, basename, mode);
    return open_i(path.c_str(), open_flags(create, cloexec));
  }

  // As above for records named by `id` alone ("<prefix>/<id>").
  int open(const char* id, bool create, bool cloexec, mode_t mode) {
    YOLT_CHECK_CSTR(id, -1);
    const bool id_is_one_name = is_one_name(id);
    YOLT_CHECK_FALSE(id_is_one_name, -1);
    const Path_Conf path(PathConf::prefix, id, create, nullptr, mode);
    return open_i(path.c_str(), open_flags(create, cloexec));
  }

  // Maps `path` with the open `flags`: Size bytes when O_CREAT is among them (a shorter
  // file is extended), else the whole file, which must hold a record. Below the host home
  // no link is followed and only a regular file is mapped. 0 or -1 (logged).
  int open_i(const char* path, int flags) {
    close();
    const size_t length = (flags & O_CREAT) != 0 ? Size : static_cast<size_t>(-1);
    const std::string home = Path_Conf(HOST_HOME_DEFAULT, nullptr, false, nullptr, 0).str();
    const int fd = yolt::open_regular(home, path, flags, 0600);
    if (fd < 0 || map_.map(fd, length, protection(flags), MAP_SHARED, nullptr, 0) == -1) {
      const int error = ACE_OS::last_error();
      ACE_ERROR((LM_ERROR, "Failed to memory map %s, errno=%d, %m\n", path, error));
      map_.close();
      if (fd >= 0) ::close(fd);
      errno = error;
      return -1;
    }
    if (map_.addr() == MAP_FAILED || map_.size() < sizeof(T)) {
      ACE_ERROR((LM_ERROR, "Failed to memory map %s: %u bytes cannot hold a record of %u\n",
                 path, static_cast<unsigned>(map_.size()), static_cast<unsigned>(sizeof(T))));
      close();
      errno = EINVAL;
      return -1;
    }
    return 0;
  }

  // Unmaps and closes the file; ACE_Mem_Map::close()'s result.
  int close() {
    // The mapping was made from a descriptor opened here, which ACE_Mem_Map leaves open.
    const ACE_HANDLE fd = map_.addr() != MAP_FAILED ? map_.handle() : ACE_INVALID_HANDLE;
    const int rc = map_.close();
    if (fd != ACE_INVALID_HANDLE) ::close(fd);
    return rc;
  }

  // The mapped record, unchecked (MAP_FAILED when nothing is mapped).
  T* operator->() const { return static_cast<T*>(map_.addr()); }
  // The mapped record, or null when nothing is mapped.
  T* get() const { return map_.addr() == MAP_FAILED ? nullptr : static_cast<T*>(map_.addr()); }
  explicit operator bool() const { return map_.addr() != MAP_FAILED; }

 private:
  static bool is_one_name(const char* name) {
    return std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
  }

  static int open_flags(bool create, bool cloexec) {
    return O_RDWR | (create ? O_CREAT : 0) | (cloexec ? O_CLOEXEC : 0);
  }

  static int protection(int flags) {
    if ((flags & O_RDWR) != 0) return PROT_READ | PROT_WRITE;
    if ((flags & O_WRONLY) != 0) return PROT_WRITE;
    return PROT_READ;
  }

  ACE_Mem_Map map_;
};

#endif  // YOLT_MEM_MAP_HANDLE_H
