#include "pool/fs_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

std::string dir_of(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_of(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool make_directories(const std::string& dir, mode_t mode, std::vector<std::string>* made) {
  // Bounded: each further round needs another removal of a parent by someone else.
  for (int round = 0; round < 8; ++round) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return true;
      errno = ENOTDIR;
      return false;
    }
    if (errno != ENOENT) return false;
    const std::string parent = dir_of(dir);
    if (parent != dir && !make_directories(parent, mode, made)) return false;
    if (::mkdir(dir.c_str(), mode) == 0) {
      if (made != nullptr) made->push_back(dir);
      return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    if (errno == EEXIST) return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    if (errno != ENOENT) return false;
  }
  return false;
}

std::string real_path(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

bool path_within(const std::string& path, const std::string& dir) {
  if (dir.empty() || path.empty()) return false;
  if (path == dir || dir == "/") return true;
  return path.compare(0, dir.size(), dir) == 0 && path.size() > dir.size() &&
         path[dir.size()] == '/';
}

std::string real_existing_ancestor(const std::string& path) {
  for (std::string p = path;; p = dir_of(p)) {
    const std::string real = real_path(p);
    if (!real.empty() || errno != ENOENT || p == "/" || p == ".") return real;
  }
}
