#include "catalog/restful_catalog_operator.h"

#include "backup_set/common/tavro_backup_set.h"
#include "sample_sets.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace js = json_spirit;

namespace {

const time_t T1 = 1714564800;  // 20240501120000
const time_t T2 = 1714651200;  // 20240502120000

std::unique_ptr<RESTful_Catalog_Operator> make_operator() {
  return std::make_unique<RESTful_Catalog_Operator>("127.0.0.1", 8443, true, "access-key", -1, 3);
}

std::map<std::string, std::string> restore_keys(const std::string& resource,
                                                const std::string& instance,
                                                const std::string& timepoint) {
  return {{"resource_uuid", resource}, {"instance_id", instance}, {"timepoint", timepoint}};
}

// The uuids of the sets the restore view answers, in its order; "failed" when it fails.
std::vector<std::string> view_uuids(RESTful_Catalog_Operator& op, const std::string& resource,
                                    const std::string& instance, const std::string& timepoint,
                                    const std::string& module = "tavro") {
  js::Value out;
  if (!op.get_view(module, "restore", restore_keys(resource, instance, timepoint), out)) {
    return {"failed"};
  }
  std::vector<std::string> uuids;
  for (const js::Value& v : out.get_array()) {
    uuids.push_back(js::object_get_str_or_throw(v.get_obj(), "uuid"));
  }
  return uuids;
}

class Catalog : public test::Temp_Home_Test {
 protected:
  Catalog() : Temp_Home_Test("quillon3-catalog-test-") {}
};

TEST(Compute_Minor_Resource_Id, StableDistinctAndUuidShaped) {
  std::string a, b, c;
  ASSERT_TRUE(compute_minor_resource_id("res-1", "i-1", a));
  ASSERT_TRUE(compute_minor_resource_id("res-1", "i-1", b));
  EXPECT_EQ(a, b);
  ASSERT_EQ(36u, a.size());
  EXPECT_EQ('8', a[14]);
  EXPECT_NE(std::string::npos, std::string("89ab").find(a[19]));
  ASSERT_TRUE(compute_minor_resource_id("res-1", "i-2", c));
  EXPECT_NE(a, c);
  std::string ab_c, a_bc;  // the two parts never run together
  compute_minor_resource_id("ab", "c", ab_c);
  compute_minor_resource_id("a", "bc", a_bc);
  EXPECT_NE(ab_c, a_bc);

  std::string out = "old";
  EXPECT_FALSE(compute_minor_resource_id("", "i-1", out));
  EXPECT_EQ("", out);
  EXPECT_FALSE(compute_minor_resource_id("res-1", "", out));
}

TEST_F(Catalog, RestoreViewAnswersTheSetsOfThatInstanceAtThatTimePoint) {
  auto op = make_operator();
  ASSERT_TRUE(op->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  ASSERT_TRUE(op->commit(test::sample_set("b", "res-1", "i-1", T2), false));
  ASSERT_TRUE(op->commit(test::sample_set("c", "res-1", "i-2", T1), true));
  ASSERT_TRUE(op->commit(test::sample_set("d", "res-2", "i-1", T1), true));
  EXPECT_TRUE(std::filesystem::exists(dir() + "/catalog.db"));

  // A second connection sees what the first committed.
  auto reader = make_operator();
  struct Case {
    const char* resource;
    const char* instance;
    const char* timepoint;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"res-1", "i-1", "20240501120000", {"a"}},
      {"res-1", "i-1", "2024-05-01T12:00:00Z", {"a"}},
      {"res-1", "i-1", "2024-05-01 12:00:00", {"a"}},
      {"res-1", "i-1", "20240502120000", {"b"}},
      {"res-1", "i-2", "20240501120000", {"c"}},
      {"res-2", "i-1", "20240501120000", {"d"}},
      {"res-1", "i-1", "20240501120001", {}},  // no backup started that second
      {"res-1", "i-3", "20240501120000", {}},
      {"res-3", "i-1", "20240501120000", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.resource) + " " + c.instance + " " + c.timepoint);
    EXPECT_EQ(c.expected, view_uuids(*reader, c.resource, c.instance, c.timepoint));
  }
  EXPECT_EQ(std::vector<std::string>{}, view_uuids(*reader, "res-1", "i-1", "20240501120000", "other"));
}

