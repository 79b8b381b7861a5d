#include "runtime/path_conf.h"

#include "runtime/host_home.h"
#include "yolt/home_file.h"

#include <ace/Log_Msg.h>
#include <ace/OS_NS_errno.h>
#include <ace/OS_NS_sys_stat.h>

#include <unistd.h>

#include <cstring>
#include <mutex>

namespace {

constexpr const char COMPONENT_VAR[] = "$COMPONENT";

std::mutex component_mutex;
std::string component_name = "jobd";

// Replaces a leading built-in home (followed by '/' or the end) by host_home().
std::string root_at_home(std::string path) {
  const size_t n = std::strlen(HOST_HOME_DEFAULT);
  if (path.compare(0, n, HOST_HOME_DEFAULT) == 0 && (path.size() == n || path[n] == '/'))
    path.replace(0, n, host_home());
  return path;
}

std::string expand_component(std::string path) {
  const std::string name = Path_Conf::component();
  const size_t var_len = sizeof COMPONENT_VAR - 1;
  for (size_t at = path.find(COMPONENT_VAR); at != std::string::npos;
       at = path.find(COMPONENT_VAR, at + name.size()))
    path.replace(at, var_len, name);
  return path;
}

void append_part(std::string& path, const char* part) {
  if (part == nullptr || *part == '\0') return;
  if (path.empty() || path.back() != '/') path += '/';
  path += part;
}

// mkdir -p: makes each missing directory of `dir` with `mode`; 0 or -1 (errno set).
int make_dirs(const std::string& dir, mode_t mode) {
  for (size_t at = dir.find('/', 1);; at = dir.find('/', at + 1)) {
    const std::string part = dir.substr(0, at);
    if (!part.empty() && ACE_OS::mkdir(part.c_str(), mode) == -1 && errno != EEXIST)
      return -1;
    if (at == std::string::npos) return 0;
  }
}

// Makes `dir` as make_dirs does, except that below the host home each folder is made and
// entered from the one above, never through a link: a link planted in the home fails the
// call instead of receiving the folders. 0 or -1 (errno set).
int make_record_dirs(const std::string& dir, mode_t mode) {
  const std::string home = host_home();
  std::string rel;
  if (!yolt::below_home(home, dir, rel)) return make_dirs(dir, mode);
  if (make_dirs(home, mode) == -1) return -1;
  const int fd = yolt::open_folder_below(home, rel, true, mode);
  if (fd < 0) return -1;
  ::close(fd);
  return 0;
}

}  // namespace

Path_Conf::Path_Conf(const char* prefix, const char* id, bool create, const char* basename,
                     mode_t mode)
    : prefix_(expand_component(root_at_home(prefix != nullptr ? prefix : ""))) {
  append_part(prefix_, id);
  std::string dir = prefix_;
  append_part(prefix_, basename);
  if (basename == nullptr || *basename == '\0') {
    const size_t slash = dir.rfind('/');
    dir = slash == std::string::npos || slash == 0 ? std::string() : dir.substr(0, slash);
  }
  if (create && !dir.empty() && make_record_dirs(dir, mode) == -1)
    ACE_ERROR((LM_ERROR, "Failed to create directory %s, errno=%d, %m\n", dir.c_str(),
               ACE_OS::last_error()));
}

std::string Path_Conf::component() {
  std::lock_guard<std::mutex> lock(component_mutex);
  return component_name;
}

void Path_Conf::set_component(const char* name) {
  std::lock_guard<std::mutex> lock(component_mutex);
  component_name = name != nullptr ? name : "";
}
