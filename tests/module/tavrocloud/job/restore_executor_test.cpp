#include "tavrocloud/job/restore_executor.h"

#include "job_engine/job.h"
#include "json/json_load.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavrocloud::Job_Parameters;
using tavrocloud::Restore_Executor;

using Params_ptr = ACE_Refcounted_Auto_Ptr<Job_Parameters, ACE_Thread_Mutex>;

Params_ptr document(const std::string& json) {
  Params_ptr p(new Job_Parameters);
  p->value() = json_spirit::JSON_Load(json);
  p->set_id("resource-1");
  return p;
}

Job_var make_job(const std::string& source, const std::string& options,
                 Job_Definition_Subtype subtype = JOB_DEFINITION_SUBTYPE_VM) {
  Job_Definition_var def(new Job_Definition);
  def->set_id("restore-exec");
  def->set_type(JOB_DEFINITION_RESTORE);
  def->set_subtype(subtype);
  def->set_source(document(source));
  def->set_options(document(options));
  return Job_var(new Job(def));
}

std::string instance_xml(const std::string& id, const std::string& state) {
  return test::item(test::fields({{"instanceId", id}, {"instanceName", "n"}, {"hostAddress", "node-7"}}) +
                    "<instanceState><name>" + state + "</name></instanceState>" +
                    "<placement><availabilityZone>zone-3</availabilityZone></placement>");
}

// A cloud whose agent is i-AGENT001, whose instance "web" runs, whose "old" is
// terminated and which knows every instance id but "i-gone".
class Cloud {
 public:
  Cloud() : uuid_file_("restore-exec-") {
    std::ofstream(uuid_file_.path() + "/uuid") << "0000-i-agent001\n";
    old_path_ = tavrocloud::RESTful_Client::set_product_uuid_path(uuid_file_.path() + "/uuid");
    cloud_.respond([](const test::Sent& s) {
      for (const auto& p : s.params) {
        if (p.second == "web") return test::instances({instance_xml("i-web", "running")});
        if (p.second == "old") return test::instances({instance_xml("i-old", "terminated")});
        if (p.second == "i-gone") return test::instances({});
        if (p.second.compare(0, 2, "i-") == 0) return test::instances({instance_xml(p.second, "running")});
      }
      return test::instances({});
    });
  }
  ~Cloud() { tavrocloud::RESTful_Client::set_product_uuid_path(old_path_); }

  std::unique_ptr<tavrocloud::RESTful_Client> client() {
    auto c = std::make_unique<tavrocloud::RESTful_Client>();
    cloud_.login(*c);
    return c;
  }

 private:
  test::Temp_Dir uuid_file_;
  std::string old_path_;
  test::Scripted_Cloud cloud_;
};

const char* const VOLUME =
    R"({"id": "v-1", "name": "d", "storage_id": "s", "storage_type": "ceph", "size": 1})";

std::string entry(const std::string& src, const std::string& extra = "",
                  const std::string& volumes = VOLUME) {
  return R"({"catalog_uuid": "c", "backup_start_time": "20240101000000", "src_instance_id": ")" +
         src + R"(", "src_instance_name": "n", "volumes": [)" + volumes + "]" + extra + "}";
}

// A restore executor on `job` that talks to `cloud`, its options read.
std::unique_ptr<Restore_Executor> executor(Cloud& cloud, Job& job) {
  auto exec = std::make_unique<Restore_Executor>(job);
  exec->set_client(cloud.client());
  EXPECT_TRUE(exec->resolve_params());
  return exec;
}

// Options of the wrong type keep their defaults; the agent and its node come from the
// cloud.
TEST(Restore_Executor, Options) {
  const std::pair<const char*, const char*> cases[] = {
      {"{}", "2 2 1 1 0 "},
      {R"({"parallel_vms": 8, "parallel_vms_per_host": 5, "parallel_disks_per_vm": 4,
          "start_vm": false, "original_restore": true, "duplicate_vm": "ignore"})", "8 5 4 0 1 ignore"},
      {R"({"parallel_vms": "8", "start_vm": "no", "duplicate_vm": 3})", "2 2 1 1 0 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Cloud cloud;
    Job_var job = make_job("{}", c.first);
    const auto exec = executor(cloud, *job);
    const tavrocloud::Restore_Params& p = exec->params();
    std::ostringstream got;
    got << p.base.parallel_vms << " " << p.base.parallel_vms_per_host << " " << p.base.parallel_disks_per_vm
        << " " << p.start_vm << " " << p.origin_restore << " " << p.duplicate_vm;
    EXPECT_EQ(got.str(), c.second);
    EXPECT_EQ(p.base.agent_instance_id + " " + p.base.agent_node_id, "i-AGENT001 node-7");
  }
}

