#include "tavrocloud/common/tavrocloud_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json_dump.h"
#include "module/tavrocloud/common/console_sim.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "support/log_capture.h"

using namespace std::string_literals;
namespace js = json_spirit;
namespace tc = tavrocloud;

namespace {

[[maybe_unused]] ::testing::Environment* const console_sim =
    ::testing::AddGlobalTestEnvironment(new test::Console_Sim);

// Each item as "moid/name|type|status|size|sub_type|has_children|extended_attr", or as
// its moid alone where `expected` gives only a moid.
std::vector<std::string> summary(const js::Array& items,
                                 const std::vector<std::string>& expected) {
  std::vector<std::string> out;
  for (const js::Value& v : items) {
    const js::Object& o = v.get_obj();
    EXPECT_EQ(8u, o.size()) << js::JSON_Dump(v);
    const size_t n = out.size();
    const bool full = n >= expected.size() || expected[n].find('|') != std::string::npos;
    out.push_back(o.at("moid").get_str());
    for (const char* key :
         {"name", "type", "status", "size", "sub_type", "has_children", "extended_attr"}) {
      const js::Value& f = o.at(key);
      const std::string text = f.type() == js::str_type ? f.get_str() : js::JSON_Dump(f);
      if (full) out.back() += (out.back().find('/') == std::string::npos ? "/" : "|") + text;
    }
  }
  return out;
}

class Lister_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, test::Console_Sim::port()) << test::Console_Sim::error();
    tc::Login account("127.0.0.1", test::Console_Sim::port(), false, "",
                      secure_string(test::CONSOLE_AK), secure_string(test::CONSOLE_SK));
    ASSERT_TRUE(client_.login(account));
  }
  tc::RESTful_Client client_;
};

const char* const UNTOUCHED = "untouched";

TEST_F(Lister_Test, EveryStepAndSearchBuildsItsItems) {
  const std::string zone_a = R"({"moid":"cl-a","name":"Zone A"})";
  const std::string sn_1 = R"(sn-1/Front|Subnet|available|0.0||false|{"moid":"vpc-own",)"
                           R"("name":"mine","net_segment":"10.0.1.0/24"})";
  const bool L = false, S = true;
  const struct Case {
    bool search;
    std::string view;  // or the search type
    std::string type;  // or the name filter
    const char* moid;
    std::vector<std::string> items;  // {UNTOUCHED}: the call fails
  } cases[] = {
      // Neither the agent nor the terminated instance; 1500/1024 + 1023/1024.
      {L, "instances", "Cloud", "", {"i-big/BigVM|Instance|running|1.0||false|{}", "i-stop"}},
      {L, "instances\0"s, "", "", {UNTOUCHED}},
      {L, "instances", "\0Cloud"s, "", {UNTOUCHED}},
      {L, "nodes", "Cloud", "", {"cl-a/Zone A|Cluster|available|0.0||true|{}", "cl-b"}},
      {L, "nodes", "Cluster", "cl-a", {"n-1/WEB-01|Node|available|0.0||true|" + zone_a, "n-3"}},
      {L, "nodes", "Node", "n-3", {"i-stop"}},
      {L, "storages", "Cloud", "", {"st-1/ceph-1|Storage||2048.0|ceph|true|{}"}},
      {L, "storages", "Storage", "st-1", {"i-big", "i-stop"}},
      {L, "volume", "Instance", "i-big",
       {R"(vol-big-0/big-root|Volume||1500.0||false|{"is_root":true})", "vol-big-1"}},
      {L, "recovery", "Node", "cl-b",
       {R"(n-2/myweb|Node|available|0.0||false|{"moid":"cl-b","name":"Zone B"})"}},
      {L, "recovery", "Storage", "", {"st-1/ceph-1|Storage||2048.0|ceph|false|{}"}},
      {L, "recovery", "Flavor", "", {"t.small/Small|Flavor||0.0||false|{}"}},
      {L, "recovery", "Network", "",
       {"vpc-shared/public|Network|available|0.0||true|{}", "vpc-free"}},
      {L, "recovery", "Network", "owner-1", {"vpc-own", "vpc-shared"}},
      {L, "recovery", "Subnet", "vpc-own", {sn_1}},
      {L, "recovery", "Security_Group", "",
       {"sg-own/web-sg|Security_Group||0.0||false|{}", "sg-other", "sg-shared"}},
      {L, "recovery", "Security_Group", "owner-2", {"sg-other", "sg-shared"}},
      // The simulator adds its two running small instances (1 CPU, 1024 MiB each) to
      // the node's seeded use.
      {L, "recovery", "Hardware", "n-1",
       {R"(n-1/WEB-01|Hardware|available|0.0||false|{"cpu_core_per_num":2,"cpu_cores":32,)"
        R"("cpu_usage":5,"memory_size":65536,"memory_usage":3072})"}},
      {S, "Node", "web", "", {"n-1/WEB-01|Node|available|0.0||false|" + zone_a, "n-2"}},
      {S, "Instance", "VM", "", {"i-big/BigVM|Instance|running|1.0||false|{}", "i-stop"}},
      {S, "Storage", "CEPH", "", {"st-1/ceph-1|Storage||2048.0|ceph|false|{}"}},
      {S, "Network", "PUB", "owner-1", {"vpc-shared/public|Network|available|0.0||false|{}"}},
      {S, "Subnet", "front", "", {sn_1}},
      {S, "Security_Group", "SHARED", "owner-1", {"sg-shared"}},
      {S, "instance", "", "", {UNTOUCHED}},
      {S, "Node\0"s, "", "", {UNTOUCHED}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.search ? "search " : "list ") + c.view + " " + c.type + " " + c.moid);
    const std::string none;
    tc::Lister lister(c.search ? none : c.type, c.search ? none : c.view, c.moid,
                      c.search ? c.view : none, c.search ? c.type : none, client_);
    js::Array result{js::Value(UNTOUCHED)};
    const bool ok = c.search ? lister.search(result) : lister.list(result);
    if (c.items == std::vector<std::string>{UNTOUCHED}) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(js::Array{js::Value(UNTOUCHED)}, result);
    } else {
      ASSERT_TRUE(ok);
      EXPECT_EQ(c.items, summary(result, c.items));
    }
  }
}

