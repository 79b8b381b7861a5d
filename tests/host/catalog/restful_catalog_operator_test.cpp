#include "catalog/restful_catalog_operator.h"

#include "backup_set/common/tavro_backup_set.h"
#include "sample_sets.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace js = json_spirit;
namespace fs = std::filesystem;

namespace {

const time_t T1 = 1714564800;  // 20240501120000
const time_t T2 = 1714651200;  // 20240502120000
using Keys = std::map<std::string, std::string>;

std::unique_ptr<RESTful_Catalog_Operator> make_operator() {
  return std::make_unique<RESTful_Catalog_Operator>("127.0.0.1", 8443, true, "access-key", -1, 3);
}

// Commits the sample set `uuid` of instance `instance` of "res-1", started at `start`.
bool commit(const std::string& uuid, const std::string& instance, time_t start = T1,
            bool sync = true) {
  return make_operator()->commit(test::sample_set(uuid, "res-1", instance, start), sync);
}

Keys restore_keys(const std::string& instance, const std::string& timepoint,
                  const std::string& resource = "res-1") {
  return {{"resource_uuid", resource}, {"instance_id", instance}, {"timepoint", timepoint}};
}

// The uuids the restore view answers, in its order, space-separated; "failed" when it fails.
std::string view(const std::string& instance, const std::string& timepoint,
                 const std::string& resource = "res-1", const std::string& module = "tavro") {
  js::Value out;
  const Keys keys = restore_keys(instance, timepoint, resource);
  if (!make_operator()->get_view(module, "restore", keys, out)) return "failed";
  std::string uuids;
  for (const js::Value& v : out.get_array())
    uuids += (uuids.empty() ? "" : " ") + js::object_get_str_or_throw(v.get_obj(), "uuid");
  return uuids;
}

std::string list(const std::string& module = "") {
  std::vector<Catalog_Entry> all;
  if (!make_operator()->list(module, all)) return "failed";
  std::string uuids;
  for (const Catalog_Entry& e : all) uuids += (uuids.empty() ? "" : " ") + e.uuid;
  return uuids;
}

using Catalog = test::Temp_Home_Test;  // each test in a fresh host home

// Counts the syncs SQLite asks of the write-ahead logs it opens while the object lives,
// by standing in as the default VFS in front of the real one. Connections opened
// meanwhile must be closed before it goes.
class Log_Sync_Counter {
 public:
  Log_Sync_Counter() {
    vfs_ = *real_;
    vfs_.zName = "log-sync-counter";
    vfs_.xOpen = [](sqlite3_vfs*, const char* name, sqlite3_file* f, int flags, int* out) {
      const int rc = real_->xOpen(real_, name, f, flags, out);
      if (rc != SQLITE_OK || f->pMethods == nullptr || !(flags & SQLITE_OPEN_WAL)) return rc;
      if (real_methods_ == nullptr) {
        real_methods_ = f->pMethods;
        counting_ = *f->pMethods;
        counting_.xSync = [](sqlite3_file* file, int sync_flags) {
          ++syncs_;
          return real_methods_->xSync(file, sync_flags);
        };
      }
      if (f->pMethods == real_methods_) f->pMethods = &counting_;
      return rc;
    };
    sqlite3_vfs_register(&vfs_, 1);
  }
  ~Log_Sync_Counter() { sqlite3_vfs_unregister(&vfs_); }
  int take() { return syncs_.exchange(0); }

