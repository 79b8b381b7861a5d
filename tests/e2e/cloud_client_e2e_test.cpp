// The cloud client against the simulator and its realistic seed (answers pretty-printed,
// tagged, with nested lists, paged): login, inventory and paging. No block device is
// needed: the simulator links the agent's devices into the test's home. (New resources
// waited for, "false" answers and the faults of every wait are driven by the job tests
// and the client's scripted tests; the agent found by its product identifier, by the
// console's.)
#include "job_fixture.h"

#include "cloud/aws_client.h"

#include <gtest/gtest.h>

#include <functional>
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

// A JSON text holding `text`.
std::string json_text(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '\n' ? "\\n" : c == '"' ? "\\\"" : std::string(1, c);
  return out + "\"";
}

// Answers of hostile or broken shapes, each given by the simulator in place of the real
// one, through the whole client: read when they are sound, refused in time and memory
// with a message saying why otherwise. (A trickled answer is cut by the request library's
// own tests against a loopback server.)
TEST_F(Cloud_E2E, Hostile_And_Broken_Answers) {
  ASSERT_NO_FATAL_FAILURE(start_sim(test::Sim_Options()));
  cloud::aws::SDK::Hook_Guard capped([](const std::string& host, uint16_t port, bool ssl,
                                        const std::string& locale, const cloud::Credentials& keys) {
    cloud::aws::Client_Config config;
    config.max_response_bytes = 1u << 20;
    return cloud::aws::SDK::make_client(host, port, ssl, locale, keys, config);
  });
  ASSERT_TRUE(client_.login(login(test::SIM_ACCESS_KEY, test::SIM_SECRET_KEY)));
  std::string attributes = "<DescribeInstancesResponse", nested = "<DescribeInstancesResponse>";
  for (int i = 0; i < 20000; ++i) attributes += " a" + std::to_string(i) + "='x'";
  for (int i = 0; i < 300000; ++i) nested += "<a>";
  const std::string decl = "<?xml version='1.0' encoding='UTF-8'?>\n";
  tc::Instances instances;
  const std::function<bool()> list = [&] { return client_.query_instances(instances); };
  const std::function<bool()> delete_volume = [&] { return client_.delete_volume("vol-x"); };
  const struct {
    const char* name;
    const char* action;
    std::string body;
    const std::function<bool()>& call;
    const char* logged;  // "" when the call succeeds
  } cases[] = {
      {"pretty-printed true", "DeleteVolume",
       decl + "<DeleteVolumeResponse>\n  <requestId>r-1</requestId>\n  <return>\n    true\n  "
              "</return>\n</DeleteVolumeResponse>\n", delete_volume, ""},
      {"another action's answer", "DescribeInstances",
       decl + "<DescribeVolumesResponse><volumeSet/></DescribeVolumesResponse>", list,
       "Failed to query instances, msg: the cloud's answer to DescribeInstances is of another "
       "kind (its root element is DescribeVolumesResponse)."},
      {"not XML", "DescribeInstances", "Internal Server Error", list,
       "Failed to query instances, msg: the cloud's answer is not acceptable XML: "},
      {"20,000 attributes", "DescribeInstances", attributes + "/>", list,
       "msg: the cloud's answer is not acceptable XML: an element with more than 16384 "
       "attributes."},
      {"unclosed nesting", "DescribeInstances", nested, list,
       "msg: the cloud's answer is not acceptable XML: elements nested deeper than 1024."},
      {"above the limit", "DescribeInstances",
       "<DescribeInstancesResponse>" + std::string(2u << 20, ' ') + "</DescribeInstancesResponse>",
       list, "msg: the cloud's answer was larger than the limit of 1048576 bytes."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(sim_->post("/faults", std::string("{\"action\": \"") + c.action +
                                          "\", \"kind\": \"body\", \"body\": " +
                                          json_text(c.body) + "}"));
    test::Log_Capture log;
    EXPECT_EQ(c.call(), *c.logged == '\0');
    EXPECT_TRUE(log.contains(c.logged, LM_ERROR) || !*c.logged) << log.text().substr(0, 2000);
  }
  // The cloud is read as before.
  EXPECT_TRUE(list() && instances.size() == 5) << instances.size();
}

}  // namespace
