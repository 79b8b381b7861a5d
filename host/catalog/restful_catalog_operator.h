// The catalog client of the jobs: the backup commits one backup-set record per instance
// backup, the restore asks the view "restore" for the sets of an instance at a time
// point, and the runner lists what the catalog holds. This host keeps the catalog itself,
// in the SQLite database "catalog.db" of the host home (host_home(), moved by
// QUILLON3_ROOT), made with its schema on first use. The database runs in WAL mode with
// a busy timeout, so any number of operators in any number of threads and processes may
// commit and read at once; each operator holds its own connection, and one operator may
// also be shared between threads.
//
// Time points: see catalog/catalog_time.h ("%Y%m%d%H%M%S" in UTC, the second the backup
// started; the ISO forms name the same second).
#ifndef CATALOG_RESTFUL_CATALOG_OPERATOR_H
#define CATALOG_RESTFUL_CATALOG_OPERATOR_H

#include "json/value.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Backup_Set;

namespace catalog {
class Catalog_Store;
}

// The identifier under which the catalog files the sets of one item (an instance) of a
// protected resource: a name-based UUID (version 8) of the two identifiers, the same
// for the same pair on every host and every run, and different for different pairs.
// Returns true and sets `out`; false, `out` cleared, when either identifier is empty.
bool compute_minor_resource_id(const std::string& resource_uuid, const std::string& instance_id,
                               std::string& out);

// One set as the catalog lists it.
struct Catalog_Entry {
  std::string module;             // the module's word ("tavro")
  std::string uuid;               // the set
  std::string resource_uuid;      // the protected resource
  std::string minor_resource_id;  // the item of the resource
  std::string timepoint;          // catalog time point of its start
  std::string name;               // job definition name
  std::string type;               // "full", ...
  time_t start_time = 0;
  time_t end_time = 0;
  time_t committed_at = 0;        // when the catalog stored it
  json_spirit::Object set;        // the whole record in its JSON form
};

class RESTful_Catalog_Operator {
 public:
  // A client for the backup server at `host`:`port` (TLS when `ssl`) with this host's
  // `access_key`. The catalog is this host's own database, so no request leaves the
  // host: the endpoint only appears in messages. Database operations wait up to
  // `timeout_seconds` for a lock held by another writer (-1 or 0: the default of 30
  // seconds), extended by `max_seconds_retry`. Opens nothing yet.
  RESTful_Catalog_Operator(const std::string& host, uint16_t port, bool ssl,
                           const std::string& access_key, int timeout_seconds,
                           size_t max_seconds_retry);
  ~RESTful_Catalog_Operator();
  RESTful_Catalog_Operator(const RESTful_Catalog_Operator&) = delete;
  RESTful_Catalog_Operator& operator=(const RESTful_Catalog_Operator&) = delete;

  // Stores `set` (its JSON form, filed under its module, resource, minor resource id and
  // time point). A set with the uuid of a stored one replaces it, so a repeated commit
  // stores the set once. With `durable` the call returns only after the set is on disk
  // (a full sync); otherwise after it is in the database's log. Returns true when
  // stored; false, logged at error priority, when the set lacks its module, uuid,
  // resource uuid or minor resource id, or the database fails.
  bool commit(const Backup_Set& set, bool durable);

  // Answers the view `view` of the sets of `module`. The view "restore" takes the keys
  // "resource_uuid", "instance_id" and "timepoint" and sets `out` to an array of the
  // sets (JSON objects as committed) of that instance of that resource whose time point
  // is the given one, newest commit first (a set committed again keeps the place of its
  // first commit); an empty array when there is none. Returns
  // true when answered; false, logged at error priority and `out` untouched, for an
  // unknown view, a missing or empty key, a time point that does not read, a stored set
  // that does not read, or a database failure.
  bool get_view(const std::string& module, const std::string& view,
                const std::map<std::string, std::string>& keys, json_spirit::Value& out);

  // Every stored set of `module` (every module when empty), newest first (by start time,
  // then by commit). Returns true and replaces `out` when every set reads. A stored set
  // that does not read is left out, logged and its uuid appended to `damaged` (when
  // given): the call then returns false, with `out` holding the sets that read. On a
  // database failure it returns false (logged) with `out` and `damaged` untouched.
  bool list(const std::string& module, std::vector<Catalog_Entry>& out,
            std::vector<std::string>* damaged = nullptr);

  // The database file this operator uses: host_home() + "/catalog.db".
  static std::string database_path();

 private:
  // The open store, opened on first use; null (logged) when it cannot be opened.
  catalog::Catalog_Store* store();

  std::string endpoint_;  // "https://host:port", for messages
  int busy_ms_;
  std::mutex mutex_;      // one operation at a time on the connection
  std::unique_ptr<catalog::Catalog_Store> store_;
};

#endif  // CATALOG_RESTFUL_CATALOG_OPERATOR_H