 private:
  static inline sqlite3_vfs* const real_ = sqlite3_vfs_find(nullptr);
  static inline const sqlite3_io_methods* real_methods_ = nullptr;
  static inline sqlite3_io_methods counting_{};
  static inline std::atomic<int> syncs_{0};
  sqlite3_vfs vfs_;
};

// Stable, distinct (the two parts never run together), uuid-sized; refused without a part.
TEST(Compute_Minor_Resource_Id, StableDistinctAndUuidShaped) {
  // The id, or "refused:" and what is left of the output.
  auto id = [](const char* resource, const char* instance) {
    std::string out = "old";
    return compute_minor_resource_id(resource, instance, out) ? out : "refused:" + out;
  };
  const std::string a = id("res-1", "i-1");
  EXPECT_TRUE(a == id("res-1", "i-1") && a != id("res-1", "i-2") && id("ab", "c") != id("a", "bc"));
  EXPECT_EQ(a.size(), 36u);
  EXPECT_EQ(id("", "i-1") + id("res-1", ""), "refused:refused:");
}

// The restore view answers the sets of one instance at one second, in any time form,
// newest commit first (the restore applies them last to first, so the first one's blocks
// win), each record whole; a repeated commit replaces the record in its place; the
// listing is newest first and by module.
TEST_F(Catalog, CommittedSetsAreFoundByTheViewAndTheListing) {
  ASSERT_TRUE(commit("first", "i-1") && commit("c", "i-2") && commit("b", "i-1", T2, false));
  ASSERT_TRUE(make_operator()->commit(test::sample_set("d", "res-2", "i-1", T1), true));
  auto op = make_operator();  // one connection for several commits
  ASSERT_TRUE(op->commit(test::sample_set("second", "res-1", "i-1", T1), true));
  Tavro_Backup_Set renamed = test::sample_set("first", "res-1", "i-1", T1);
  renamed.name = "renamed";
  ASSERT_TRUE(op->commit(renamed, true));
  struct Row { const char *instance, *timepoint, *uuids, *resource = "res-1", *module = "tavro"; };
  const Row rows[] = {{"i-1", "20240501120000", "second first"},
      {"i-1", "2024-05-01T12:00:00Z", "second first"}, {"i-1", "20240502120000", "b"},
      {"i-2", "20240501120000", "c"}, {"i-1", "20240501120000", "d", "res-2"},
      {"i-1", "20240501120001", ""}, {"i-1", "20240501120000", "", "res-3"},
      {"i-1", "20240501120000", "", "res-1", "other"}};
  for (const Row& r : rows) {
    EXPECT_EQ(view(r.instance, r.timepoint, r.resource, r.module), r.uuids)
        << r.instance << " " << r.timepoint << " " << r.resource << " " << r.module;
  }
  js::Value out;
  ASSERT_TRUE(op->get_view("tavro", "restore", restore_keys("i-1", renamed.timepoint()), out));
  EXPECT_EQ(js::Value(renamed.to_object()), out.get_array().at(1));
  EXPECT_EQ(list() + "/" + list("other"), "b second d c first/");
  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(op->list("tavro", all));
  const Catalog_Entry& e = all.at(4);
  EXPECT_EQ(e.name + " " + e.module + " " + e.timepoint + " " + std::to_string(e.start_time) +
                ".." + std::to_string(e.end_time),
            "renamed tavro 20240501120000 " + std::to_string(T1) + ".." +
                std::to_string(T1 + 300));
  EXPECT_EQ(js::Value(renamed.to_object()), js::Value(e.set));
}

// A durable commit is on disk when it returns, so that a power cut cannot lose the record
// of a backup whose images are in the pool: it syncs the database's log.
TEST_F(Catalog, DurableCommitSyncsBeforeItReturns) {
  Log_Sync_Counter log_syncs;
  auto op = make_operator();
  ASSERT_TRUE(op->commit(test::sample_set("a", "res-1", "i-1", T1), false));  // opens it
  log_syncs.take();
  ASSERT_TRUE(op->commit(test::sample_set("b", "res-1", "i-1", T1), true));
  EXPECT_GT(log_syncs.take(), 0);
}

// Sets the catalog could never find again are refused, each with one logged reason; so
// are bad view requests, which leave the output alone.
TEST_F(Catalog, RefusesSetsItCouldNeverFindAndBadViewRequests) {
  std::vector<Tavro_Backup_Set> sets(5, test::sample_set("set-1", "res-1", "i-1", T1));
  sets[0].uuid.clear();
  sets[1].resource_uuid.clear();
  sets[2].minor_resource_id.clear();
  sets[3].start_time = 253402300800;  // past the year 9999
  sets[4].name = "\xff\xfe";          // not UTF-8
  auto op = make_operator();
  for (size_t i = 0; i < sets.size(); ++i) {
    test::Log_Capture log;
    EXPECT_TRUE(!op->commit(sets[i], true) && log.entries().size() == 1) << i;
  }
  Backup_Set no_module;
  std::tie(no_module.uuid, no_module.resource_uuid, no_module.minor_resource_id) =
      std::make_tuple("set-2", "res-1", "m");
  test::Log_Capture log;
  EXPECT_FALSE(op->commit(no_module, true));
  EXPECT_TRUE(log.contains("Refused to commit backup set 'set-2'", LM_ERROR));
  EXPECT_EQ(list(), "");
  ASSERT_TRUE(commit("a", "i-1"));
  const char* needs = "needs resource_uuid, instance_id and timepoint";
  const std::tuple<const char*, Keys, const char*> views[] = {
      {"list", restore_keys("i-1", "20240501120000"), "Unknown catalog view list"},
      {"restore", {{"resource_uuid", "res-1"}, {"instance_id", "i-1"}}, needs},
      {"restore", restore_keys("", "20240501120000"), needs},
      {"restore", restore_keys("i-1", "1714564800"), "Invalid catalog time point '1714564800'"},
      {"restore", restore_keys("i-1", "20240230120000"), "Invalid catalog time point"}};
  for (const auto& [name, keys, error] : views) {
    log.clear();
    js::Value out("untouched");
    EXPECT_TRUE(!op->get_view("tavro", name, keys, out) && out == js::Value("untouched")) << name;
    EXPECT_TRUE(log.contains(error, LM_ERROR)) << log.text();
  }
}

// Several processes, each with threads of their own connections, commit at once to a
// catalog none of them has opened yet, then threads sharing one connection: every set
// lands (a descriptor of the database closed by one thread must not drop the
// file locks another thread's connection holds).
TEST_F(Catalog, ConcurrentCommitsFromThreadsAndProcessesAllLand) {
  // `threads` threads commit 20 sets each, through their own connections or all through
  // `shared`; the failures.
  auto commit_from_threads = [](const std::string& prefix, int threads,
                                RESTful_Catalog_Operator* shared) {
    std::atomic<int> failed{0};
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t)
      ts.emplace_back([&, t] {
        std::unique_ptr<RESTful_Catalog_Operator> own = shared ? nullptr : make_operator();
        for (int i = 0; i < 20; ++i) {
          const std::string id = prefix + std::to_string(t * 100 + i);
          const Tavro_Backup_Set set = test::sample_set("p" + id, "res-1", "i-" + id, T1 + i);
          failed += !(own ? *own : *shared).commit(set, shared && i % 5 == 0);
        }
      });
    for (auto& th : ts) th.join();
    return failed.load();
  };
  std::vector<pid_t> children;
  for (int c = 1; c <= 3; ++c) {
    const pid_t pid = ::fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) ::_exit(commit_from_threads(std::to_string(c), 8, nullptr) == 0 ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    EXPECT_TRUE(::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto shared = make_operator();
  EXPECT_EQ(commit_from_threads("0", 4, shared.get()), 0);
  const std::string uuids = list();
  EXPECT_EQ(std::count(uuids.begin(), uuids.end(), ' '), 3 * 8 * 20 + 4 * 20 - 1);
  EXPECT_EQ(view("i-1307", "20240501120007") + view("i-0307", "20240501120007"), "p1307p0307");
}

// A damaged entry fails the view and the listing rather than answering partly (the
// listing that names it and keeps the rest is driven end to end by the runner's tests); a
// database of a newer schema, without its table, or an existing file that is no catalog
// (an empty one included) is refused as damaged and left as it was: only a missing
// catalog is made.
TEST_F(Catalog, DamagedEntriesAndForeignDatabasesAreRefused) {
  const char* damaged = "the catalog database is damaged";
  // The change made to the catalog holding set a: a statement run with a connection of
  // the test's own, or the whole file replaced by a text.
  struct Row {
    const char* sql;
    const char* file_text;
    bool lands;         // a later commit lands
    const char* error;  // the log says; "": the view and the listing answer, else both fail
  };
  const Row rows[] = {
      {"UPDATE backup_sets SET body = '{\"uuid\": ' WHERE uuid = 'a'", nullptr, true,
       "Catalog entry of backup set a is damaged"},
      {"PRAGMA user_version = 9", nullptr, false, "made by a newer host"},
      {"DROP TABLE backup_sets", nullptr, false, damaged},
      {"DROP TABLE backup_sets; PRAGMA user_version = 0; CREATE TABLE other (x)", nullptr, false,
       damaged},
      {"DROP TABLE backup_sets; PRAGMA user_version = 0; VACUUM", nullptr, false, damaged},
      {nullptr, "", false, damaged},
      {nullptr, "not a database, but the notes of somebody's backups", false, damaged},
  };
  const std::string path = RESTful_Catalog_Operator::database_path();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.sql != nullptr ? row.sql : std::string("file: \"") + row.file_text + "\"");
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
    ASSERT_TRUE(commit("a", "i-1"));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, row.sql, nullptr, nullptr, nullptr));
    sqlite3_close(db);
    if (row.file_text != nullptr) std::ofstream(path, std::ios::trunc) << row.file_text;
    fs::permissions(path, fs::perms(0644));
    const auto size = fs::file_size(path);
    test::Log_Capture log;
    const std::string answer = *row.error ? "failed" : "";
    EXPECT_EQ(view("i-1", "20240501120000") + "/" + list(), answer + "/" + answer);
    EXPECT_EQ(commit("b", "i-1", T2), row.lands);
    EXPECT_TRUE(!*row.error || log.contains(row.error, LM_ERROR)) << log.text();
    EXPECT_TRUE(row.lands || fs::file_size(path) == size) << "a refused file was changed";
    EXPECT_TRUE(row.lands || fs::status(path).permissions() == fs::perms(0644))
        << "a refused file's mode was changed";
  }
}

