// The backup executor's set-up against a scripted cloud (source entries, exclusions,
// options, retry entries) and the folding of instance results. Whole runs are driven end
// to end in tests/e2e/backup_e2e_test.cpp.
#include "tavrocloud/job/backup_executor.h"

#include "fixtures.h"
#include "json/json_dump.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using json_spirit::JSON_Dump;

// Opens the executor's steps and members to the tests.
class Probe : public tavrocloud::Backup_Executor {
 public:
  using B = tavrocloud::Backup_Executor;
  using B::B, B::agent_instance_id_, B::backup_instances_, B::client_, B::do_full_backup;
  using B::handle_instance_result, B::instance_histories_, B::params_, B::resolve_action_options;
  using B::resolve_entries, B::resolve_params, B::retry_entries_;
  using B::set_size_, B::source_size_, B::storage_size_;
};

std::string inst(const std::string& id, const std::string& name, const char* status = "running") {
  return test::item(test::fields({{"instanceId", id}, {"instanceName", name}}) +
                    "<instanceState><name>" + status + "</name></instanceState>" +
                    test::fields({{"hostAddress", "node-1"}}));
}

// Answers each DescribeInstances by its filter (none: the whole cloud), and the cloud's
// clusters, nodes and storages; the keys are refused at the version query when
// `refuse_login`.
test::Answer cloud_answer(const test::Sent& s, bool refuse_login = false) {
  if (refuse_login && s.action == "GetCloudVersion") return test::refused("bad keys", 401);
  std::string filter, by;
  for (const auto& p : s.params) {
    if (p.first == "Filter.1.Name") by = p.second;
    if (p.first == "Filter.1.Value.1" || p.first == "clusterId" || p.first == "NodeId")
      filter = p.second;
  }
  const auto one = [&filter](const char* action, const char* set, const char* id_tag) {
    const bool known = filter == "c-1" || filter == "c-9" || filter == "n-1" || filter == "n-2";
    return test::listing(action, set, {known ? test::item(test::fields({{id_tag, filter}})) : ""});
  };
  if (s.action == "DescribeClusters")
    return filter == "c-1" ? test::refused("cluster service down", 503)
                           : one("DescribeClusters", "clusterSet", "clusterId");
  if (s.action == "DescribeNodes") return one("DescribeNodes", "nodeSet", "nodeId");
  if (s.action == "DescribeStorages")
    return test::listing("DescribeStorages", "storageSet",
                         {test::item(test::fields({{"storageId", "st-1"}}))});
  const std::vector<std::pair<std::string, std::string>> all = {
      {"i-agent", inst("i-agent", "agent")}, {"i-gone", inst("i-gone", "old", "terminated")},
      {"i-anon", inst("i-anon", "")},        {"i-web", inst("i-web", "web-1")},
      {"i-db", inst("i-db", "db-1")}};
  if (filter.empty()) {
    std::vector<std::string> items;
    for (const auto& i : all) items.push_back(i.second);
    return test::instances(items);
  }
  if (filter == "c-1") return test::refused("no such cluster");
  if (filter == "c-9") return test::refused("listing overloaded", 503);
  if (filter == "n-1") return test::instances({inst("i-db", "db-1"), inst("i-app", "app-1")});
  for (const auto& i : all)
    if (by == "instance-id" && i.first == filter) return test::instances({i.second});
  return test::instances({});
}

class Backup_Executor_Test : public ::testing::Test {
 protected:
  std::unique_ptr<Probe> executor(const std::string& source, const std::string& options = "{}") {
    job_ = test::make_job("bk-exec", JOB_DEFINITION_BACKUP, source, options,
                          JOB_DEFINITION_SUBTYPE_FULL);
    auto e = std::make_unique<Probe>(*job_);
    e->client_ = std::make_unique<tavrocloud::RESTful_Client>();
    cloud_.login(*e->client_);
    cloud_.respond([](const test::Sent& s) { return cloud_answer(s); });
    e->agent_instance_id_ = "i-agent";
    return e;
  }
  std::string alerts() const {
    std::string out;
    for (const auto& a : job_->alerts()) out += std::to_string(a.id) + JSON_Dump(a.args) + " ";
    return out;
  }

  test::Scripted_Cloud cloud_;
  Job_var job_;
};