// The restore applies the sets of one time point from the last element of the answer to
// the first, so the first element's blocks win: it must be the newest commit.
TEST_F(Catalog, SetsOfOneTimePointComeNewestCommitFirst) {
  auto op = make_operator();
  ASSERT_TRUE(op->commit(test::sample_set("first", "res-1", "i-1", T1), true));
  ASSERT_TRUE(op->commit(test::sample_set("other", "res-1", "i-2", T1), true));
  ASSERT_TRUE(op->commit(test::sample_set("second", "res-1", "i-1", T1), true));
  ASSERT_TRUE(make_operator()->commit(test::sample_set("third", "res-1", "i-1", T1), true));
  EXPECT_EQ((std::vector<std::string>{"third", "second", "first"}),
            view_uuids(*op, "res-1", "i-1", "20240501120000"));
}

TEST_F(Catalog, ViewAnswersTheCommittedRecordWhole) {
  const Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", T1);
  ASSERT_TRUE(make_operator()->commit(s, true));
  js::Value out;
  ASSERT_TRUE(make_operator()->get_view("tavro", "restore",
                                        restore_keys("res-1", "i-1", s.timepoint()), out));
  ASSERT_EQ(1u, out.get_array().size());
  EXPECT_EQ(js::Value(s.to_object()), out.get_array()[0]);
}

TEST_F(Catalog, RepeatedCommitReplacesTheSet) {
  auto op = make_operator();
  Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", T1);
  ASSERT_TRUE(op->commit(s, true));
  s.name = "renamed";
  ASSERT_TRUE(op->commit(s, true));
  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(op->list("", all));
  ASSERT_EQ(1u, all.size());
  EXPECT_EQ("renamed", all[0].name);
  EXPECT_EQ("renamed", js::object_get_str_or_throw(all[0].set, "name"));
}

TEST_F(Catalog, RefusesSetsItCouldNeverFind) {
  using Edit = std::function<void(Tavro_Backup_Set&)>;
  const std::pair<const char*, Edit> cases[] = {
      {"no uuid", [](Tavro_Backup_Set& s) { s.uuid.clear(); }},
      {"no resource", [](Tavro_Backup_Set& s) { s.resource_uuid.clear(); }},
      {"no minor id", [](Tavro_Backup_Set& s) { s.minor_resource_id.clear(); }},
      {"start beyond 9999", [](Tavro_Backup_Set& s) { s.start_time = 253402300800; }},
      {"name not UTF-8", [](Tavro_Backup_Set& s) { s.name = "\xff\xfe"; }},
  };
  auto op = make_operator();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", T1);
    c.second(s);
    test::Log_Capture log;
    EXPECT_FALSE(op->commit(s, true));
    EXPECT_EQ(1u, log.entries().size());
  }
  Backup_Set no_module;
  no_module.uuid = "set-2";
  no_module.resource_uuid = "res-1";
  no_module.minor_resource_id = "m";
  test::Log_Capture log;
  EXPECT_FALSE(op->commit(no_module, true));
  EXPECT_TRUE(log.contains("Refused to commit backup set 'set-2'", LM_ERROR));
  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(op->list("", all));
  EXPECT_TRUE(all.empty());
}