// The database and its log are their owner's alone (also a database made before that
// rule); a symbolic link in the database's place is refused, its target left as it was;
// a missing home is made, holding the new catalog and nothing beside it; an unusable one
// reported.
TEST_F(Catalog, HomeAndDatabaseAreTheOwnersAlone) {
  ASSERT_TRUE(commit("a", "i-1"));
  const std::string path = RESTful_Catalog_Operator::database_path();
  fs::permissions(path, fs::perms(0644));
  {
    const std::unique_ptr<RESTful_Catalog_Operator> open = make_operator();
    ASSERT_TRUE(open->commit(test::sample_set("b", "res-1", "i-1", T1), true));
    for (const char* suffix : {"", "-wal", "-shm"})
      EXPECT_EQ(fs::status(path + suffix).permissions(), fs::perms(0600)) << suffix;
  }
  const std::string elsewhere = dir() + "/elsewhere.db";
  fs::rename(path, elsewhere);
  fs::permissions(elsewhere, fs::perms(0644));
  fs::create_symlink(elsewhere, path);
  {
    test::Log_Capture log;
    EXPECT_FALSE(commit("c", "i-1"));
    EXPECT_TRUE(log.contains("is not a regular file but a symbolic link", LM_ERROR)) << log.text();
  }
  EXPECT_EQ(fs::status(elsewhere).permissions(), fs::perms(0644));
  fs::remove(path);
  fs::rename(elsewhere, path);
  EXPECT_EQ(list(), "b a");
  const std::string nested = dir() + "/a/b/home";
  ::setenv("QUILLON3_ROOT", nested.c_str(), 1);
  ASSERT_TRUE(commit("a", "i-1"));
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(nested))
    names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"catalog.db"});
  std::ofstream(dir() + "/plain-file") << "x";
  ::setenv("QUILLON3_ROOT", (dir() + "/plain-file/home").c_str(), 1);
  test::Log_Capture log;
  EXPECT_FALSE(commit("b", "i-1"));
  EXPECT_TRUE(log.contains("Failed to open catalog", LM_ERROR) &&
              log.contains("plain-file/home: Not a directory", LM_ERROR))
      << log.text();
}