// Clusters, nodes and the cloud expand into instances, each taken once, less the agent,
// the terminated, the excluded and the nameless. An entry the cloud does not know and one
// it cannot list raise alert 7 with the entry's id, name and type, and an error line says
// which it was (with the cloud's reason); one of no known type is skipped with an error
// line and no alert. An instance the source names that is skipped raises alert 20; an
// excluded one and an entry that selects nothing are warning lines. Every alert is at the
// error level. Entries that leave nothing (saying why) or lack a field fail.
TEST_F(Backup_Executor_Test, EntriesExpandIntoInstancesOnceEach) {
  const struct {
    const char* entries;
    const char* want;  // instances and alerts; or the refusal logged
    std::vector<std::pair<ACE_Log_Priority, const char*>> lines = {};  // logged besides
  } cases[] = {
      {R"([{"id": "cloud", "name": "all", "type": "Cloud"},
           {"id": "c-1", "name": "east", "type": "Cluster", "volumes": [{"vol_id": "v-9"}]},
           {"id": "x-1", "name": "odd", "type": "Bogus"},
           {"id": "n-1", "name": "node", "type": "Node"},
           {"id": "i-db", "name": "db-1", "type": "Instance", "volumes": [{"vol_id": "v-1"}, 7]}])",
       R"(i-db@node-1["v-1"] i-app@node-1[] | 7["c-1","east","Cluster"] 11["i-anon"] )",
       {{LM_ERROR, "Failed to list the instances of tavrocloud Cluster c-1: no such cluster; "
                   "source entry east was skipped."},
        {LM_ERROR, "Unknown tavro entry type 'Bogus' in backup source, entry id: x-1, job_uuid: "
                   "bk-exec, name: "},
        {LM_WARNING, "Instance (id=i-web, name=web-1) is excluded from backup."}}},
      {R"([{"id": "n-zz", "name": "typo", "type": "Node"},
           {"id": "n-2", "name": "spare", "type": "Node"},
           {"id": "st-zz", "name": "old", "type": "Storage"},
           {"id": "c-zz", "name": "west", "type": "Cluster"},
           {"id": "c-9", "name": "busy", "type": "Cluster"},
           {"id": "i-gone", "name": "old", "type": "Instance"},
           {"id": "i-db", "name": "db-1", "type": "Instance"}])",
       R"(i-db@node-1[] | 7["n-zz","typo","Node"] 7["st-zz","old","Storage"] )"
       R"(7["c-zz","west","Cluster"] 7["c-9","busy","Cluster"] )"
       R"(20["i-gone","old","it is terminated"] )",
       {{LM_ERROR, "Tavrocloud has no Node n-zz: source entry typo was skipped."},
        {LM_ERROR, "Failed to list the instances of tavrocloud Cluster c-9: listing overloaded; "
                   "source entry busy was skipped."},
        {LM_WARNING, "Tavrocloud source entry spare (type Node, id n-2) selects no instance."}}},
      {"[]", "entries is NULL or empty"},
      {R"([{"name": "a", "type": "Cloud"}])", "id is NULL or empty"},
      {R"([{"id": "i-db", "type": "Instance"}])", "name is NULL"},
      {R"([{"id": "i-agent", "name": "a", "type": "Instance"}])",
       "No tavrocloud instance to back up: 1 skipped (terminated, without a name or the "
       "backup agent's own)."},
      {R"([{"id": "i-web", "name": "web-1", "type": "Instance"},
           {"id": "i-none", "name": "x", "type": "Instance"}])",
       "No tavrocloud instance to back up: 1 excluded by the job's exclusion patterns, "
       "1 source entry(ies) not found or not listed."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    test::Log_Capture log;
    const std::string source = std::string(R"({"entries": )") + c.entries + "}";
    auto e = executor(source, R"({"exclusion": ["web-*", 3]})");
    if (!e->resolve_entries()) {
      EXPECT_TRUE(log.contains(c.want)) << log.text();
      continue;
    }
    std::string got;
    for (const auto& i : e->backup_instances_)
      got += i.instance_id + "@" + i.host_address +
             JSON_Dump(json_spirit::Array(i.backup_vol_ids.begin(), i.backup_vol_ids.end())) + " ";
    EXPECT_EQ(got + "| " + alerts(), c.want);
    for (const auto& [priority, line] : c.lines)
      EXPECT_TRUE(log.contains(line, priority)) << line << "\n" << log.text();
    for (const Job_Alert_Record& a : job_->alerts()) EXPECT_EQ(Error_ID::LEVEL_ERROR, a.level);
  }
}

