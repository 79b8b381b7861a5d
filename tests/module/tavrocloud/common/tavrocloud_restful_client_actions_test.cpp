#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scripted_cloud.h"

namespace {

namespace tc = tavrocloud;
using tc::RESTful_Client;
using namespace test;
using Call = std::function<bool(RESTful_Client&)>;
using Client_Test = Scripted_Client_Test;

Params filter(const std::string& key, const std::string& value) {
  return {{"Filter.1.Name", key}, {"Filter.1.Value.1", value}};
}
std::vector<std::string> ids(const tc::Instances& v) {
  std::vector<std::string> out;
  for (const auto& i : v) out.push_back(i.id);
  return out;
}
const Answer TYPE = records("DescribeInstanceTypes", "instanceTypeSet", {fields({{"instanceType", "t1"}, {"cpu", "4"}})});

// The requests of the actions whose parameters carry a rule (optional, numbered and JSON
// parameters; composites), and their success without a wait or a log line.
TEST_F(Client_Test, Actions_Send_Their_Parameters_In_Order) {
  json_spirit::Object root{{"disk_bus", json_spirit::Value("virtio")}, {"boot", json_spirit::Value(1)}};
  const json_spirit::Value root_info(root);
  const struct {
    Script answers;
    std::vector<Sent> expected;
    Call call;
  } cases[] = {
      {{{"DescribeInstances", ok("DescribeInstances", "<reservationSet><item><instancesSet><item>" +
                                     fields({{"instanceId", "i-1"}, {"imageId", "img-1"}, {"instanceType", "t1"}}) +
                                     "<blockDeviceMapping><item><ebs>" + fields({{"volumeId", "vol-1"}}) +
                                     "</ebs></item></blockDeviceMapping></item></instancesSet></item></reservationSet>")},
        {"DescribeInstanceTypes", TYPE}, {"DescribeVolumes", volume("vol-1", "in-use")},
        {"DescribeImages", records("DescribeImages", "imagesSet", {fields({{"imageId", "img-1"}})})}},
       {{"DescribeInstances", filter("instance-id", "i-1")}, {"DescribeInstanceTypes", {{"InstanceType.1", "t1"}}},
        {"DescribeVolumes", filter("volume-id", "vol-1")}, {"DescribeImages", filter("image-id", "img-1")}},
       [](RESTful_Client& c) {
         tc::Instance x;
         return c.query_instance_detail("i-1", x) && x.image.id == "img-1" && x.instance_type.cpu == 4 &&
                x.volumes.size() == 1 && x.volumes[0].status == tc::IN_USE;
       }},
      {{{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-new"}}))},
        {"DescribeVolumes", volume("vol-new", "available")}},
       {{"CreateVolume", {{"VolumeName", "v"}, {"AvailabilityZone", "c-1"}, {"Size", "-3"}, {"StorageId", "st-1"},
                          {"nodeId", "n-1"}}},
        {"DescribeVolumes", filter("volume-id", "vol-new")}},
       [](RESTful_Client& c) { tc::Volume x; return c.create_volume("v", "c-1", "st-1", -3, "n-1", x); }},
      {{{"CreateNetworkInterface", ok("CreateNetworkInterface", fields({{"networkInterfaceId", "eni-9"}}))}},
       {{"CreateNetworkInterface", {{"SubnetId", "sub-1"}, {"SecurityGroupId.1", "sg-1"}, {"SecurityGroupId.2", "sg-2"},
                                    {"privateIpAddress", "10.0.0.5"}}}},
       [](RESTful_Client& c) {
         std::string id;
         return c.create_network_interface("sub-1", {"sg-1", "sg-2"}, "", "10.0.0.5", id) && id == "eni-9";
       }},
      {{{"CreateNetworkInterface", ok("CreateNetworkInterface", fields({{"networkInterfaceId", "eni-9"}}))}},
       {{"CreateNetworkInterface", {{"SubnetId", "sub-1"}, {"MacAddress", "52:54:00:00:00:01"}}}},
       [](RESTful_Client& c) { std::string id; return c.create_network_interface("sub-1", {}, "52:54:00:00:00:01", "", id); }},
      {{{"CreateSnapshot", ok("CreateSnapshot", fields({{"snapshotId", "snap-9"}}))},
        {"DescribeSnapshots", snapshot("snap-9", "completed")}},
       {{"CreateSnapshot", {{"VolumeId", "vol-1"}, {"SnapshotName", "s"}, {"IsRoot", "true"},
                            {"RootInfo", "{\"boot\":1,\"disk_bus\":\"virtio\"}"}}},
        {"DescribeSnapshots", {{"InstanceSnapshotId.1", "snap-9"}}}},
       [root_info](RESTful_Client& c) { tc::Snapshot x; return c.create_snapshot("vol-1", "s", root_info, x); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected.front().action);
    cloud.forget_sent();
    cloud.expect_all(c.answers);
    EXPECT_TRUE(c.call(client));
    EXPECT_EQ(c.expected, cloud.sent());
  }
  EXPECT_TRUE(sleeps.waits().empty());
  EXPECT_EQ("", log.text());
}

// A single-record query whose answer holds another count than one fails with its size
// message and leaves the caller's record as it was; so does a refusal, with its message.
TEST_F(Client_Test, Single_Record_Queries_Need_Exactly_One_Record) {
  const std::pair<Answer, const char*> cases[] = {
      {volumes({}), "Failed to query volume want, volumes size not 1, size is 0.\n"},
      {volumes({volume_item("x", "available"), volume_item("y", "available")}),
       "Failed to query volume want, volumes size not 1, size is 2.\n"},
      {refused("no such thing"), "Failed to query volume want, msg: no such thing.\n"},
  };
  for (const auto& c : cases) {
    log.clear();
    cloud.expect("DescribeVolumes", c.first);
    tc::Volume volume;
    volume.id = "before";
    EXPECT_FALSE(client.query_volume("want", volume));
    EXPECT_EQ("before", volume.id);
    EXPECT_EQ(1u, log.count(c.second)) << log.text();
  }
}

// A refused request is logged once, at error priority, with the operation's own words,
// the identifiers and the cloud's message; nothing waits after it.
TEST_F(Client_Test, A_Refused_Request_Logs_The_Operations_Message) {
  const std::vector<std::pair<std::string, Call>> cases = {
      {"Failed to stop instance i-1, msg: boom.\n", [](RESTful_Client& c) { return c.stop_instance("i-1"); }},
      {"Failed to detach volume vol-1 from i-1, device is /dev/vdb, msg: boom.\n",
       [](RESTful_Client& c) { return c.detach_volume("i-1", "/dev/vdb", "vol-1"); }},
      {"Failed to create volume, msg: boom.\n",
       [](RESTful_Client& c) { tc::Volume x; return c.create_volume("v", "z", "s", 1, "", x) || !x.id.empty(); }},
      {"Failed to query vpcs, msg: boom.\n", [](RESTful_Client& c) {
         tc::Vpcs x(2);  // a failed listing leaves the vector as it was
         return c.query_vpcs(x) || x.size() != 2;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    log.clear();
    cloud.forget_sent();
    cloud.respond([](const Sent&) { return refused("boom"); });
    EXPECT_FALSE(c.second(client));
    EXPECT_EQ(1u, cloud.sent().size());
    EXPECT_TRUE(log.contains(c.first, LM_ERROR));
    EXPECT_EQ(1u, log.entries().size()) << log.text();
  }
  EXPECT_TRUE(sleeps.waits().empty());
}

TEST_F(Client_Test, Instances_By_Name_Reports_None_At_Information_Priority) {
  tc::Instances found(1);
  found[0].id = "kept";
  cloud.expect("DescribeInstances", instances({})).expect("DescribeInstances", refused("denied"));
  EXPECT_FALSE(client.query_instances_by_name("web", found));
  EXPECT_FALSE(client.query_instances_by_name("web", found));
  EXPECT_EQ(std::vector<std::string>{"kept"}, ids(found));
  EXPECT_TRUE(log.contains("Failed to query instances by name web\n.", LM_INFO));
  EXPECT_TRUE(log.contains("Failed to query instances by name web , msg: denied.\n", LM_INFO));
  for (const auto& e : log.entries()) EXPECT_NE(LM_ERROR, e.priority) << e.text;
}

// Listings follow every page with the same filter; the pages before a failed one are
// kept; a token the cloud gave before stops the paging.
TEST_F(Client_Test, Listings_Follow_Every_Page) {
  const std::vector<std::pair<Params, std::function<bool(RESTful_Client&, tc::Instances&)>>> cases = {
      {{}, [](RESTful_Client& c, tc::Instances& v) { return c.query_instances(v); }},
      {filter("availability-zone", "c-1"),
       [](RESTful_Client& c, tc::Instances& v) { return c.query_cluster_instances("c-1", v); }},
      {filter("node-id", "n-1"), [](RESTful_Client& c, tc::Instances& v) { return c.query_node_instances("n-1", v); }},
  };
  const struct {
    Answer last;
    bool ok;
    std::vector<std::string> found;
    const char* logged;
  } endings[] = {
      {instances({instance_item("i-3", "running")}), true, {"i-1", "i-2", "i-3"}, ""},
      {refused("token expired"), false, {"i-1", "i-2"}, "Failed to query items by next token:tok-b, for action:DescribeInstances.\n"},
      {instances({instance_item("i-3", "running")}, "tok-a"), false, {"i-1", "i-2", "i-3"},
       "Failed to query items by next token:tok-a, for action:DescribeInstances, the cloud gave this token before.\n"},
  };
  for (const auto& c : cases) {
    for (const auto& e : endings) {
      SCOPED_TRACE(e.logged);
      log.clear();
      cloud.forget_sent();
      cloud.expect("DescribeInstances", instances({instance_item("i-1", "running")}, "tok-a"))
          .expect("DescribeInstances", instances({instance_item("i-2", "running")}, "tok-b"))
          .expect("DescribeInstances", e.last);
      tc::Instances found(e.ok ? 5 : 0);
      EXPECT_EQ(e.ok, c.second(client, found));
      EXPECT_EQ(e.found, ids(found));
      Params second = c.first, third = c.first;
      second.insert(second.end(), {{"MaxRecords", "20"}, {"NextToken", "tok-a"}});
      third.insert(third.end(), {{"MaxRecords", "20"}, {"NextToken", "tok-b"}});
      EXPECT_EQ(std::vector<Sent>({{"DescribeInstances", c.first}, {"DescribeInstances", second},
                                   {"DescribeInstances", third}}), cloud.sent());
      EXPECT_EQ(*e.logged != '\0', log.contains(e.logged, LM_ERROR));
    }
  }
}

// ---- composites ---------------------------------------------------------------------------

TEST_F(Client_Test, Lookups_By_Id_In_A_Listing) {
  cloud.expect("DescribeInstanceBackups", records("DescribeInstanceBackups", "instanceBackupSet",
                                                  {fields({{"backupId", "ib-1"}})}));
  tc::Instance_Backup backup;
  EXPECT_FALSE(client.query_instance_backup("i-1", "ib-2", backup));  // silently
  EXPECT_TRUE(backup.id.empty());

  const Answer all = instances({instance_item("i-1", "running", "", "st-1"), instance_item("i-2", "running", "", "st-2"),
                                instance_item("i-3", "stopped", "", "st-1")});
  cloud.expect("DescribeInstances", all).expect("DescribeInstances", all);
  tc::Instances found(1);
  found[0].id = "already";
  EXPECT_TRUE(client.query_storage_instances("st-9", found));
  ASSERT_TRUE(client.query_storage_instances("st-1", found));
  EXPECT_EQ(std::vector<std::string>({"already", "i-1", "i-3"}), ids(found));
  EXPECT_EQ("", log.text());
}

// An instance's detail survives a deleted image but stops at the first failed volume.
TEST_F(Client_Test, Instance_Detail) {
  const auto instance = [](const std::string& inner) {
    return ok("DescribeInstances", "<reservationSet><item><instancesSet><item>" + fields({{"instanceId", "i-1"}, {"instanceType", "t1"}}) +
                                       inner + "</item></instancesSet></item></reservationSet>");
  };
  cloud.expect_all({{"DescribeInstances", instance(fields({{"imageId", "img-gone"}}))},
                    {"DescribeInstanceTypes", TYPE},
                    {"DescribeImages", ok("DescribeImages", "<imagesSet/>")}});
  tc::Instance detail;
  ASSERT_TRUE(client.query_instance_detail("i-1", detail));
  EXPECT_EQ(4, detail.instance_type.cpu);
  EXPECT_TRUE(log.contains("Failed to query tavro image img-gone.\n", LM_ERROR));

  cloud.forget_sent();
  cloud.expect_all({{"DescribeInstances", instance("<blockDeviceMapping><item><ebs>" + fields({{"volumeId", "vol-1"}}) +
                                                   "</ebs></item><item><ebs>" + fields({{"volumeId", "vol-2"}}) +
                                                   "</ebs></item></blockDeviceMapping>")},
                    {"DescribeInstanceTypes", TYPE},
                    {"DescribeVolumes", volumes({})}});
  EXPECT_FALSE(client.query_instance_detail("i-1", detail));
  EXPECT_EQ(3u, cloud.sent().size());
}

TEST(Filter_Instances_By_Status, Keeps_Or_Drops_In_Order) {
  tc::Instances all(4), v;
  for (size_t i = 0; i < all.size(); ++i) all[i].id = "i-" + std::to_string(i);
  all[1].status = all[3].status = tc::TERMINATED;
  for (const bool equal : {false, true}) {
    v = all;
    EXPECT_TRUE(RESTful_Client::filter_instances_by_status(v, tc::TERMINATED, equal));
    EXPECT_EQ((equal ? std::vector<std::string>{"i-1", "i-3"} : std::vector<std::string>{"i-0", "i-2"}), ids(v));
  }
  v = {all[1]};
  EXPECT_TRUE(RESTful_Client::filter_instances_by_status(v, tc::TERMINATED, false));
  EXPECT_TRUE(v.empty());
  EXPECT_FALSE(RESTful_Client::filter_instances_by_status(v, tc::TERMINATED, true));
}

// A create whose wait fails still hands the new id over, for the caller to clean up (the
// other creates are checked end to end).
TEST_F(Client_Test, A_Failed_Wait_Still_Hands_Over_The_New_Id) {
  const std::vector<std::pair<Script, std::function<std::string(RESTful_Client&, bool&)>>> cases = {
      {{{"RunInstances", ok("RunInstances", fields({{"instanceId", "new"}}))}, {"DescribeInstances", refused("x", 500)}},
       [](RESTful_Client& c, bool& r) { tc::Instance x; r = c.create_instance({}, x); return x.id; }},
      {{{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "new"}}))}, {"DescribeVolumes", refused("x", 500)}},
       [](RESTful_Client& c, bool& r) { tc::Volume x; r = c.create_volume("v", "z", "s", 1, "", x); return x.id; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first.front().first);
    cloud.expect_all(c.first);
    bool result = true;
    EXPECT_EQ("new", c.second(client, result));
    EXPECT_FALSE(result);
  }
}

}  // namespace