// A running namesake of the target is ignored (the entry dropped), stamped or kept; a
// terminated one is no duplicate. The target instance gives the node and cluster the
// entry leaves empty; a volume restore runs as many instances in parallel as a VM one.
TEST(Restore_Executor, EntriesDuplicatesAndTargets) {
  const struct {
    const char* duplicate;
    std::string target_name;
    const char* want_name;  // null: no entry is left; "*": the name with a stamp
  } cases[] = {
      {"ignore", "web", nullptr}, {"ignore", "old", "old"}, {"timestamp", "web", "*"}, {"keep", "web", "web"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.duplicate) + " " + c.target_name);
    Cloud cloud;
    test::Log_Capture log;
    Job_var job = make_job(
        "{\"entries\": [" + entry("i-1", ", \"target_instance_name\": \"" + c.target_name + "\"") + ", 7]}",
        std::string("{\"duplicate_vm\": \"") + c.duplicate + "\"}");
    auto exec = executor(cloud, *job);
    ASSERT_EQ(exec->resolve_entries(), c.want_name != nullptr);
    if (!c.want_name) {
      EXPECT_TRUE(log.contains("Failed to restore tavro instances, no entry."));
      continue;
    }
    const std::string& name = exec->entries().at(0).instance_tgt_name;
    if (*c.want_name == '*')  // web_YYYYMMDD_HHMMSS
      EXPECT_TRUE(name.size() == 19 && name.compare(0, 4, "web_") == 0 && name[12] == '_') << name;
    else
      EXPECT_EQ(name, c.want_name);
  }

  Cloud cloud;
  Job_var job = make_job("{\"pool_uuid\": \"p-9\", \"entries\": [" +
                             entry("i-1", R"(, "target_instance_id": "i-t")") + "," +
                             entry("i-2", R"(, "target_instance_id": "i-t", "target_node_id": "n-1")") + "]}",
                         R"({"parallel_vms": 8})", JOB_DEFINITION_SUBTYPE_DISK);
  auto exec = executor(cloud, *job);
  ASSERT_TRUE(exec->resolve_entries());
  ASSERT_EQ(exec->entries().size(), 2u);
  EXPECT_EQ(exec->entries()[0].target_node_id + exec->entries()[0].target_cluster_id, "node-7zone-3");
  EXPECT_EQ(exec->entries()[1].target_node_id, "n-1");
  EXPECT_EQ(exec->params().base.parallel_vms, 2);
  EXPECT_EQ(exec->params().base.pool_uuid, "p-9");
}

TEST(Restore_Executor, EntriesRefused) {
  struct Case {
    Job_Definition_Subtype subtype;
    std::string entries;
    const char* log;
  } cases[] = {
      {JOB_DEFINITION_SUBTYPE_VM, entry("i-1") + "," + entry("i-1"), "instance i-1 is named twice"},
      {JOB_DEFINITION_SUBTYPE_DISK, entry("i-1"), "it names no target instance"},
      {JOB_DEFINITION_SUBTYPE_VM, entry("i/../x"), "source instance id is not a plain word"},
      {JOB_DEFINITION_SUBTYPE_VM, entry("i-1", "", ""), "names no volume to boot from"},
      {JOB_DEFINITION_SUBTYPE_DISK,
       entry("i-1", R"(, "target_instance_id": "i-t")", std::string(VOLUME) + "," + VOLUME),
       "it names volume v-1 twice"},
      {JOB_DEFINITION_SUBTYPE_VM, entry("i-1", R"(, "target_instance_id": "i-gone")"),
       "Failed to query tavro target instance i-gone"},
      {JOB_DEFINITION_SUBTYPE_VM, entry("i-1", R"(, "catalog_uuid": "")"), "Invalid tavro job entries"},
  };
  for (const Case& c : cases) {
    Cloud cloud;
    test::Log_Capture log;
    Job_var job = make_job("{\"entries\": [" + c.entries + "]}", "{}", c.subtype);
    EXPECT_FALSE(executor(cloud, *job)->resolve_entries()) << c.log;
    EXPECT_TRUE(log.contains(c.log)) << log.text();
  }
}

}  // namespace
