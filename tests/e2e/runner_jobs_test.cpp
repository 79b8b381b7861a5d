// The runner's backup and restore commands, black box: quillon3 loads the module, runs
// the jobs against the simulator with real loop devices and prints their history. A
// restored instance must hold the source's bytes; a broken definition gets one line and
// exit 1; Ctrl-C in the middle of a backup must leave nothing in the cloud or the pool.
#include <signal.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/job_driver.h"
#include "e2e/private_dev_disk.h"
#include "e2e/runner_process.h"
#include "e2e/sim_process.h"

namespace {

using json_spirit::Object;

class Runner_Jobs : public test::Runner_Test {
 protected:
  // The identity, the account "c1" of a cloud on `port` and the pool "p1".
  void prepare_home(uint16_t port) {
    ASSERT_NO_FATAL_FAILURE(init());
    ASSERT_NO_FATAL_FAILURE(add_account("c1", port));
    ASSERT_EQ(0, run("pool add --uuid p1 --name pool-one --dir " + tmp_.path() + "/pool").code);
  }

  // The agent and the instances i-a and i-b, each with a root and a data volume of
  // `gib` GiB; then the home for it.
  void start_cloud(int gib) {
    const std::string& skip = test::enter_private_dev_disk();
    if (!skip.empty()) GTEST_SKIP() << "e2e skipped: " << skip;
    test::Sim_Options options;
    options.seed = test::write_seed(tmp_.path() + "/seed.json",
                                    {test::seed_instance("a", "10.10.1.31", "running", gib),
                                     test::seed_instance("b", "10.10.1.32", "running", gib)});
    options.loop = "losetup";
    sim_ = std::make_unique<test::Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
    prepare_home(sim_->port());
  }

  static std::string backup_definition(const std::string& options) {
    return R"({"type": "backup", "id": "b1", "host_id": "c1", "target_pool": "p1",
               "source": {"id": "cloud-1", "name": "cloud",
                          "entries": [{"id": "i-a", "name": "vm-a", "type": "Instance"},
                                      {"id": "i-b", "name": "vm-b", "type": "Instance"}]},
               "options": )" + options + "}";
  }

  void expect_nothing_left() const {
    EXPECT_TRUE(sim_->clean()) << sim_->get("/leftovers");
    // No unfinished file (a leading dot) and no empty folder in the pool.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tmp_.path() + "/pool")) {
      EXPECT_NE('.', entry.path().filename().string().front()) << entry.path();
      EXPECT_FALSE(entry.is_directory() && std::filesystem::is_empty(entry.path())) << entry.path();
    }
  }

  std::unique_ptr<test::Sim_Process> sim_;
};

TEST_F(Runner_Jobs, BackupThenRestoreAsANewInstanceHoldsTheSourceBytes) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string definition = backup_definition(R"({"parallel_disks_per_vm": 2})");
  const test::Run_Result backup = run("backup --quiet " + write("backup.json", definition));
  ASSERT_EQ(0, backup.code) << backup.all();
  EXPECT_EQ("", backup.err);
  const json_spirit::Value history = JSON_Load(backup.out);
  ASSERT_EQ(json_spirit::array_type, history.type()) << backup.out;
  for (const json_spirit::Value& h : history.get_array())
    EXPECT_EQ("completed", h.get_obj().at("state").get_str()) << backup.out;
  expect_nothing_left();

  // Each instance's set: its uuid from the records, its timepoint from the listing.
  std::map<std::string, std::string> sets;
  const json_spirit::Value records = JSON_Load(run("catalog list --json").out);
  for (const json_spirit::Value& r : records.get_array())
    sets[r.get_obj().at("instance_id").get_str()] = r.get_obj().at("uuid").get_str();
  const std::string listing = run("catalog list").out;
  auto timepoint = [&listing](const std::string& set) {
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);)
      if (line.find(" " + set + " ") != std::string::npos) return line.substr(0, line.find(' '));
    return std::string();
  };

  // Both as new instances: i-a on a node the entry names, i-b where the cloud puts it.
  const struct {
    std::string src, target, node;
  } restores[] = {{"i-a", "vm-a-restored", "node-a1"}, {"i-b", "vm-b-restored", ""}};
  std::string entries;
  for (const auto& r : restores) {
    const std::string& set = sets[r.src];
    ASSERT_FALSE(timepoint(set).empty()) << r.src;
    entries += (entries.empty() ? "" : ",") +
               test::restore_entry(set, timepoint(set), r.src, r.target, "", r.node);
  }
  const std::string restore = write("restore.json", R"({"type": "restore", "subtype": "vm",
      "id": "r1", "host_id": "c1", "target_pool": "p1",
      "source": {"id": "cloud-1", "name": "cloud", "entries": [)" + entries + R"(]},
      "options": {"parallel_disks_per_vm": 2}})");
  const test::Run_Result restored = run("restore --quiet " + restore);
  ASSERT_EQ(0, restored.code) << restored.all();
  for (const auto& r : restores) {
    const std::string x = r.src.substr(2);
    EXPECT_EQ(sim_->instance_digests(r.target), (std::vector<std::string>{
                                                    sim_->digest("vol-" + x + "-root"),
                                                    sim_->digest("vol-" + x + "-data")}))
        << r.target;
  }
}

