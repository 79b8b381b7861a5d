#include "catalog/catalog_store.h"

#include "yolt/scoped_deleter.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace catalog {

namespace {

// The schema version this host writes; a database of a higher version is refused.
constexpr int SCHEMA_VERSION = 1;

const char* const SCHEMA_SQL =
    "CREATE TABLE IF NOT EXISTS backup_sets ("
    "  seq INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  uuid TEXT NOT NULL UNIQUE,"
    "  module TEXT NOT NULL,"
    "  resource_uuid TEXT NOT NULL,"
    "  minor_resource_id TEXT NOT NULL,"
    "  timepoint TEXT NOT NULL,"
    "  start_time INTEGER NOT NULL,"
    "  end_time INTEGER NOT NULL,"
    "  name TEXT NOT NULL,"
    "  type TEXT NOT NULL,"
    "  committed_at INTEGER NOT NULL,"
    "  body TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS backup_sets_by_item"
    "  ON backup_sets (module, resource_uuid, minor_resource_id, timepoint);";

const char* const COLUMNS =
    "uuid, module, resource_uuid, minor_resource_id, timepoint, start_time, end_time, name, "
    "type, committed_at, body";

struct Stmt_Deleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, Stmt_Deleter>;

// SQLite's message, with the system's own text of the errno behind it when there is one
// ("disk I/O error (No space left on device)").
std::string db_error(sqlite3* db, const char* what) {
  std::string text = std::string(what) + ": " + sqlite3_errmsg(db);
  const int primary = sqlite3_errcode(db) & 0xff;
  const int system_errno = sqlite3_system_errno(db);
  if ((primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_FULL) &&
      system_errno != 0)
    text += std::string(" (") + std::strerror(system_errno) + ")";
  return text;
}

Stmt prepare(sqlite3* db, const std::string& sql, std::string& error) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
    error = db_error(db, "prepare");
    sqlite3_finalize(s);
    return Stmt();
  }
  return Stmt(s);
}

void bind_text(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

std::string column_text(sqlite3_stmt* s, int i) {
  const unsigned char* t = sqlite3_column_text(s, i);
  const int n = sqlite3_column_bytes(s, i);
  return t != nullptr ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(n))
                      : std::string();
}

// Steps a query to its end, one Stored_Set per row (columns in COLUMNS order).
bool read_rows(sqlite3* db, sqlite3_stmt* s, std::vector<Stored_Set>& out, std::string& error) {
  std::vector<Stored_Set> rows;
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    Stored_Set r;
    r.uuid = column_text(s, 0);
    r.module = column_text(s, 1);
    r.resource_uuid = column_text(s, 2);
    r.minor_resource_id = column_text(s, 3);
    r.timepoint = column_text(s, 4);
    r.start_time = sqlite3_column_int64(s, 5);
    r.end_time = sqlite3_column_int64(s, 6);
    r.name = column_text(s, 7);
    r.type = column_text(s, 8);
    r.committed_at = sqlite3_column_int64(s, 9);
    r.body = column_text(s, 10);
    rows.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) {
    error = db_error(db, "query");
    return false;
  }
  out = std::move(rows);
  return true;
}

// mkdir -p of the directory part of `path`, new directories with mode 0700.
bool make_parents(const std::string& path, std::string& error) {
  for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
    const std::string dir = path.substr(0, pos);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot make directory " + dir + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// The database holds the records of every backup: readable by its owner only. SQLite
// gives a journal file it makes the mode of the database file, so this runs before the
// switch to WAL, and also restricts the log and index files a first read may have made.
// Only a regular file is changed, never through a symbolic link: the file is held by an
// O_PATH descriptor opened without following links and its mode set through that very
// descriptor. Closing an O_PATH descriptor, unlike any other of the database file, drops
// no POSIX lock this process holds on it, SQLite's included.
bool restrict_file(const std::string& path, bool must_exist, std::string& error) {
  const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && !must_exist && errno == ENOENT) return true;
  if (fd < 0) {
    error = "cannot restrict " + path + ": " + std::strerror(errno);
    return false;
  }
  auto close_fd = make_deleter([fd] { ::close(fd); });
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "cannot restrict " + path + ": not a regular file";
    return false;
  }
  if ((st.st_mode & 07777) == 0600) return true;
  const std::string held = "/proc/self/fd/" + std::to_string(fd);
  if (::chmod(held.c_str(), 0600) == 0) return true;
  error = "cannot restrict " + path + ": " + std::strerror(errno);
  return false;
}

bool restrict_database_files(const std::string& path, std::string& error) {
  return restrict_file(path, true, error) && restrict_file(path + "-wal", false, error) &&
         restrict_file(path + "-shm", false, error);
}