// An entry that lists nothing is told by the cloud's answer for the object itself, asked
// once through the client; an Instance entry's own query is that answer, never asked
// twice. What the cloud said is in the log: found nowhere, or why it could not answer,
// in the client's line and in the entry's.
TEST_F(Backup_Executor_Test, EntriesThatListNothingAreAskedForOnce) {
  const struct {
    const char* type;
    const char* id;
    const char* sent;
    const char* logged;  // by the client
    const char* entry;   // the executor's line for the entry
  } cases[] = {
      {"Instance", "i-busy",
       "DescribeInstances(Filter.1.Name=instance-id Filter.1.Value.1=i-busy)",
       "Failed to query instance i-busy, msg: instance service busy.\n",
       "Failed to list the instances of tavrocloud Instance i-busy: instance service busy; "
       "source entry n was skipped.\n"},
      {"Node", "n-busy",
       "DescribeInstances(Filter.1.Name=node-id Filter.1.Value.1=n-busy) "
       "DescribeNodes(NodeId=n-busy)",
       "Failed to query node n-busy, msg: node service down.\n",
       "Failed to list the instances of tavrocloud Node n-busy: node service down; source "
       "entry n was skipped.\n"},
      {"Storage", "st-busy", "DescribeInstances() DescribeStorages()",
       "Failed to query storages, msg: storage service down.\n",
       "Failed to list the instances of tavrocloud Storage st-busy: storage service down; "
       "source entry n was skipped.\n"},
      {"Cluster", "c-x",
       "DescribeInstances(Filter.1.Name=availability-zone Filter.1.Value.1=c-x) "
       "DescribeClusters(clusterId=c-x)",
       "Failed to query cluster c-x, clusters size not 1, size is 0.\n",
       "Tavrocloud has no Cluster c-x: source entry n was skipped.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    auto e = executor(std::string(R"({"entries": [{"id": ")") + c.id +
                      R"(", "name": "n", "type": ")" + c.type + R"("}]})");
    cloud_.respond([](const test::Sent& s) {
      const bool one = !s.params.empty() && s.params.back().second == "i-busy";
      if (s.action == "DescribeInstances")
        return one ? test::refused("instance service busy", 503) : test::instances({});
      if (s.action == "DescribeNodes") return test::refused("node service down", 503);
      if (s.action == "DescribeStorages") return test::refused("storage service down", 503);
      return test::listing("DescribeClusters", "clusterSet", {});
    });
    test::Log_Capture log;
    EXPECT_FALSE(e->resolve_entries());
    EXPECT_EQ(cloud_.sent_text(), c.sent);
    EXPECT_TRUE(log.contains(c.logged, LM_ERROR)) << log.text();
    EXPECT_TRUE(log.contains(c.entry, LM_ERROR)) << log.text();
    EXPECT_TRUE(log.contains(std::string("Failed to query tavro instance by entry id ") + c.id,
                             LM_ERROR)) << log.text();
  }
}

// The cap of the parallel instances at the number found, the compression word (one the
// pool does not know is said in a warning line, no alert), the pool's path; options that
// are no object and an unknown pool fail.
TEST_F(Backup_Executor_Test, OptionsTakeDefaultsCapsAndThePool) {
  const test::Test_Pool pool("pool-1");
  const std::pair<const char*, const char*> cases[] = {
      // level, vms, per host, disks, reserved bytes; or the refusal logged
      {R"({"compression": "none", "compression_level": 3, "parallel_vms": 10,
           "parallel_vms_per_host": 1, "parallel_disks_per_vm": 4,
           "storage_reserved_bytes": 6442450944})", "auto 3 3 1 4 6442450944"},
      {R"({"compression": "zstd"})", "zstd 1 2 2 1 0"},
      {R"({"compression": "AUTO"})", "auto 1 2 2 1 0"},
      {R"({"compression": "brotli"})", "auto 1 2 2 1 0 warned"},
      {"[]", "opts_->value() is not object!"},
      {"pool-x", "Failed to get tavro information of storage pool ID=pool-x"},
  };
  for (const auto& [options, want] : cases) {
    SCOPED_TRACE(options);
    test::Log_Capture log;
    const bool elsewhere = *options == 'p';  // the target is a pool no one has
    auto e = executor(R"({"entries": [{"id": "cloud", "name": "all", "type": "Cloud"},
                                      {"id": "n-1", "name": "node", "type": "Node"}]})",
                      elsewhere ? "{}" : options);
    if (elsewhere) job_->definition()->set_target(Job_Target("pool-x", "Nowhere", ""));
    ASSERT_TRUE(e->resolve_entries());
    const size_t entry_alerts = alerts().size();
    if (!e->resolve_params()) {
      EXPECT_TRUE(log.contains(want)) << log.text();
      continue;
    }
    const auto& p = e->params_;
    const Compression_Method m = p.base.io_opts.compression_method;
    std::ostringstream got;
    got << (m == COMPR_ZSTD ? "zstd " : m == COMPR_AUTO ? "auto " : "? ")
        << p.base.io_opts.compression_level << " " << p.base.parallel_vms << " "
        << p.base.parallel_vms_per_host << " " << p.base.parallel_disks_per_vm << " "
        << p.storage_reserved_bytes;
    EXPECT_EQ(alerts().size(), entry_alerts);
    if (log.contains("Unknown compression method \"brotli\", using auto.", LM_WARNING))
      got << " warned";
    got << " " << p.pool_url << " " << p.base.resource_uuid;
    EXPECT_EQ(got.str(), std::string(want) + " " + pool.url() + "/cloud-1/bk-exec res-1");
  }
}

