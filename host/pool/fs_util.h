// Small file-system steps shared by the pool registry and the pool connection.
#ifndef POOL_FS_UTIL_H
#define POOL_FS_UTIL_H

#include <sys/types.h>

#include <string>
#include <vector>

// The directory part of `path` ("." when it has none, "/" for a top-level entry).
std::string dir_of(const std::string& path);

// The last component of `path`.
std::string base_of(const std::string& path);

// Creates `dir` and every missing parent with `mode`; true when it exists afterwards as
// a directory (errno set otherwise). Each directory it created is appended to `made`
// (when given), parents first. A parent that someone else removes meanwhile (an empty
// folder being cleaned up) is made again.
bool make_directories(const std::string& dir, mode_t mode,
                      std::vector<std::string>* made = nullptr);

// The canonical path of the deepest existing ancestor of `path` (`path` itself when it
// exists); empty when none can be resolved.
std::string real_existing_ancestor(const std::string& path);

// The canonical path of an existing `path` (symbolic links resolved); empty when it
// cannot be resolved (errno set).
std::string real_path(const std::string& path);

// True when `path` is `dir` or lies below it (both canonical).
bool path_within(const std::string& path, const std::string& dir);

#endif  // POOL_FS_UTIL_H
