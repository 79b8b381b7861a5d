// The runner's backup and restore commands, black box: quillon3 loads the module, runs
// the jobs against the simulator with real loop devices and prints their history. A
// restored instance must hold the source's bytes; a broken definition gets one line and
// exit 1; Ctrl-C in the middle of a backup must leave nothing in the cloud or the pool.
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/private_dev_disk.h"
#include "e2e/runner_process.h"
#include "e2e/sim_process.h"
#include "json/json_dump.h"
#include "json/json_load.h"

namespace {

namespace fs = std::filesystem;
using json_spirit::Object;

const char ACCESS_KEY[] = "AKIDTAVROSIMDEMO0001";
const char SECRET_KEY[] = "tavrosim/Demo+Secret/Key0001";

Object object_of(const std::string& json) {
  const json_spirit::Value v = JSON_Load(json);
  return v.type() == json_spirit::obj_type ? v.get_obj() : Object();
}

std::string source_dir() {
  const char* dir = std::getenv("QUILLON3_SOURCE_DIR");
  return dir != nullptr && *dir != '\0' ? dir : ".";
}

class Runner_Jobs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty());
    home_ = tmp_.path() + "/home";
  }

  test::Run_Result run(const std::vector<std::string>& args) {
    return test::run_quillon3(home_, args);
  }

  std::string write(const std::string& name, const std::string& text) {
    const std::string path = tmp_.path() + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  // The identity, the account "c1" of a cloud on `port` and the pool "p1".
  void prepare_home(uint16_t port) {
    ASSERT_EQ(0, run({"init", "--bits", "2048"}).code);
    ASSERT_EQ(0, test::run_quillon3(home_, {"account", "add", "--uuid", "c1", "--host", "127.0.0.1",
                                            "--port", std::to_string(port), "--access-key",
                                            ACCESS_KEY, "--secret-key", "-"},
                                    std::string(SECRET_KEY) + "\n")
                     .code);
    ASSERT_EQ(0, run({"pool", "add", "--uuid", "p1", "--name", "pool-one", "--dir",
                      tmp_.path() + "/pool"})
                     .code);
  }

  // The agent and the instances i-vma and i-vmb, each with a root and a data volume of
  // `gib` GiB; then the home for it.
  void start_cloud(int gib) {
    const std::string& skip = test::enter_private_dev_disk();
    if (!skip.empty()) GTEST_SKIP() << "e2e skipped: " << skip;
    std::ifstream in(source_dir() + "/sim/seed.json");
    Object seed = object_of(std::string(std::istreambuf_iterator<char>(in), {}));
    json_spirit::Array instances{seed["instances"].get_array().at(0)};
    for (const std::string vm : {"vma", "vmb"}) {
      std::string vols;
      for (const char* v : {"root", "data"})
        vols += std::string(vols.empty() ? "" : ",") + R"({"id": "vol-)" + vm + "-" + v +
                R"(", "size": )" + std::to_string(gib) + R"(, "storage": "st-ceph-01", "device": "/dev/vd)" +
                (vols.empty() ? "a\", \"root\": true}" : "b\"}");
      instances.push_back(JSON_Load(R"({"id": "i-)" + vm + R"(", "name": ")" + vm +
                                    R"(", "status": "running", "type": "ts.small",
          "image": "img-centos7-x64", "node": "node-a1",
          "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"], "ip": "10.10.1.)" +
                                    (vm == "vma" ? "31" : "32") + R"("}], "volumes": [)" +
                                    vols + "]}"));
    }
    seed["instances"] = instances;
    seed["volumes"] = json_spirit::Array();
    test::Sim_Options options;
    options.seed = write("seed.json", JSON_Dump(seed));
    options.loop = "losetup";
    sim_ = std::make_unique<test::Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
    prepare_home(sim_->port());
  }

  static std::string backup_definition(const std::string& options) {
    return R"({"type": "backup", "id": "b1", "host_id": "c1", "target_pool": "p1",
               "source": {"id": "cloud-1", "name": "cloud",
                          "entries": [{"id": "i-vma", "name": "vma", "type": "Instance"},
                                      {"id": "i-vmb", "name": "vmb", "type": "Instance"}]},
               "options": )" + options + "}";
  }

  std::string digest(const std::string& volume) const {
    const Object obj = object_of(sim_->get("/digest?id=" + volume));
    return obj.count("digest") != 0 ? obj.at("digest").get_str() : "?";
  }

  // The digests of the volumes attached to the instance named `name`, in device order.
  std::vector<std::string> instance_digests(const std::string& name) const {
    const Object state = object_of(sim_->get("/state"));
    std::string id;
    for (const json_spirit::Value& i : state.at("instances").get_array())
      if (i.get_obj().at("name").get_str() == name) id = i.get_obj().at("id").get_str();
    std::map<std::string, std::string> by_device;
    for (const json_spirit::Value& v : state.at("volumes").get_array()) {
      const Object& vol = v.get_obj();
      const auto att = vol.find("attachment");
      if (att == vol.end() || att->second.type() != json_spirit::obj_type) continue;
      const Object& a = att->second.get_obj();
      if (a.at("instance_id").get_str() == id)
        by_device[a.at("device").get_str()] = digest(vol.at("id").get_str());
    }
    std::vector<std::string> out;
    for (const auto& d : by_device) out.push_back(d.second);
    return out;
  }

  void expect_nothing_left() {
    const std::string left = sim_->get("/leftovers");
    EXPECT_TRUE(object_of(left)["clean"] == json_spirit::Value(true)) << left;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(tmp_.path() + "/pool", ec))
      EXPECT_NE('.', entry.path().filename().string().front()) << "unfinished " << entry.path();
  }

  test::Temp_Dir tmp_{"quillon3-runner-"};
  std::string home_;
  std::unique_ptr<test::Sim_Process> sim_;
};

