// The host's registry of storage pools: which pools exist, where each one's directory
// lies and which devices it serves. The runner registers pools; get_pool_info answers
// from it and Client_IO_Ex::connect accepts only urls under a registered pool root.
//
// The registry is the text file "pools" in the host home (host_home()), one pool per
// line, fields separated by a TAB:
//
//   uuid  name  host-uuid  url  device-ids  attributes
//
// `url` is "file://" and an absolute directory path; `device-ids` is a comma-separated
// list (may be empty); `attributes` is a comma-separated list of name=value pairs (may be
// empty; "preferred_source_address", "tenant_access_key", "cipher", "key", "iv",
// "dedup_backend_type" fill the Pool_Info fields of that name, every other pair goes to
// its ext_attrs). In every field the characters '%', TAB, LF, CR, ',' and '=' are written
// as '%' and two upper-case hex digits. Lines that are empty or start with '#' are
// comments. The file is replaced atomically (written aside, synced, renamed), and
// changes are serialised by an flock on "pools.lock" beside it.
#ifndef POOL_POOL_REGISTRY_H
#define POOL_POOL_REGISTRY_H

#include <map>
#include <string>
#include <vector>

struct Pool_Record {
  std::string uuid;
  std::string name;
  std::string host_uuid;
  std::string url;
  std::vector<std::string> device_ids;
  std::map<std::string, std::string> attrs;

  // The absolute directory of the pool ("" when the url is not a valid file url).
  std::string root() const;
};

class Pool_Registry {
 public:
  // The registry file of the current host home.
  static std::string default_path();

  explicit Pool_Registry(std::string path = default_path());

  // Reads the file; a missing file is an empty registry. False (with `error`) when the
  // file cannot be read or a line is malformed.
  bool load(std::string* error = nullptr);

  // The pool whose uuid, else whose name, is `id`; null when none.
  const Pool_Record* find(const std::string& id) const;

  // The pool whose root directory is `dir` or holds it (`dir` absolute and normalised);
  // null when none.
  const Pool_Record* find_root_of(const std::string& dir) const;

  const std::vector<Pool_Record>& pools() const { return pools_; }

  // Adds `pool` to the file, replacing a pool of the same uuid, under the lock; false
  // (with `error`) when the record is invalid (empty uuid, name used by another pool,
  // not a file url with an absolute path) or the file cannot be written.
  bool add(const Pool_Record& pool, std::string* error = nullptr);

  // Removes the pool `uuid` from the file under the lock; true also when it was absent.
  bool remove(const std::string& uuid, std::string* error = nullptr);

  const std::string& path() const { return path_; }

 private:
  bool save(std::string* error);

  std::string path_;
  std::vector<Pool_Record> pools_;
};

// The normalised absolute path of a "file:///..." url: empty and "." components dropped;
// false for another scheme, a relative path or a ".." component.
bool pool_url_to_path(const std::string& url, std::string& path);

// `rel` normalised as a relative path below a directory: empty and "." components
// dropped; false when it is empty, absolute, holds a ".." component or a NUL.
bool normalise_relative_path(const std::string& rel, std::string& out);

#endif  // POOL_POOL_REGISTRY_H
