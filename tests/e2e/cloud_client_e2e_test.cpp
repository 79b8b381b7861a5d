// The cloud client against the simulator and its realistic seed (answers pretty-printed,
// tagged, with nested lists, paged): login, inventory and paging. No block device is
// needed: the simulator links the agent's devices into the test's home. (New resources
// waited for, "false" answers and the faults of every wait are driven by the job tests
// and the client's scripted tests; the agent found by its product identifier, by the
// console's.)
#include "job_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;
namespace tc = tavrocloud;

// The client's waits are not slept.
void no_sleep(unsigned int) {}

class Cloud_E2E : public test::Cloud_Job_Test {
 protected:
  Cloud_E2E() : Cloud_Job_Test(&no_sleep, false) {}

  tc::Login login(const char* access_key, const char* secret_key) const {
    return tc::Login("127.0.0.1", sim_->port(), false, "", secure_string(access_key),
                     secure_string(secret_key));
  }

  RESTful_Client client_;
};

TEST_F(Cloud_E2E, Login_Inventory_And_Paging) {
  ASSERT_NO_FATAL_FAILURE(start_sim(test::Sim_Options()));
  ASSERT_TRUE(client_.login(login(test::SIM_ACCESS_KEY, test::SIM_SECRET_KEY)));
  tc::Instance db;
  tc::Network_Interface nif;
  tc::Instances all;
  ASSERT_TRUE(client_.query_instance_detail("i-db01", db) &&
              client_.query_network_interface("eni-db01-0", nif) && client_.query_instances(all));
  ASSERT_EQ(3u, db.volumes.size());
  // The shapes of a real cloud: an interface attached, with a secondary address; two
  // instances in one reservation. (Clusters, nodes, storages, networks and images are
  // read by the console's and the jobs' tests.)
  std::string web_groups;
  for (const tc::Instance& i : all)
    if (i.id == "i-web01" || i.id == "i-app01") web_groups += i.security_group.id + " ";
  using std::to_string;
  const std::vector<std::string> seen = {
      client_.version(), tc::status_to_name(db.status), to_string(db.instance_type.cpu),
      db.image.id, db.volumes[2].volume_attachment.device,
      to_string(db.network_interfaces.size()), tc::status_to_name(nif.status), nif.private_ip,
      to_string(nif.groups.size()), to_string(all.size()), web_groups};
  EXPECT_EQ(seen, (std::vector<std::string>{"V9.8", "running", "4", "img-centos7-x64", "/dev/vdc",
                                            "2", "in-use", "10.10.1.31", "2", "5",
                                            "sg-web sg-web "}));

  // A login with keys the cloud does not know fails.
  RESTful_Client stranger;
  test::Log_Capture log;
  EXPECT_FALSE(stranger.login(login("AKIDUNKNOWN", "nope")));

  // Listings follow every page; a page that repeats its token ends the listing as failed.
  ASSERT_TRUE(sim_->post("/config", "{\"default_page_size\": 2}"));
  tc::Instances paged;
  tc::Security_Groups paged_groups;
  ASSERT_TRUE(client_.query_instances(paged) && client_.query_security_groups(paged_groups));
  EXPECT_EQ((std::vector<size_t>{paged.size(), paged_groups.size()}), (std::vector<size_t>{5, 4}));
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "DescribeInstances", "kind": "repeat_token",
                                        "nth": 2})"));
  tc::Instances looping;
  EXPECT_FALSE(client_.query_instances(looping));
  EXPECT_TRUE(log.contains("the cloud gave this token before", LM_ERROR)) << log.text();
}

}  // namespace