TEST_F(Runner_Jobs, BackupThenRestoreAsANewInstanceHoldsTheSourceBytes) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const test::Run_Result backup =
      run({"backup", "--quiet", write("backup.json", backup_definition(R"({"parallel_disks_per_vm": 2})"))});
  ASSERT_EQ(0, backup.code) << backup.all();
  EXPECT_EQ("", backup.err);
  const json_spirit::Value history = JSON_Load(backup.out);
  ASSERT_EQ(json_spirit::array_type, history.type()) << backup.out;
  for (const json_spirit::Value& h : history.get_array())
    EXPECT_EQ("completed", h.get_obj().at("state").get_str()) << backup.out;
  expect_nothing_left();

  // The set of i-vma: its uuid from the records, its timepoint from the listing.
  std::string set;
  const json_spirit::Value records = JSON_Load(run({"catalog", "list", "--json"}).out);
  for (const json_spirit::Value& r : records.get_array())
    if (r.get_obj().at("instance_id").get_str() == "i-vma") set = r.get_obj().at("uuid").get_str();
  std::istringstream listing(run({"catalog", "list"}).out);
  std::string timepoint;
  for (std::string line; std::getline(listing, line);)
    if (line.find(" " + set + " ") != std::string::npos) timepoint = line.substr(0, line.find(' '));
  ASSERT_FALSE(timepoint.empty()) << set;

  const std::string restore = write("restore.json", R"({"type": "restore", "subtype": "vm",
      "id": "r1", "host_id": "c1", "target_pool": "p1",
      "source": {"id": "cloud-1", "name": "cloud", "entries": [{
        "catalog_uuid": ")" + set + R"(", "backup_start_time": ")" + timepoint + R"(",
        "src_instance_id": "i-vma", "src_instance_name": "vma",
        "target_instance_name": "vma-restored", "target_node_id": "node-a1",
        "target_cluster_id": "cluster-a",
        "flavor": {"type": "ts.small", "display_name": "Small", "cpu": 1, "ram": 1024},
        "nic": [{"vpc_id": "vpc-prod", "vpc_name": "production", "subnet_id": "subnet-prod-a",
                 "subnet_name": "prod-a", "type": "main",
                 "security_groups": [{"security_group_id": "sg-default",
                                      "security_group_name": "default"}]}],
        "volumes": [{"id": "vol-vma-root", "name": "root", "storage_id": "st-ceph-01",
                     "storage_type": "ceph", "size": 1},
                    {"id": "vol-vma-data", "name": "data", "storage_id": "st-ceph-01",
                     "storage_type": "ceph", "size": 1}]}]},
      "options": {"parallel_disks_per_vm": 2}})");
  const test::Run_Result restored = run({"restore", "--quiet", restore});
  ASSERT_EQ(0, restored.code) << restored.all();
  EXPECT_EQ(instance_digests("vma-restored"),
            (std::vector<std::string>{digest("vol-vma-root"), digest("vol-vma-data")}));
}

