#include "tavrocloud/common/tavrocloud_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json_dump.h"
#include "module/tavrocloud/common/console_sim.h"

namespace js = json_spirit;
namespace tc = tavrocloud;

namespace {

[[maybe_unused]] ::testing::Environment* const console_sim =
    ::testing::AddGlobalTestEnvironment(new test::Console_Sim);

// "moid/name|type|status|size|sub_type|has_children|extended_attr" of each item.
std::vector<std::string> summary(const js::Array& items) {
  std::vector<std::string> out;
  for (const js::Value& v : items) {
    const js::Object& o = v.get_obj();
    EXPECT_EQ(8u, o.size()) << js::JSON_Dump(v);
    out.push_back(o.at("moid").get_str() + "/" + o.at("name").get_str() + "|" +
                  o.at("type").get_str() + "|" + o.at("status").get_str() + "|" +
                  js::JSON_Dump(o.at("size")) + "|" + o.at("sub_type").get_str() + "|" +
                  (o.at("has_children").get_bool() ? "1" : "0") + "|" +
                  js::JSON_Dump(o.at("extended_attr")));
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
  const std::string big = "i-big/BigVM|Instance|running|1.0||0|{}";  // 1500/1024 + 1023/1024
  const std::string stop = "i-stop/stopvm|Instance|stopped|0.0||0|{}";
  const struct Case {
    bool search;
    const char* view;  // or the search type
    const char* type;  // or the name filter
    const char* moid;
    std::vector<std::string> items;  // {UNTOUCHED}: the call fails
  } cases[] = {
      {false, "instances", "", "", {"cloud-1/Cloud One|Cloud|available|0.0||1|{}"}},
      {false, "instances", "Cloud", "", {big, stop}},
      {false, "instances", "Instance", "", {UNTOUCHED}},
      {false, "nodes", "Cloud", "",
       {"cl-a/Zone A|Cluster|available|0.0||1|{}", "cl-b/Zone B|Cluster|available|0.0||1|{}"}},
      {false, "nodes", "Cluster", "cl-a",
       {"n-1/WEB-01|Node|available|0.0||1|" + zone_a, "n-3/db-01|Node|available|0.0||1|" + zone_a}},
      {false, "nodes", "Node", "n-3", {stop}},
      {false, "storages", "Cloud", "", {"st-1/ceph-1|Storage||2048.0|ceph|1|{}"}},
      {false, "storages", "Storage", "st-1", {big, stop}},
      {false, "volume", "Instance", "i-big",
       {R"(vol-big-0/big-root|Volume||1500.0||0|{"is_root":true})",
        R"(vol-big-1/big-data|Volume||1023.0||0|{"is_root":false})"}},
      {false, "recovery", "Node", "cl-b",
       {R"(n-2/myweb|Node|available|0.0||0|{"moid":"cl-b","name":"Zone B"})"}},
      {false, "recovery", "Flavor", "", {"t.small/Small|Flavor||0.0||0|{}"}},
      {false, "recovery", "Network", "",
       {"vpc-shared/public|Network|available|0.0||1|{}",
        "vpc-free/ownerless|Network|available|0.0||1|{}"}},
      {false, "recovery", "Network", "owner-1",
       {"vpc-own/mine|Network|available|0.0||1|{}", "vpc-shared/public|Network|available|0.0||1|{}"}},
      {false, "recovery", "Subnet", "vpc-own",
       {R"(sn-1/Front|Subnet|available|0.0||0|{"moid":"vpc-own","name":"mine","net_segment":"10.0.1.0/24"})"}},
      {false, "recovery", "Security_Group", "",
       {"sg-own/web-sg|Security_Group||0.0||0|{}", "sg-other/other-sg|Security_Group||0.0||0|{}",
        "sg-shared/shared-sg|Security_Group||0.0||0|{}"}},
      {false, "recovery", "Security_Group", "owner-2",
       {"sg-other/other-sg|Security_Group||0.0||0|{}",
        "sg-shared/shared-sg|Security_Group||0.0||0|{}"}},
      // The simulator adds its two running small instances (1 CPU, 1024 MiB each) to
      // the node's seeded use.
      {false, "recovery", "Hardware", "n-1",
       {R"(n-1/WEB-01|Hardware|available|0.0||0|{"cpu_core_per_num":2,"cpu_cores":32,"cpu_usage":5,"memory_size":65536,"memory_usage":3072})"}},
      {false, "recovery", "Cloud", "", {UNTOUCHED}},
      {false, "Instances", "", "", {UNTOUCHED}},
      {true, "Node", "web", "",
       {"n-1/WEB-01|Node|available|0.0||0|" + zone_a,
        R"(n-2/myweb|Node|available|0.0||0|{"moid":"cl-b","name":"Zone B"})"}},
      {true, "Instance", "VM", "",
       {"i-big/BigVM|Instance|running|1.0||0|{}", "i-stop/stopvm|Instance|stopped|0.0||0|{}"}},
      {true, "Cluster", "zone B", "", {"cl-b/Zone B|Cluster|available|0.0||0|{}"}},
      {true, "Network", "PUB", "owner-1", {"vpc-shared/public|Network|available|0.0||0|{}"}},
      {true, "Subnet", "front", "",
       {R"(sn-1/Front|Subnet|available|0.0||0|{"moid":"vpc-own","name":"mine","net_segment":"10.0.1.0/24"})"}},
      {true, "Security_Group", "SHARED", "owner-1",
       {"sg-shared/shared-sg|Security_Group||0.0||0|{}"}},
      {true, "instance", "", "", {UNTOUCHED}},
      {true, "Flavor", "", "", {UNTOUCHED}},
      {true, "", "", "", {UNTOUCHED}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.search ? "search " : "list ") + c.view + " " + c.type + " " + c.moid);
    const std::string type = c.search ? "" : c.type;
    const std::string view = c.search ? "" : c.view;
    tc::Lister lister(type, view, c.moid, c.search ? c.view : "", c.search ? c.type : "", client_);
    js::Array result{js::Value(UNTOUCHED)};
    const bool ok = c.search ? lister.search(result) : lister.list(result);
    if (c.items == std::vector<std::string>{UNTOUCHED}) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(js::Array{js::Value(UNTOUCHED)}, result);
    } else {
      ASSERT_TRUE(ok);
      EXPECT_EQ(c.items, summary(result));
    }
  }
}

// A node search needs every kept node's cluster: one failed query fails it all.
TEST_F(Lister_Test, NodeSearchFailsWhenOneClusterCannotBeRead) {
  ASSERT_TRUE(test::Console_Sim::sim()->post(
      "/faults", R"({"action": "DescribeClusters", "nth": 2, "kind": "error",)"
                 R"( "code": "InternalError", "message": "zone lost", "http_status": 500})"));
  tc::Lister lister("", "", "", "Node", "", client_);
  js::Array result;
  EXPECT_FALSE(lister.search(result));
  EXPECT_TRUE(result.empty());
}

}  // namespace
