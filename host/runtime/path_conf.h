// Paths of the host's per-component state files (memory-mapped progress and activity
// records). Callers name a file by a configured prefix, an identifier and a base name;
// Path_Conf roots the prefix at the host home, fills in the component name and, when
// asked, makes the directory the file goes into.
#ifndef HOST_RUNTIME_PATH_CONF_H
#define HOST_RUNTIME_PATH_CONF_H

#include <sys/types.h>

#include <string>

class Path_Conf {
 public:
  // Builds "<prefix>/<id>/<basename>", or "<prefix>/<id>" when `basename` is null or
  // empty (an empty or null `id` is left out likewise). In `prefix`:
  //  - a leading "/var/opt/telquin/quillon3" (the built-in home) is replaced by
  //    host_home(), so QUILLON3_ROOT moves every record;
  //  - each "$COMPONENT" becomes component().
  // With `create`, the directory that holds the file (the path without its last part)
  // is made with its parents, each new one with `mode` (less the umask); a failure is
  // logged at error priority and left to the caller's open to report.
  // `id` and `basename` are taken as given: a caller that takes them from outside must
  // make sure each is one plain name (Mem_Map_Handle::open does).
  Path_Conf(const char* prefix, const char* id, bool create, const char* basename,
            mode_t mode);

  // The full path built by the constructor.
  const std::string& str() const { return prefix_; }
  const char* c_str() const { return prefix_.c_str(); }

  // The process-wide component name that "$COMPONENT" stands for ("jobd" until set).
  // Set it once at start-up, before any path is built.
  static std::string component();
  static void set_component(const char* name);

 private:
  std::string prefix_;
};

#endif  // HOST_RUNTIME_PATH_CONF_H