// Every fault of a definition file is one line on stderr and exit 1, before any job runs.
TEST_F(Runner_Jobs, BrokenDefinitionsGetOneLine) {
  prepare_home(1);
  const std::string good = backup_definition("{}");
  auto with = [&good](const std::string& member) { return "{" + member + "," + good.substr(1); };
  struct Case {
    std::string command;
    std::string text;  // the file's content; empty: no file
    std::string message;
  };
  const std::vector<Case> cases = {
      {"backup", "", "cannot read"},
      {"backup", "{\"type\": ", "is not JSON"},
      {"backup", "[]", "must be a JSON object"},
      {"backup", with(R"("scipts": {})"), "unknown key \"scipts\""},
      {"backup", with(R"("scripts": {"pre": "x"})"), "unknown key \"scripts.pre\""},
      {"backup", with(R"("retry_count": "3")"), "\"retry_count\" must be a whole number"},
      {"backup", with(R"("retry_interval": -1)"), "\"retry_interval\" must be a whole number"},
      {"backup", with(R"("rate_limits": {"dest": [{"start_time": 90000}]})"),
       "\"rate_limits.dest[0].start_time\" must be a whole number in 0..86400"},
      {"backup", with(R"("uid": "not-a-uuid")"), "\"uid\" must be a UUID"},
      {"backup", with(R"("subtype": "incremental")"), "the \"subtype\" of a backup must be \"full\""},
      {"backup", R"({"type": "backup", "id": "b", "host_id": "c1", "target_pool": "p1"})",
       "missing \"source\""},
      {"backup", R"({"type": "backup", "id": "../b", "host_id": "c1", "target_pool": "p1"})",
       "\"id\" may hold only"},
      {"backup", R"({"type": "backup", "id": "b", "host_id": "c1", "target_pool": "p1",
                     "source": {"entries": []}})",
       "\"source.entries\" must not be empty"},
      {"backup", std::string(good).replace(good.rfind("{}"), 2, "[]"), "\"options\" must be an object"},
      {"backup", std::string(good).replace(good.find("\"p1\""), 4, "\"nopool\""), "no such pool: nopool"},
      {"backup", std::string(good).replace(good.find("\"c1\""), 4, "\"nobody\""), "no such account: nobody"},
      {"restore", good, "defines a backup job; run 'quillon3 backup"},
      {"restore", R"({"type": "restore", "id": "r", "host_id": "c1", "target_pool": "p1",
                      "source": {"pool_uuid": "gone", "entries": [{}]}})",
       "no such pool: gone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command + " " + c.text);
    const std::string path = tmp_.path() + "/def.json";
    fs::remove(path);
    if (!c.text.empty()) write("def.json", c.text);
    const test::Run_Result r = run({c.command, path});
    EXPECT_EQ(1, r.code);
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    EXPECT_EQ("", r.out);
  }
  const test::Run_Result no_module =
      run({"--module", tmp_.path() + "/none.so", "backup", write("def.json", good)});
  EXPECT_EQ(1, no_module.code);
  EXPECT_NE(std::string::npos, no_module.err.find("cannot load module")) << no_module.err;
}

// SIGINT while the first instance's volumes are attached to the agent: the job is
// cancelled, cleans up, and the runner says so and exits 1.
TEST_F(Runner_Jobs, CtrlCMidBackupLeavesNothingBehind) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(4));
  test::Runner_Process backup(home_, {"backup", write("backup.json", backup_definition(
                                                                        R"({"parallel_vms": 1})"))});
  bool attached = false;
  for (int i = 0; i < 1200 && !attached; ++i) {
    const Object left = object_of(sim_->get("/leftovers"));
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
