// The backup executor's set-up against a scripted cloud (source entries, exclusions,
// options, retry entries) and the folding of instance results. Whole runs are driven end
// to end in tests/e2e/backup_e2e_test.cpp.
#include "tavrocloud/job/backup_executor.h"

#include "job_engine/job.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "pool/pool_registry.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using json_spirit::Value;
using tavrocloud::Backup_Executor;
using tavrocloud::Job_Parameters;
using tavrocloud::VM_History_State;

// Opens the executor's steps and members to the tests.
class Probe : public Backup_Executor {
 public:
  using Backup_Executor::Backup_Executor;
  using Backup_Executor::agent_instance_id_;
  using Backup_Executor::backup_instances_;
  using Backup_Executor::client_;
  using Backup_Executor::do_full_backup;
  using Backup_Executor::handle_instance_result;
  using Backup_Executor::instance_histories_;
  using Backup_Executor::params_;
  using Backup_Executor::resolve_action_options;
  using Backup_Executor::resolve_entries;
  using Backup_Executor::resolve_params;
  using Backup_Executor::retry_entries_;
  using Backup_Executor::set_size_;
  using Backup_Executor::source_size_;
  using Backup_Executor::storage_size_;
  using Backup_Executor::total_instances_;
};

ACE_Refcounted_Auto_Ptr<Job_Parameters, ACE_Thread_Mutex> document(const std::string& json) {
  ACE_Refcounted_Auto_Ptr<Job_Parameters, ACE_Thread_Mutex> p(new Job_Parameters);
  p->value() = JSON_Load(json);
  p->set_id("res-1");
  return p;
}

Job_var make_job(const std::string& source, const std::string& options) {
  Job_Definition_var def(new Job_Definition);
  def->set_id("bk-exec");
  def->set_type(JOB_DEFINITION_BACKUP);
  def->set_subtype(JOB_DEFINITION_SUBTYPE_FULL);
  def->set_host_id("cloud-1");
  def->set_target(Job_Target("pool-1", "Pool One", ""));
  def->set_source(document(source));
  def->set_options(document(options));
  return Job_var(new Job(def));
}

std::string inst(const std::string& id, const std::string& name, const std::string& status = "running") {
  return test::item(test::fields({{"instanceId", id}, {"instanceName", name}}) +
                    "<instanceState><name>" + status + "</name></instanceState>" +
                    test::fields({{"hostAddress", "node-1"}}));
}

// Answers each DescribeInstances by its filter value (none: the whole cloud).
test::Answer cloud_answer(const test::Sent& s) {
  std::string filter;
  for (const auto& p : s.params)
    if (p.first == "Filter.1.Value.1") filter = p.second;
  if (filter.empty())
    return test::instances({inst("i-agent", "agent"), inst("i-gone", "old", "terminated"),
                            inst("i-anon", ""), inst("i-web", "web-1"), inst("i-db", "db-1")});
  if (filter == "c-1") return test::refused("no such cluster");
  if (filter == "n-1") return test::instances({inst("i-db", "db-1"), inst("i-app", "app-1")});
  if (filter == "i-db") return test::instances({inst("i-db", "db-1")});
  return test::instances({});
}

class Backup_Executor_Test : public ::testing::Test {
 protected:
  std::unique_ptr<Probe> executor(const std::string& source, const std::string& options) {
    job_ = make_job(source, options);
    auto e = std::make_unique<Probe>(*job_);
    e->client_ = std::make_unique<tavrocloud::RESTful_Client>();
    cloud_.login(*e->client_);
    cloud_.respond(cloud_answer);
    e->agent_instance_id_ = "i-agent";
    return e;
  }

  test::Scripted_Cloud cloud_;
  Job_var job_;
};

std::string alerts(const Job& job) {
  std::string out;
  for (const auto& a : job.alerts()) out += std::to_string(a.id) + JSON_Dump(a.args) + " ";
  return out;
}

// Clusters, nodes and the cloud expand into instances, each taken once, less the agent,
// the terminated, the excluded and the nameless; a cluster the cloud refuses and a
// nameless instance raise their alerts.
TEST_F(Backup_Executor_Test, EntriesExpandIntoInstancesOnceEach) {
  test::Log_Capture log;
  auto e = executor(R"({"entries": [
      {"id": "cloud", "name": "all", "type": "Cloud"},
      {"id": "c-1", "name": "east", "type": "Cluster", "volumes": [{"vol_id": "v-9"}]},
      {"id": "x-1", "name": "odd", "type": "Bogus"},
      {"id": "n-1", "name": "node", "type": "Node"},
      {"id": "i-db", "name": "db-1", "type": "Instance", "volumes": [{"vol_id": "v-1"}, 7]}]})",
                    R"({"exclusion": ["web-*", 3]})");
  ASSERT_TRUE(e->resolve_entries());
  std::string got;
  for (const auto& i : e->backup_instances_)
    got += i.instance_id + "@" + i.host_address + JSON_Dump(json_spirit::Value(json_spirit::Array(
                                                      i.backup_vol_ids.begin(), i.backup_vol_ids.end()))) + " ";
  EXPECT_EQ(got, R"(i-db@node-1["v-1"] i-app@node-1[] )");
  EXPECT_EQ(alerts(*job_), R"(7["c-1","east","Cluster"] 11["i-anon"] )");
  EXPECT_TRUE(log.contains("Unknown tavro entry type 'Bogus' in backup source, entry id: x-1", LM_ERROR));
  EXPECT_TRUE(log.contains("Instance (id=i-web, name=web-1) is excluded from backup.", LM_WARNING));
  EXPECT_EQ(log.count("named by several source entries"), 2u);  // i-db via node and instance
}

