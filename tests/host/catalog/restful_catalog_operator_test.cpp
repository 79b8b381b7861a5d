#include "catalog/restful_catalog_operator.h"

#include "backup_set/common/tavro_backup_set.h"
#include "sample_sets.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

bool commit(const std::string& uuid, const std::string& instance, time_t start = T1, bool sync = true) {
  return make_operator()->commit(test::sample_set(uuid, "res-1", instance, start), sync);
}

Keys restore_keys(const std::string& resource, const std::string& instance, const std::string& timepoint) {
  return {{"resource_uuid", resource}, {"instance_id", instance}, {"timepoint", timepoint}};
}

// The uuids the restore view answers, in its order, space-separated; "failed" when it fails.
std::string view(const std::string& resource, const std::string& instance, const std::string& timepoint,
                 const std::string& module = "tavro") {
  js::Value out;
  if (!make_operator()->get_view(module, "restore", restore_keys(resource, instance, timepoint), out)) return "failed";
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

// Stable, distinct (the two parts never run together), uuid-shaped; refused without a part.
TEST(Compute_Minor_Resource_Id, StableDistinctAndUuidShaped) {
  std::string a, b, c, ab_c, a_bc, out = "old";
  ASSERT_TRUE(compute_minor_resource_id("res-1", "i-1", a) && compute_minor_resource_id("res-1", "i-1", b) &&
              compute_minor_resource_id("res-1", "i-2", c) && compute_minor_resource_id("ab", "c", ab_c) &&
              compute_minor_resource_id("a", "bc", a_bc));
  EXPECT_TRUE(a == b && a != c && ab_c != a_bc);
  EXPECT_TRUE(a.size() == 36 && a[14] == '8' && std::string("89ab").find(a[19]) != std::string::npos) << a;
  EXPECT_FALSE(compute_minor_resource_id("", "i-1", out) || compute_minor_resource_id("res-1", "", out) || out != "");
}

// The restore view answers the sets of one instance at one second, in any of the three
// time forms, newest commit first (the restore applies them last to first, so the first
// one's blocks win), each record whole; a repeated commit replaces the record in its
// place; the listing is newest first and by module.
TEST_F(Catalog, CommittedSetsAreFoundByTheViewAndTheListing) {
  ASSERT_TRUE(commit("first", "i-1") && commit("c", "i-2") && commit("b", "i-1", T2, false));
  ASSERT_TRUE(make_operator()->commit(test::sample_set("d", "res-2", "i-1", T1), true));
  auto op = make_operator();  // one connection for several commits
  ASSERT_TRUE(op->commit(test::sample_set("second", "res-1", "i-1", T1), true));
  Tavro_Backup_Set renamed = test::sample_set("first", "res-1", "i-1", T1);
  renamed.name = "renamed";
  ASSERT_TRUE(op->commit(renamed, true));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"res-1", "i-1", "20240501120000"}, "second first"}, {{"res-1", "i-1", "2024-05-01T12:00:00Z"}, "second first"},
      {{"res-1", "i-1", "2024-05-01 12:00:00"}, "second first"}, {{"res-1", "i-1", "20240502120000"}, "b"},
      {{"res-1", "i-2", "20240501120000"}, "c"}, {{"res-2", "i-1", "20240501120000"}, "d"},
      {{"res-1", "i-1", "20240501120001"}, ""}, {{"res-1", "i-3", "20240501120000"}, ""},
      {{"res-3", "i-1", "20240501120000"}, ""}, {{"res-1", "i-1", "20240501120000", "other"}, ""}};
  for (const auto& c : cases) {
    const std::vector<std::string>& k = c.first;
    EXPECT_EQ(view(k[0], k[1], k[2], k.size() > 3 ? k[3] : "tavro"), c.second) << k[1] << " " << k[2];
  }
  js::Value out;
  ASSERT_TRUE(op->get_view("tavro", "restore", restore_keys("res-1", "i-1", renamed.timepoint()), out));
  EXPECT_EQ(js::Value(renamed.to_object()), out.get_array().at(1));
  EXPECT_EQ(list() + "/" + list("other"), "b second d c first/");
  std::vector<Catalog_Entry> all;
  ASSERT_TRUE(op->list("tavro", all));
  EXPECT_EQ(all[4].name + " " + all[4].module + " " + all[4].timepoint + " " + std::to_string(all[4].start_time),
            "renamed tavro 20240501120000 " + std::to_string(T1));
  EXPECT_EQ(js::Value(renamed.to_object()), js::Value(all[4].set));
}