TEST_F(Catalog, BadViewRequestsFailAndLeaveTheOutputAlone) {
  ASSERT_TRUE(make_operator()->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  struct Case {
    const char* what;
    const char* view;
    std::map<std::string, std::string> keys;
    const char* message;
  };
  const Case cases[] = {
      {"unknown view", "list", restore_keys("res-1", "i-1", "20240501120000"),
       "Unknown catalog view list"},
      {"no timepoint", "restore", {{"resource_uuid", "res-1"}, {"instance_id", "i-1"}},
       "needs resource_uuid, instance_id and timepoint"},
      {"empty instance", "restore", restore_keys("res-1", "", "20240501120000"),
       "needs resource_uuid, instance_id and timepoint"},
      {"epoch seconds", "restore", restore_keys("res-1", "i-1", "1714564800"),
       "Invalid catalog time point '1714564800'"},
      {"no such day", "restore", restore_keys("res-1", "i-1", "20240230120000"),
       "Invalid catalog time point"},
  };
  auto op = make_operator();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::Log_Capture log;
    js::Value out("untouched");
    EXPECT_FALSE(op->get_view("tavro", c.view, c.keys, out));
    EXPECT_EQ(js::Value("untouched"), out);
    EXPECT_TRUE(log.contains(c.message, LM_ERROR)) << log.text();
  }
}

TEST_F(Catalog, ListsNewestFirstAndByModule) {
  auto op = make_operator();
  ASSERT_TRUE(op->commit(test::sample_set("old", "res-1", "i-1", T1), true));
  ASSERT_TRUE(op->commit(test::sample_set("new", "res-1", "i-2", T2), true));
  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(op->list("", all));
  ASSERT_EQ(2u, all.size());
  EXPECT_EQ(all[0].uuid + " " + all[1].uuid + " " + all[1].module + " " + all[1].timepoint,
            "new old tavro 20240501120000");
  EXPECT_EQ(T1, all[1].start_time);
  EXPECT_EQ("i-1", js::object_get_str_or_throw(all[1].set, "instance_id"));

  std::vector<Catalog_Entry> other = {Catalog_Entry()};
  ASSERT_TRUE(op->list("other", other));
  EXPECT_TRUE(other.empty());
}

TEST_F(Catalog, ConcurrentCommitsFromManyThreadsAllLand) {
  constexpr int kThreads = 8;
  constexpr int kSets = 25;
  auto shared = make_operator();
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures, &shared] {
      // Half the threads hold their own connection, half share one operator.
      std::unique_ptr<RESTful_Catalog_Operator> own = t % 2 == 0 ? make_operator() : nullptr;
      RESTful_Catalog_Operator& op = own ? *own : *shared;
      for (int i = 0; i < kSets; ++i) {
        const std::string id = std::to_string(t) + "-" + std::to_string(i);
        if (!op.commit(test::sample_set("set-" + id, "res-1", "i-" + id, T1 + i), i % 5 == 0)) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), failures);

  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(make_operator()->list("tavro", all));
  std::set<std::string> uuids;
  for (const Catalog_Entry& e : all) uuids.insert(e.uuid);
  EXPECT_EQ(size_t{kThreads * kSets}, uuids.size());
  EXPECT_EQ(std::vector<std::string>{"set-3-7"},
            view_uuids(*make_operator(), "res-1", "i-3-7", "20240501120007"));
}

TEST_F(Catalog, ConcurrentCommitsFromSeveralProcessesAllLand) {
  constexpr int kChildren = 3;
  constexpr int kSets = 20;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t pid = ::fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
      auto op = make_operator();
      int failed = 0;
      for (int i = 0; i < kSets; ++i) {
        const std::string id = std::to_string(c) + "-" + std::to_string(i);
        if (!op->commit(test::sample_set("set-" + id, "res-1", "i-" + id, T1), true)) ++failed;
      }
      op.reset();
      ::_exit(failed == 0 ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(make_operator()->list("", all));
  EXPECT_EQ(size_t{kChildren * kSets}, all.size());
}

// Writes `sql` into the catalog database with a connection of the test's own.
void poke(const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(RESTful_Catalog_Operator::database_path().c_str(), &db));
  char* msg = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg)) << (msg ? msg : "");
  sqlite3_free(msg);
  sqlite3_close(db);
}