TEST_F(Backup_Executor_Test, EntriesThatLeaveNothingOrLackAFieldFailTheRun) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"entries": []})", "entries is NULL or empty"},
      {R"({"entries": [{"name": "a", "type": "Cloud"}]})", "id is NULL or empty"},
      {R"({"entries": [{"id": "i-db", "type": "Instance"}]})", "name is NULL"},
      {R"({"entries": [{"id": "i-db", "name": "a", "type": ""}]})", "type is NULL or empty"},
      {R"({"entries": [{"id": "i-agent", "name": "a", "type": "Instance"}]})",
       "There are 0 tavro instance ready for backup."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    test::Log_Capture log;
    EXPECT_FALSE(executor(c.first, "{}")->resolve_entries());
    EXPECT_TRUE(log.contains(c.second)) << log.text();
  }
}

// Defaults, the cap of the parallel instances at the number found, the compression word,
// the pool's path; options that are no object and an unknown pool fail.
TEST_F(Backup_Executor_Test, OptionsTakeDefaultsCapsAndThePool) {
  const std::string root = test::Temp_Home_Environment::dir() + "/pool-1";
  ::mkdir(root.c_str(), 0750);
  Pool_Record pool;
  pool.uuid = "pool-1";
  pool.name = "Pool One";
  pool.url = "file://" + root;
  ASSERT_TRUE(Pool_Registry().add(pool));
  const struct {
    const char* options;
    Compression_Method method;
    const char* rest;  // level, vms, per host, disks, reserved bytes; null: refused
  } cases[] = {
      {"{}", COMPR_AUTO, "1 2 2 1 0"},
      {R"({"compression": "none", "compression_level": 3, "parallel_vms": 10,
           "parallel_vms_per_host": 1, "parallel_disks_per_vm": 4,
           "storage_reserved_bytes": 6442450944})", COMPR_AUTO, "3 3 1 4 6442450944"},
      {R"({"compression": "zstd"})", COMPR_ZSTD, "1 2 2 1 0"},
      {"[]", COMPR_AUTO, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    test::Log_Capture log;
    auto e = executor(R"({"entries": [{"id": "cloud", "name": "all", "type": "Cloud"},
                                      {"id": "n-1", "name": "node", "type": "Node"}]})",
                      c.options);
    ASSERT_TRUE(e->resolve_entries());
    ASSERT_EQ(e->resolve_params(), c.rest != nullptr) << log.text();
    if (!c.rest) {
      EXPECT_TRUE(log.contains("opts_->value() is not object!", LM_EMERGENCY));
      continue;
    }
    const auto& p = e->params_;
    std::ostringstream got;
    EXPECT_EQ(p.base.io_opts.compression_method, c.method);
    got << p.base.io_opts.compression_level << " "
        << p.base.parallel_vms << " " << p.base.parallel_vms_per_host << " "
        << p.base.parallel_disks_per_vm << " " << p.storage_reserved_bytes;
    EXPECT_EQ(got.str(), c.rest);
    EXPECT_EQ(p.pool_url + " " + p.base.resource_uuid, "file://" + root + "/cloud-1/bk-exec res-1");
  }
  test::Log_Capture log;
  auto e = executor(R"({"entries": [{"id": "cloud", "name": "all", "type": "Cloud"}]})", "{}");
  ASSERT_TRUE(e->resolve_entries());
  job_->definition()->set_target(Job_Target("pool-x", "Nowhere", ""));
  EXPECT_FALSE(Probe(*job_).resolve_params());
  EXPECT_TRUE(log.contains("Failed to get tavro information of storage pool ID=pool-x, NAME=Nowhere."));
}

TEST_F(Backup_Executor_Test, RetryEntriesKeepTheFirstVirtualMachineOfEachId) {
  Action_Options opts;
  opts[ACTION_OPTION_RETRY_ENTRIES] = JSON_Load(R"([
      {"id": "i-1", "type": "VirtualMachine", "n": 1}, {"id": "i-1", "type": "VirtualMachine", "n": 2},
      {"id": "v-1", "type": "Volume"}, {"id": 5, "type": "VirtualMachine"}, "i-2"])");
  auto e = executor(R"({"entries": []})", "{}");
  EXPECT_TRUE(e->resolve_action_options(nullptr));
  EXPECT_TRUE(e->retry_entries_.empty());
  EXPECT_TRUE(e->resolve_action_options(&opts));
  ASSERT_EQ(e->retry_entries_.size(), 1u);
  EXPECT_EQ(JSON_Dump(e->retry_entries_.at("i-1")), R"({"id":"i-1","n":1,"type":"VirtualMachine"})");
}