// Gives a new database file at `path` (mode 0600, in WAL mode) the schema.
bool write_schema(const std::string& path, std::string& error) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  auto close = make_deleter([&] { sqlite3_close_v2(db); });
  if (rc != SQLITE_OK) {
    error = db != nullptr ? db_error(db, "open") : std::string("open: out of memory");
    return false;
  }
  const std::string sql = std::string("PRAGMA journal_mode=WAL; BEGIN; ") + SCHEMA_SQL +
                          " PRAGMA user_version=" + std::to_string(SCHEMA_VERSION) + "; COMMIT;";
  char* msg = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK) return true;
  error = msg != nullptr ? std::string("cannot make a new catalog: ") + msg
                        : db_error(db, "cannot make a new catalog");
  sqlite3_free(msg);
  return false;
}

// Only a catalog that does not exist is made, and made whole before it gets its name:
// the schema goes into a file of its own, which is then linked to `path` unless another
// process made the catalog meanwhile. So any file found at `path` is taken as the
// catalog it must be, and one that is not (even an empty one) is reported, never given
// a new schema that would answer "no backup sets" for the sets it lost.
bool create_if_missing(const std::string& path, std::string& error) {
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISREG(st.st_mode)) return true;
    error = path + " is not a regular file" + (S_ISLNK(st.st_mode) ? " but a symbolic link" : "");
    return false;
  }
  if (errno != ENOENT) {
    error = "cannot look at " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string fresh = path + ".new-XXXXXX";
  const int fd = ::mkstemp(&fresh[0]);  // mode 0600
  if (fd < 0) {
    error = "cannot make a new catalog next to " + path + ": " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  auto remove_fresh = make_deleter([&] {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) ::unlink((fresh + suffix).c_str());
  });
  if (!write_schema(fresh, error)) return false;
  if (::link(fresh.c_str(), path.c_str()) == 0 || errno == EEXIST) return true;
  error = "cannot make " + path + ": " + std::strerror(errno);
  return false;
}

// Why the database at `path` cannot be written, when its file or its folder (where
// SQLite makes the log and shared-memory files) refuses writing: "<path>: Read-only file
// system", "<path>: Permission denied"; "" when both can be written. Looks without
// opening the file: closing a descriptor of it would drop the locks SQLite holds on it.
std::string unwritable_cause(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == 0 ? "/" : slash == std::string::npos ? "." : path.substr(0, slash);
  for (const std::string& p : {path, dir}) {
    if (::faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT)
      return p + ": " + std::strerror(errno);
  }
  return std::string();
}

// SQLite opens a database it may not write for reading only, and the first read of a
// WAL database then fails to make its shared-memory file with the errno of its last try
// ("No such file or directory"), which hides the cause: a read-only file system or a
// file or folder the process may not write. Such a failure is reported by its cause.
void name_unwritable_cause(sqlite3* db, const std::string& path, std::string& error) {
  const int primary = sqlite3_errcode(db) & 0xff;
  if (primary != SQLITE_CANTOPEN && primary != SQLITE_READONLY && primary != SQLITE_IOERR) return;
  const std::string cause = unwritable_cause(path);
  if (!cause.empty()) error = "the catalog cannot be written: " + cause;
}

// Errors of SQLite that mean the file is no database of its own.
bool is_damage(int rc) {
  const int primary = rc & 0xff;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

}  // namespace

std::unique_ptr<Catalog_Store> Catalog_Store::open(const std::string& path, int busy_ms,
                                                   std::string& error) {
  if (!make_parents(path, error) || !create_if_missing(path, error)) return nullptr;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                                 nullptr);
  // The store owns the handle from here on, also when opening failed.
  std::unique_ptr<Catalog_Store> store(new Catalog_Store(db, busy_ms));
  if (rc != SQLITE_OK) {
    error = db != nullptr ? db_error(db, "open") : std::string("open: out of memory");
    return nullptr;
  }
  sqlite3_busy_timeout(db, busy_ms);
  sqlite3_extended_result_codes(db, 1);
  // A file that is no catalog of ours is refused before anything changes it.
  if (!store->check_schema(error) || !restrict_database_files(path, error) ||
      !store->enter_wal(error) || !store->exec("PRAGMA synchronous=NORMAL", error)) {
    name_unwritable_cause(db, path, error);
    return nullptr;
  }
  return store;
}

Catalog_Store::~Catalog_Store() { sqlite3_close_v2(db_); }

bool Catalog_Store::exec(const char* sql, std::string& error) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) == SQLITE_OK) return true;
  error = std::string(sql) + ": " + (msg != nullptr ? msg : sqlite3_errmsg(db_));
  sqlite3_free(msg);
  return false;
}