// A failed instance adds no sizes to the totals; its code decides the retry; an answer
// that lacks a field fails the instance. Retry entries keep the first virtual machine of
// each id.
TEST_F(Backup_Executor_Test, ResultsFoldIntoTotalsOnlyWhenTheInstanceSucceeded) {
  auto e = executor(R"({"entries": []})");
  auto result = [](const char* id, int code) {
    return json_spirit::JSON_Load(std::string(R"({"storage_size": 100, "source_size": 1000,
        "set_size": 1000, "start_time": 1700000000, "instance_name": "n", "succeed": true,
        "instance_id": ")") + id + R"(", "code": )" + std::to_string(code) + "}").get_obj();
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
  EXPECT_TRUE(e->instance_histories_["i-4"].end_time.empty());  // no history of a broken answer

  Action_Options opts;
  opts[ACTION_OPTION_RETRY_ENTRIES] = json_spirit::JSON_Load(R"([
      {"id": "i-1", "type": "VirtualMachine", "n": 1},
      {"id": "i-1", "type": "VirtualMachine", "n": 2},
      {"id": "v-1", "type": "Volume"}, {"id": 5, "type": "VirtualMachine"}, "i-2"])");
  EXPECT_TRUE(e->resolve_action_options(&opts));
  EXPECT_EQ(JSON_Dump(e->retry_entries_), R"({"i-1":{"id":"i-1","n":1,"type":"VirtualMachine"}})");
}

// Whole runs whose handlers all fail at their log-in (the cloud refuses the keys), so
// the executor's own rules decide: no partial-success alert when none succeeded, the
// refusals of the scheduler and the final progress report (retry runs, the partial
// success and cancellations are driven end to end).
TEST_F(Backup_Executor_Test, RunsFoldEveryInstanceAndReportOnce) {
  const struct {
    const char* name;
    int vms, per_host;
    const char* log;
    const char* alerts;
    const char* states;  // of the final report, per instance; empty: no report
  } cases[] = {
      {"all fail", 2, 2, "(succeeded/total): 0/2.", "1null 1null ", "FF"},
      {"no workers", 0, 2, "Failed to activate tavro scheduler.", "", "FF"},
      {"no owner slots", 2, 0, "limit_per_owner", "", ""},
      {"negative owner slots", 2, -1, "limit_per_owner", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    auto e = executor(R"({"entries": [{"id": "n-1", "name": "node", "type": "Node"}]})");
    ASSERT_TRUE(e->resolve_entries());
    cloud_.respond([](const test::Sent& s) { return cloud_answer(s, true); });
    e->params_.base.def_id = "bk-exec";
    e->params_.base.parallel_vms = c.vms;
    e->params_.base.parallel_vms_per_host = c.per_host;
    job_->activity().state = JOB_STATE_RUNNING;

    EXPECT_FALSE(e->do_full_backup()) << log.text();
    EXPECT_TRUE(log.contains(c.log)) << log.text();
    EXPECT_EQ(alerts(), c.alerts);
    std::string states;
    for (const auto& report : job_->progress())
      for (const auto& p : report.progresses)
        states += !report.final ? '?' : p.state == VM_Job_Progress::STATE_FAILED ? 'F' : '?';
    EXPECT_EQ(states, c.states);
  }
}

}  // namespace