// A failed instance adds no sizes to the totals; its code decides the retry; an answer
// that lacks a field fails the instance.
TEST_F(Backup_Executor_Test, ResultsFoldIntoTotalsOnlyWhenTheInstanceSucceeded) {
  auto e = executor(R"({"entries": []})", "{}");
  auto result = [](const char* id, int code) {
    return JSON_Load(std::string(R"({"storage_size": 100, "source_size": 1000, "set_size": 1000,
        "start_time": 1700000000, "instance_name": "n", "succeed": true, "instance_id": ")") +
                     id + R"(", "code": )" + std::to_string(code) + "}").get_obj();
  };
  EXPECT_EQ(e->handle_instance_result(true, result("i-1", 0)), Task_Base::CODE_SUCCESS);
  EXPECT_EQ(e->handle_instance_result(false, result("i-2", 2)), Task_Base::CODE_FAILED_RETRY);
  EXPECT_EQ(e->handle_instance_result(false, result("i-3", 7)), Task_Base::CODE_FAILED);
  test::Log_Capture log;
  json_spirit::Object broken = result("i-4", 0);
  broken.erase("set_size");
  EXPECT_EQ(e->handle_instance_result(true, broken), Task_Base::CODE_FAILED);
  EXPECT_TRUE(log.contains("Unrecognized tavrocloud instance backup response: ", LM_ERROR));
  EXPECT_EQ(std::to_string(e->storage_size_) + " " + std::to_string(e->source_size_) + " " +
                std::to_string(e->set_size_), "100 1000 1000");
  EXPECT_EQ(e->instance_histories_["i-1"].start_time, "2023-11-14 22:13:20");
  EXPECT_EQ(e->instance_histories_["i-2"].state, VM_History_State::FAILED);
  EXPECT_TRUE(e->instance_histories_["i-4"].end_time.empty());  // no history of a broken answer
}

// Whole runs whose handlers all fail at their log-in (the cloud refuses the keys), so
// the executor's own rules decide: the retry rule, the partial-success alert, the
// refusals of the scheduler and the final progress report.
TEST_F(Backup_Executor_Test, RunsFoldEveryInstanceAndReportOnce) {
  const struct {
    const char* name;
    int vms, per_host;
    const char* retry;
    bool canceled, ok;
    const char* log;
    const char* alerts;
    const char* states;  // of the final report, per instance; null: no report
  } cases[] = {
      {"all fail", 2, 2, nullptr, false, false, "(succeeded/total): 0/3.", "1null 1null 1null ", "FFF"},
      {"retry of one that fails", 2, 2, "i-2", false, true, "(succeeded/total): 2/3.", "1null 10[1] ", "SFS"},
      {"no workers", 0, 2, nullptr, false, false, "Failed to activate tavro scheduler.", "", "FFF"},
      {"no owner slots", 2, 0, nullptr, false, false, "limit_per_owner", "", nullptr},
      {"negative owner slots", 2, -1, nullptr, false, false, "limit_per_owner", "", nullptr},
      {"cancelled", 2, 2, nullptr, true, false, "Job canceled while tavro backing.", "", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    auto e = executor(R"({"entries": []})", "{}");
    cloud_.respond([](const test::Sent& s) {
      return s.action == "GetCloudVersion" ? test::refused("bad keys", 401) : cloud_answer(s);
    });
    for (const char* id : {"i-1", "i-2", "i-3"}) {
      e->backup_instances_.emplace_back();
      e->backup_instances_.back().instance_id = id;
      e->backup_instances_.back().instance_name = std::string("vm-") + id;
      e->backup_instances_.back().host_address = "node-1";
    }
    e->total_instances_ = 3;
    e->params_.base.def_id = "bk-exec";
    e->params_.base.parallel_vms = c.vms;
    e->params_.base.parallel_vms_per_host = c.per_host;
    if (c.retry) e->retry_entries_[c.retry] = Value(json_spirit::Object{});
    job_->activity().state = c.canceled ? JOB_STATE_CANCELING : JOB_STATE_RUNNING;

    EXPECT_EQ(e->do_full_backup(), c.ok) << log.text();
    EXPECT_TRUE(log.contains(c.log)) << log.text();
    EXPECT_EQ(alerts(*job_), c.alerts);
    const auto progress = job_->progress();
    std::string states;
    for (const auto& p : progress.empty() ? std::vector<VM_Job_Progress>{} : progress.back().progresses)
      states += p.state == VM_Job_Progress::STATE_FAILED ? "F" : p.state == VM_Job_Progress::STATE_SKIPPED ? "S" : "?";
    EXPECT_EQ(progress.size(), c.states ? 1u : 0u);
    EXPECT_EQ(states, c.states ? c.states : "");
    EXPECT_TRUE(progress.empty() || progress[0].final);
    EXPECT_EQ(e->instance_histories_["i-3"].retry, c.retry != nullptr);
  }
}

}  // namespace