// Sets the catalog could never find again are refused, each with one logged reason; so
// are bad view requests, which leave the output alone.
TEST_F(Catalog, RefusesSetsItCouldNeverFindAndBadViewRequests) {
  using Edit = std::function<void(Tavro_Backup_Set&)>;
  const std::pair<const char*, Edit> sets[] = {
      {"no uuid", [](Tavro_Backup_Set& s) { s.uuid.clear(); }},
      {"no resource", [](Tavro_Backup_Set& s) { s.resource_uuid.clear(); }},
      {"no minor id", [](Tavro_Backup_Set& s) { s.minor_resource_id.clear(); }},
      {"start beyond 9999", [](Tavro_Backup_Set& s) { s.start_time = 253402300800; }},
      {"name not UTF-8", [](Tavro_Backup_Set& s) { s.name = "\xff\xfe"; }}};
  auto op = make_operator();
  for (const auto& c : sets) {
    Tavro_Backup_Set s = test::sample_set("set-1", "res-1", "i-1", T1);
    c.second(s);
    test::Log_Capture log;
    EXPECT_TRUE(!op->commit(s, true) && log.entries().size() == 1) << c.first;
  }
  Backup_Set no_module;
  std::tie(no_module.uuid, no_module.resource_uuid, no_module.minor_resource_id) = std::make_tuple("set-2", "res-1", "m");
  test::Log_Capture log;
  EXPECT_FALSE(op->commit(no_module, true));
  EXPECT_TRUE(log.contains("Refused to commit backup set 'set-2'", LM_ERROR));
  EXPECT_EQ(list(), "");
  ASSERT_TRUE(commit("a", "i-1"));
  const char* needs = "needs resource_uuid, instance_id and timepoint";
  const std::tuple<const char*, Keys, const char*> views[] = {
      {"list", restore_keys("res-1", "i-1", "20240501120000"), "Unknown catalog view list"},
      {"restore", {{"resource_uuid", "res-1"}, {"instance_id", "i-1"}}, needs},
      {"restore", restore_keys("res-1", "", "20240501120000"), needs},
      {"restore", restore_keys("res-1", "i-1", "1714564800"), "Invalid catalog time point '1714564800'"},
      {"restore", restore_keys("res-1", "i-1", "20240230120000"), "Invalid catalog time point"}};
  for (const auto& c : views) {
    log.clear();
    js::Value out("untouched");
    EXPECT_TRUE(!op->get_view("tavro", std::get<0>(c), std::get<1>(c), out) && out == js::Value("untouched"));
    EXPECT_TRUE(log.contains(std::get<2>(c), LM_ERROR)) << log.text();
  }
}

// Several processes, each with threads of their own connections, commit at once to a
// catalog none of them has opened yet, then threads sharing one connection: every set
// lands (a descriptor of the database closed by one thread must not drop the
// file locks another thread's connection holds).
TEST_F(Catalog, ConcurrentCommitsFromThreadsAndProcessesAllLand) {
  // `threads` threads commit 20 sets each, through their own connections or all through
  // `shared`; the failures.
  auto commit_from_threads = [](const std::string& prefix, int threads, RESTful_Catalog_Operator* shared) {
    std::atomic<int> failed{0};
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t)
      ts.emplace_back([&, t] {
        std::unique_ptr<RESTful_Catalog_Operator> own = shared ? nullptr : make_operator();
        for (int i = 0; i < 20; ++i) {
          const std::string id = prefix + std::to_string(t * 100 + i);
          failed += !(own ? *own : *shared).commit(test::sample_set("p" + id, "res-1", "i-" + id, T1 + i), shared && i % 5 == 0);
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
  EXPECT_EQ(view("res-1", "i-1307", "20240501120007") + view("res-1", "i-0307", "20240501120007"), "p1307p0307");
}

// A damaged entry fails the view and the listing rather than answering partly (the
// listing that names it and keeps the rest is driven end to end by the runner's tests); a
// database of a newer schema or without its table is refused as damaged; only an empty
// one is initialised.
TEST_F(Catalog, DamagedEntriesAndForeignDatabasesAreRefused) {
  const char* damaged = "the catalog database is damaged";
  // {change made with a connection of the test's own, the view's and listing's answer,
  // a commit lands, the log says}
  const std::tuple<const char*, std::string, bool, const char*> cases[] = {
      {"UPDATE backup_sets SET body = '{\"uuid\": ' WHERE uuid = 'a'", "failed", true,
       "Catalog entry of backup set a is damaged"},
      {"PRAGMA user_version = 9", "failed", false, "made by a newer host"},
      {"DROP TABLE backup_sets", "failed", false, damaged},
      {"DROP TABLE backup_sets; PRAGMA user_version = 0; CREATE TABLE other (x)", "failed", false, damaged},
      {"DROP TABLE backup_sets; PRAGMA user_version = 0; VACUUM", "", true, ""}};  // empty again
  const std::string path = RESTful_Catalog_Operator::database_path();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::get<0>(c));
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(path + suffix);
    ASSERT_TRUE(commit("a", "i-1"));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, std::get<0>(c), nullptr, nullptr, nullptr));
    sqlite3_close(db);
    test::Log_Capture log;
    EXPECT_EQ(view("res-1", "i-1", "20240501120000") + "/" + list(), std::get<1>(c) + "/" + std::get<1>(c));
    EXPECT_EQ(commit("b", "i-1", T2), std::get<2>(c));
    EXPECT_TRUE(log.contains(std::get<3>(c), LM_ERROR) || !*std::get<3>(c)) << log.text();
  }
}

// The database is its owner's alone (also one made before that rule); a missing home
// is made, an unusable one reported.
TEST_F(Catalog, HomeAndDatabaseAreTheOwnersAlone) {
  ASSERT_TRUE(commit("a", "i-1"));
  const std::string path = RESTful_Catalog_Operator::database_path();
  fs::permissions(path, fs::perms(0644));
  ASSERT_TRUE(commit("b", "i-1"));
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
  const std::string nested = dir() + "/a/b/home";
  ::setenv("QUILLON3_ROOT", nested.c_str(), 1);
  EXPECT_TRUE(commit("a", "i-1") && fs::exists(nested + "/catalog.db"));
  std::ofstream(dir() + "/plain-file") << "x";
  ::setenv("QUILLON3_ROOT", (dir() + "/plain-file/home").c_str(), 1);
  test::Log_Capture log;
  EXPECT_FALSE(commit("b", "i-1"));
  EXPECT_TRUE(log.contains("Failed to open catalog", LM_ERROR));
}

}  // namespace