// WAL lets readers go on while one process writes; a new catalog is made in WAL mode, a
// catalog made before that is switched here. The switch takes a lock for which SQLite
// does not call the busy handler, so several processes opening such a catalog at once
// retry here, within the same busy wait.
bool Catalog_Store::enter_wal(std::string& error) {
  const int step_ms = 10;
  for (int waited = 0;; waited += step_ms) {
    const int rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return true;
    const int primary = rc & 0xff;
    if ((primary != SQLITE_BUSY && primary != SQLITE_LOCKED) || waited >= busy_ms_) {
      error = db_error(db_, "PRAGMA journal_mode=WAL");
      return false;
    }
    sqlite3_sleep(step_ms);
  }
}

// The database must hold this host's schema (or an older one): a database without the
// table of backup sets, an empty file included, and a file that is no database are
// damaged. Only reads: a file that is not a catalog is left as it was found.
bool Catalog_Store::check_schema(std::string& error) {
  int64_t version = 0, catalog_tables = 0;
  if (!query_int("PRAGMA user_version", version, error) ||
      !query_int("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                 "name = 'backup_sets'",
                 catalog_tables, error)) {
    if (is_damage(sqlite3_extended_errcode(db_)))
      error = std::string("the catalog database is damaged: ") + sqlite3_errmsg(db_);
    return false;
  }
  if (version > SCHEMA_VERSION) {
    error = "the catalog was made by a newer host (schema " + std::to_string(version) + ")";
    return false;
  }
  if (version == 0 || catalog_tables == 0) {
    error = "the catalog database is damaged: its table of backup sets is missing";
    return false;
  }
  return true;
}

bool Catalog_Store::query_int(const char* sql, int64_t& out, std::string& error) {
  Stmt s = prepare(db_, sql, error);
  if (!s) return false;
  if (sqlite3_step(s.get()) != SQLITE_ROW) {
    error = db_error(db_, sql);
    return false;
  }
  out = sqlite3_column_int64(s.get(), 0);
  return true;
}

bool Catalog_Store::put(const Stored_Set& set, bool durable, std::string& error) {
  const std::string sql =
      std::string("INSERT INTO backup_sets (") + COLUMNS +
      ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (uuid) DO UPDATE SET "
      "module = excluded.module, resource_uuid = excluded.resource_uuid, "
      "minor_resource_id = excluded.minor_resource_id, timepoint = excluded.timepoint, "
      "start_time = excluded.start_time, end_time = excluded.end_time, name = excluded.name, "
      "type = excluded.type, committed_at = excluded.committed_at, body = excluded.body";
  Stmt s = prepare(db_, sql, error);
  if (!s) return false;
  bind_text(s.get(), 1, set.uuid);
  bind_text(s.get(), 2, set.module);
  bind_text(s.get(), 3, set.resource_uuid);
  bind_text(s.get(), 4, set.minor_resource_id);
  bind_text(s.get(), 5, set.timepoint);
  sqlite3_bind_int64(s.get(), 6, set.start_time);
  sqlite3_bind_int64(s.get(), 7, set.end_time);
  bind_text(s.get(), 8, set.name);
  bind_text(s.get(), 9, set.type);
  sqlite3_bind_int64(s.get(), 10, set.committed_at);
  bind_text(s.get(), 11, set.body);
  if (durable && !exec("PRAGMA synchronous=FULL", error)) return false;
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_DONE) error = db_error(db_, "insert");
  if (durable) {
    std::string ignored;
    exec("PRAGMA synchronous=NORMAL", ignored);
  }
  return rc == SQLITE_DONE;
}

bool Catalog_Store::find(const std::string& module, const std::string& resource_uuid,
                         const std::string& minor_resource_id, const std::string& timepoint,
                         std::vector<Stored_Set>& out, std::string& error) {
  Stmt s = prepare(db_,
                   std::string("SELECT ") + COLUMNS +
                       " FROM backup_sets WHERE module = ? AND resource_uuid = ? AND "
                       "minor_resource_id = ? AND timepoint = ? ORDER BY seq DESC",
                   error);
  if (!s) return false;
  bind_text(s.get(), 1, module);
  bind_text(s.get(), 2, resource_uuid);
  bind_text(s.get(), 3, minor_resource_id);
  bind_text(s.get(), 4, timepoint);
  return read_rows(db_, s.get(), out, error);
}

bool Catalog_Store::all(const std::string& module, std::vector<Stored_Set>& out,
                        std::string& error) {
  Stmt s = prepare(db_,
                   std::string("SELECT ") + COLUMNS +
                       " FROM backup_sets WHERE ? = '' OR module = ? "
                       "ORDER BY start_time DESC, seq DESC",
                   error);
  if (!s) return false;
  bind_text(s.get(), 1, module);
  bind_text(s.get(), 2, module);
  return read_rows(db_, s.get(), out, error);
}

}  // namespace catalog