TEST_F(Catalog, DamagedEntryFailsTheViewInsteadOfAnsweringPartly) {
  ASSERT_TRUE(make_operator()->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  poke("UPDATE backup_sets SET body = '{\"uuid\": ' WHERE uuid = 'a'");
  test::Log_Capture log;
  js::Value out;
  EXPECT_FALSE(make_operator()->get_view("tavro", "restore",
                                         restore_keys("res-1", "i-1", "20240501120000"), out));
  EXPECT_TRUE(log.contains("Catalog entry of backup set a is damaged", LM_ERROR));
}

// The listing keeps the sets that read, names the damaged one and says it failed.
TEST_F(Catalog, DamagedEntryIsNamedAndLeftOutOfTheListing) {
  auto op = make_operator();
  ASSERT_TRUE(op->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  ASSERT_TRUE(op->commit(test::sample_set("b", "res-1", "i-2", T2), true));
  poke("UPDATE backup_sets SET body = '[1]' WHERE uuid = 'a'");
  test::Log_Capture log;
  std::vector<Catalog_Entry> all;
  std::vector<std::string> damaged;
  EXPECT_FALSE(make_operator()->list("", all, &damaged));
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].uuid, "b");
  EXPECT_EQ(damaged, std::vector<std::string>{"a"});
}

// The catalog is readable by its owner only, also one made before that rule.
TEST_F(Catalog, DatabaseIsTheOwnersAlone) {
  ASSERT_TRUE(make_operator()->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  const std::string path = RESTful_Catalog_Operator::database_path();
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(make_operator()->commit(test::sample_set("b", "res-1", "i-1", T1), true));
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Catalog, RefusesADatabaseOfANewerSchema) {
  ASSERT_TRUE(make_operator()->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  poke("PRAGMA user_version = 9");
  test::Log_Capture log;
  EXPECT_FALSE(make_operator()->commit(test::sample_set("b", "res-1", "i-1", T2), true));
  EXPECT_TRUE(log.contains("made by a newer host", LM_ERROR));
}

TEST_F(Catalog, ADatabaseWithoutItsTableIsDamagedAndOnlyAnEmptyOneIsInitialised) {
  struct Case {
    const char* sql;  // applied to a catalog holding one set
    bool usable;
  };
  const Case cases[] = {
      {"DROP TABLE backup_sets", false},
      {"DROP TABLE backup_sets; PRAGMA user_version = 0; CREATE TABLE other (x)", false},
      {"DROP TABLE backup_sets; PRAGMA user_version = 0; VACUUM", true},  // empty again
  };
  for (const Case& c : cases) {
    for (const char* suffix : {"", "-wal", "-shm"})
      std::filesystem::remove(RESTful_Catalog_Operator::database_path() + suffix);
    ASSERT_TRUE(make_operator()->commit(test::sample_set("a", "res-1", "i-1", T1), true));
    poke(c.sql);
    test::Log_Capture log;
    std::vector<Catalog_Entry> all;
    EXPECT_EQ(make_operator()->list("", all), c.usable) << c.sql;
    EXPECT_TRUE(all.empty()) << c.sql;
    EXPECT_EQ(make_operator()->commit(test::sample_set("b", "res-1", "i-1", T2), true), c.usable)
        << c.sql;
    EXPECT_EQ(log.contains("the catalog database is damaged", LM_ERROR), !c.usable) << c.sql;
  }
}

TEST_F(Catalog, MakesAMissingHomeAndReportsAnUnusableOne) {
  const std::string nested = dir() + "/a/b/home";
  ::setenv("QUILLON3_ROOT", nested.c_str(), 1);
  EXPECT_TRUE(make_operator()->commit(test::sample_set("a", "res-1", "i-1", T1), true));
  EXPECT_TRUE(std::filesystem::exists(nested + "/catalog.db"));

  const std::string file = dir() + "/plain-file";
  { std::ofstream(file) << "x"; }
  ::setenv("QUILLON3_ROOT", (file + "/home").c_str(), 1);
  test::Log_Capture log;
  EXPECT_FALSE(make_operator()->commit(test::sample_set("b", "res-1", "i-1", T1), true));
  EXPECT_TRUE(log.contains("Failed to open catalog", LM_ERROR));
}

}  // namespace
