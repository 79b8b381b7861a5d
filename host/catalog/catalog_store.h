// The catalog's SQLite database: one table of backup sets, each stored as its JSON text
// with the columns the views search by. Used only by RESTful_Catalog_Operator, which
// turns records into rows and rows into JSON.
#ifndef CATALOG_CATALOG_STORE_H
#define CATALOG_CATALOG_STORE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace catalog {

// One stored set.
struct Stored_Set {
  std::string uuid;
  std::string module;
  std::string resource_uuid;
  std::string minor_resource_id;
  std::string timepoint;
  int64_t start_time = 0;
  int64_t end_time = 0;
  std::string name;
  std::string type;
  int64_t committed_at = 0;
  std::string body;  // the set's JSON text
};

class Catalog_Store {
 public:
  // Opens the database at `path` in WAL mode, its files restricted to mode 0600; when
  // there is no file at `path`, makes a new catalog there (and its parent directories,
  // mode 0700). Waits up to `busy_ms` for locks held by others. Null, with the reason in
  // `error`, when that fails (a database that cannot be written is named with the cause,
  // "<path>: Read-only file system"), for a database made by a newer schema than this
  // host knows, for an existing file that is not a catalog (damaged, empty, or another
  // database), and for anything at `path` but a regular file (a symbolic link included);
  // a file refused is left as it was found, its mode too.
  static std::unique_ptr<Catalog_Store> open(const std::string& path, int busy_ms,
                                             std::string& error);
  ~Catalog_Store();
  Catalog_Store(const Catalog_Store&) = delete;
  Catalog_Store& operator=(const Catalog_Store&) = delete;

  // Inserts `set`, or replaces the stored set with its uuid; with `durable`, syncs the
  // database log before returning. False, the reason in `error`, on failure.
  bool put(const Stored_Set& set, bool durable, std::string& error);

  // The sets of one item at one time point, newest first by their first commit.
  bool find(const std::string& module, const std::string& resource_uuid,
            const std::string& minor_resource_id, const std::string& timepoint,
            std::vector<Stored_Set>& out, std::string& error);

  // Every set of `module` (of every module when empty), newest start first.
  bool all(const std::string& module, std::vector<Stored_Set>& out, std::string& error);

 private:
  Catalog_Store(sqlite3* db, int busy_ms) : db_(db), busy_ms_(busy_ms) {}
  bool enter_wal(std::string& error);
  bool check_schema(std::string& error);
  bool exec(const char* sql, std::string& error);
  bool query_int(const char* sql, int64_t& out, std::string& error);

  sqlite3* db_;
  int busy_ms_;
};

}  // namespace catalog

#endif  // CATALOG_CATALOG_STORE_H