// Every fault of a definition file is one line on stderr and exit 1, before any job runs.
TEST_F(Runner_Jobs, BrokenDefinitionsGetOneLine) {
  prepare_home(1);
  const std::string good = backup_definition("{}");
  auto with = [&good](const std::string& member) { return "{" + member + "," + good.substr(1); };
  const std::string head = R"({"type": "backup", "id": "b", "host_id": "c1", "target_pool": "p1")";
  // `text` with the first `from` replaced by `to`.
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  const struct {
    std::string command;
    std::string text;  // the file's content; empty: no file
    std::string message;
  } cases[] = {
      {"backup", "", "cannot read"},
      {"backup", "{\"type\": ", "is not JSON"},
      {"backup", "[]", "must be a JSON object"},
      {"backup", with(R"("scipts": {})"), "unknown key \"scipts\""},
      {"backup", with(R"("scripts": {"pre": "x"})"), R"(unknown key "scripts.pre")"},
      {"backup", with(R"("retry_count": "3")"), R"("retry_count" must be a whole number)"},
      {"backup", with(R"("retry_interval": -1)"), R"("retry_interval" must be a whole number)"},
      {"backup", with(R"("rate_limits": {"dest": [{"start_time": 90000}]})"),
       R"("rate_limits.dest[0].start_time" must be a whole number in 0..86400)"},
      {"backup", with(R"("uid": "not-a-uuid")"), R"("uid" must be a UUID)"},
      {"backup", with(R"("subtype": "incremental")"),
       R"(the "subtype" of a backup must be "full")"},
      {"backup", head + "}", R"(missing "source")"},
      {"backup", replaced(head, "\"b\"", "\"../b\"") + "}", R"("id" may hold only)"},
      {"backup", head + R"(, "source": {"entries": []}})", R"("source.entries" must not be empty)"},
      {"backup", replaced(good, "{}}", "[]}"), R"("options" must be an object)"},
      {"backup", replaced(good, "\"p1\"", "\"nopool\""), "no such pool: nopool"},
      {"backup", replaced(good, "\"c1\"", "\"nobody\""), "no such account: nobody"},
      {"restore", good, "defines a backup job; run 'quillon3 backup"},
      {"restore", R"({"type": "restore", "id": "r", "host_id": "c1", "target_pool": "p1",
                      "source": {"pool_uuid": "gone", "entries": [{}]}})", "no such pool: gone"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command + " " + c.text);
    const std::string path = tmp_.path() + "/def.json";
    std::filesystem::remove(path);
    if (!c.text.empty()) write("def.json", c.text);
    const test::Run_Result r = run(c.command + " " + path);
    EXPECT_THAT(r.summary(), ::testing::StartsWith("1 quillon3: "));
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
  }
  const std::string definition = write("def.json", good);
  EXPECT_THAT(run("--module " + tmp_.path() + "/none.so backup " + definition).summary(),
              ::testing::MatchesRegex("1 .*cannot load module.*"));
}

// SIGINT while the first instance's volumes are attached to the agent: the job is
// cancelled, cleans up, and the runner says so and exits 1.
TEST_F(Runner_Jobs, CtrlCMidBackupLeavesNothingBehind) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(4));
  const std::string definition = backup_definition(R"({"parallel_vms": 1})");
  test::Runner_Process backup({"backup", write("backup.json", definition)});
  bool attached = false;
  for (int i = 0; i < 1200 && !attached; ++i) {
    const Object left = test::object_of(sim_->get("/leftovers"));
    attached = left.count("links") != 0 && !left.at("links").get_array().empty();
    if (!attached) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(attached) << "the backup never attached a volume to the agent";
  backup.signal(SIGINT);
  const test::Run_Result& r = backup.finish();
  EXPECT_EQ(1, r.code) << r.all();
  EXPECT_NE(std::string::npos, r.err.find("interrupted: stopping the job")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("backup cancelled on request")) << r.err;
  expect_nothing_left();
}

}  // namespace