// An instance whose volume sizes add up past an int shows the largest size, not a
// wrapped negative one.
TEST(Lister, InstanceSizeDoesNotWrap) {
  test::Scripted_Cloud cloud;
  tc::RESTful_Client client;
  cloud.login(client);
  const std::string disk = test::item(test::fields({{"volumeId", "v"}, {"size", "2147483647"}}));
  std::string volumes;
  for (int i = 0; i < 1100; ++i) volumes += disk;
  const std::string huge =
      test::item(test::fields({{"instanceId", "i-huge"}, {"instanceName", "huge"}}) +
                 "<instanceState><name>running</name></instanceState><blockDeviceMapping>" +
                 volumes + "</blockDeviceMapping>");
  cloud.respond([&](const test::Sent&) { return test::instances({huge}); });
  tc::Lister lister("Cloud", "instances", "", "", "", client);
  js::Array result;
  ASSERT_TRUE(lister.list(result));
  ASSERT_EQ(1u, result.size());
  EXPECT_EQ(2147483647.0, result[0].get_obj().at("size").get_real());
}

// An answer of another kind (another action's root) fails the step, saying so, instead
// of showing as an empty inventory.
TEST(Lister, AnswersOfAnotherKindFailTheStep) {
  test::Scripted_Cloud cloud;
  tc::RESTful_Client client;
  cloud.login(client);
  cloud.respond([](const test::Sent&) { return test::ok("DescribeNothing", "<item/>"); });
  const struct {
    bool search;
    const char* view;  // or the search type
    const char* type;
    const char* moid;
    const char* action;  // the one asked
  } cases[] = {
      {false, "instances", "Cloud", "", "DescribeInstances"},
      {false, "nodes", "Cloud", "", "DescribeClusters"},
      {false, "storages", "Cloud", "", "DescribeStorages"},
      {false, "volume", "Instance", "i-1", "DescribeVolumes"},
      {false, "recovery", "Flavor", "", "DescribeInstanceTypes"},
      {false, "recovery", "Network", "", "DescribeVpcs"},
      {true, "Node", "", "", "DescribeNodes"},
      {true, "Security_Group", "", "", "DescribeSecurityGroups"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.view) + " " + c.type);
    test::Log_Capture log;
    tc::Lister lister(c.search ? "" : c.type, c.search ? "" : c.view, c.moid,
                      c.search ? c.view : "", "", client);
    js::Array result{js::Value(UNTOUCHED)};
    EXPECT_FALSE(c.search ? lister.search(result) : lister.list(result));
    EXPECT_EQ(js::Array{js::Value(UNTOUCHED)}, result);
    EXPECT_TRUE(log.contains("msg: the cloud's answer to "s + c.action + " is of another kind "
                             "(its root element is DescribeNothingResponse).\n", LM_ERROR))
        << log.text();
  }
}

// A node search needs every kept node's cluster: one failed query fails it all.
TEST_F(Lister_Test, NodeSearchFailsWhenOneClusterCannotBeRead) {
  ASSERT_TRUE(test::Console_Sim::sim()->post(
      "/faults", R"({"action": "DescribeClusters", "nth": 2, "kind": "error",)"
                 R"( "code": "InternalError", "message": "zone lost", "http_status": 500})"));
  test::Log_Capture log;
  tc::Lister lister("", "", "", "Node", "", client_);
  js::Array result;
  EXPECT_FALSE(lister.search(result));
  EXPECT_TRUE(result.empty());
}

}  // namespace
