#include "tavrocloud/job/restore_executor.h"

#include "fixtures.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <string>

namespace {

test::Answer instance(const std::string& id, const std::string& state) {
  return test::instances({test::item(
      test::fields({{"instanceId", id}, {"instanceName", "n"}, {"hostAddress", "node-7"}}) +
      "<instanceState><name>" + state + "</name></instanceState>" +
      "<placement><availabilityZone>zone-3</availabilityZone></placement>")});
}

// A cloud whose agent is i-AGENT001, whose instance "web" runs, whose "old" is
// terminated and which knows every instance id but "i-gone"; an executor of `job` that
// talks to it, its options read (whole runs are driven end to end in
// tests/e2e/restore_e2e_test.cpp).
class Cloud {
 public:
  Cloud() {
    const std::string uuid_path = test::Temp_Home_Environment::dir() + "/product-uuid";
    std::ofstream(uuid_path) << "0000-i-agent001\n";
    old_path_ = tavrocloud::RESTful_Client::set_product_uuid_path(uuid_path);
    cloud_.respond([](const test::Sent& s) {
      for (const auto& p : s.params) {
        if (p.second == "web") return instance("i-web", "running");
        if (p.second == "old") return instance("i-old", "terminated");
        if (p.second == "i-gone") return test::instances({});
        if (p.second.compare(0, 2, "i-") == 0) return instance(p.second, "running");
      }
      return test::instances({});
    });
  }
  ~Cloud() { tavrocloud::RESTful_Client::set_product_uuid_path(old_path_); }

  std::unique_ptr<tavrocloud::Restore_Executor> executor(Job& job) {
    auto exec = std::make_unique<tavrocloud::Restore_Executor>(job);
    auto client = std::make_unique<tavrocloud::RESTful_Client>();
    cloud_.login(*client);
    exec->set_client(std::move(client));
    EXPECT_TRUE(exec->resolve_params());
    return exec;
  }

 private:
  std::string old_path_;
  test::Scripted_Cloud cloud_;
};

const char VOLUME[] =
    R"({"id": "v-1", "name": "d", "storage_id": "s", "storage_type": "ceph", "size": 1})";

// An entry restoring `src`, with its `volumes` and `extra` members.
std::string entry(const std::string& src, const std::string& extra = "",
                  const std::string& volumes = VOLUME) {
  return R"({"catalog_uuid": "c", "backup_start_time": "20240101000000", "src_instance_id": ")" +
         src + R"(", "src_instance_name": "n", "volumes": [)" + volumes + "]" + extra + "}";
}

// A running namesake of the target is ignored (the entry dropped), stamped or kept; a
// terminated one is no duplicate. The target instance gives the node and cluster the
// entry leaves empty; a volume restore runs as many instances in parallel as a VM one.
// Entries the restore cannot use are refused, and the refusal names the entry and why.
TEST(Restore_Executor, Entries) {
  const auto VM = JOB_DEFINITION_SUBTYPE_VM, DISK = JOB_DEFINITION_SUBTYPE_DISK;
  const std::string web = R"(, "target_instance_name": "web")";
  const std::string onto = R"(, "target_instance_id": "i-t")";
  const struct {
    Job_Definition_Subtype subtype;
    std::string entries;
    const char* duplicate;
    // each entry's target name, node and cluster, the parallel instances; or the lines of
    // the refusal (a regex)
    const char* want;
  } cases[] = {
      {VM, entry("i-1", web) + ", 7", "ignore",
       R"(Skipped the restore of tavro instance i-1 as web: a live instance of that name )"
       R"(exists and the options' duplicate_vm is "ignore"\.\s+)"
       R"(Failed to restore tavro instances, no entry\.)"},
      {VM, entry("i-1", R"(, "target_instance_name": "old")"), "ignore", "old@; 1"},
      {VM, entry("i-1", web), "timestamp", R"(web_\d{8}_\d{6}@; 1)"},
      {VM, entry("i-1", web), "keep", "web@; 1"},
      {DISK, entry("i-1", onto) + "," + entry("i-2", onto + R"(, "target_node_id": "n-1")"), "keep",
       "@node-7zone-3; @n-1zone-3; 2"},
      {VM, entry("i-1") + "," + entry("i-1"), "keep", "instance i-1 is named twice"},
      {DISK, entry("i-1"), "keep", "it names no target instance"},
      {VM, entry("i/../x"), "keep", "source instance id is not a plain word"},
      {VM, entry("i-1", "", ""), "keep", "names no volume to boot from"},
      {DISK, entry("i-1", onto, std::string(VOLUME) + "," + VOLUME), "keep",
       "it names volume v-1 twice"},
      {VM, entry("i-1", R"(, "target_instance_id": "i-gone")"), "keep",
       "Failed to query tavro target instance i-gone"},
      {VM, entry("i-1", R"(, "catalog_uuid": "")"), "keep",
       R"(entry of instance i-1: its "catalog_uuid" is empty[^\n]*\s+Invalid tavro job entries)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    Cloud cloud;
    test::Log_Capture log;
    const std::string source = R"({"pool_uuid": "p-9", "entries": [)" + c.entries + "]}";
    const std::string options =
        std::string(R"({"parallel_vms": 8, "duplicate_vm": ")") + c.duplicate + R"("})";
    auto job = test::make_job("restore-exec", JOB_DEFINITION_RESTORE, source, options, c.subtype);
    auto exec = cloud.executor(*job);
    if (!exec->resolve_entries()) {
      EXPECT_TRUE(std::regex_search(log.text(), std::regex(c.want))) << log.text();
      continue;
    }
    std::string got;
    for (const auto& e : exec->entries())
      got += e.instance_tgt_name + "@" + e.target_node_id + e.target_cluster_id + "; ";
    got += std::to_string(exec->params().base.parallel_vms);
    EXPECT_TRUE(std::regex_match(got, std::regex(c.want))) << got;
    EXPECT_EQ(exec->params().base.pool_uuid, "p-9");
  }
}

}  // namespace