// A home on a read-only file system (so mounted in a private mount namespace of a child
// process): the view and the listing fail, and the log names the cause, never the
// error of the shared-memory file SQLite could not make beside the database.
TEST_F(Catalog, AReadOnlyHomeIsNamedAsTheCause) {
  ASSERT_TRUE(commit("a", "i-1"));
  int report[2];
  ASSERT_EQ(::pipe(report), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(report[0]);
    const char* home = dir().c_str();
    std::string said = "skip: cannot mount the home read-only in a private mount namespace";
    if (::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount(home, home, nullptr, MS_BIND, nullptr) == 0 &&
        ::mount(nullptr, home, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0) {
      test::Log_Capture log;
      said = view("i-1", "20240501120000") + "/" + list() + "\n";
      said += log.text();
    }
    const bool written = ::write(report[1], said.data(), said.size()) ==
                         static_cast<ssize_t>(said.size());
    _exit(written ? 0 : 1);
  }
  ::close(report[1]);
  std::string said;
  char buf[4096];
  for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) said.append(buf, n);
  ::close(report[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << said;
  if (said.compare(0, 5, "skip:") == 0) GTEST_SKIP() << said;
  EXPECT_EQ(said.substr(0, said.find('\n')), "failed/failed");
  EXPECT_THAT(said, ::testing::HasSubstr("the catalog cannot be written: " +
                                         RESTful_Catalog_Operator::database_path() +
                                         ": Read-only file system"));
  EXPECT_THAT(said, ::testing::Not(::testing::HasSubstr("No such file or directory")));
}

}  // namespace
