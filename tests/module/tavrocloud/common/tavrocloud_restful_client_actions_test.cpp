#include "tavrocloud/common/tavrocloud_restful_client.h"

#include "scripted_cloud.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;
using test::Answer;
using test::Params;
using test::Sent;
using test::fields;
using test::item;
using test::ok;
using test::set_of;

class Client_Test : public ::testing::Test {
 protected:
  void SetUp() override { cloud.login(client); }

  test::Scripted_Cloud cloud;
  RESTful_Client client;
  test::Sleep_Recorder sleeps;
};

Params filter(const std::string& key, const std::string& value) {
  return {{"Filter.1.Name", key}, {"Filter.1.Value.1", value}};
}

// ---- every action: the requests in order, and success ---------------------------------------

struct Request_Case {
  const char* name;
  std::vector<std::pair<std::string, Answer>> answers;
  std::vector<Sent> expected;
  std::function<bool(RESTful_Client&)> call;
};

std::vector<Request_Case> request_cases() {
  using namespace test;
  const Answer node = ok("DescribeNodes", set_of("nodeSet", {item(fields({{"nodeId", "n-1"}}))}));
  const Answer one_instance = instance("i-1", "running");
  const Answer type = ok("DescribeInstanceTypes", set_of("instanceTypeSet", {item(fields({{"instanceType", "t1"}}))}));
  const Answer image = ok("DescribeImages", set_of("imagesSet", {item(fields({{"imageId", "img-1"}}))}));
  const Answer backup = ok("DescribeInstanceBackups",
                           set_of("instanceBackupSet",
                                  {item(fields({{"backupId", "ib-1"}, {"backupStatus", "complete"}}))}));
  const Answer detail =
      ok("DescribeInstances",
         "<reservationSet><item><instancesSet><item>" +
             fields({{"instanceId", "i-1"}, {"imageId", "img-1"}, {"instanceType", "t1"}}) +
             "<blockDeviceMapping><item><ebs>" + fields({{"volumeId", "vol-1"}, {"size", "1"}}) +
             "</ebs></item></blockDeviceMapping></item></instancesSet></item></reservationSet>");

  json_spirit::Object root;
  root["disk_bus"] = "virtio";
  root["boot"] = 1;
  const json_spirit::Value root_info(root);

  return {
      {"query_instance", {{"DescribeInstances", one_instance}},
       {{"DescribeInstances", filter("instance-id", "i-1")}},
       [](RESTful_Client& c) { tavrocloud::Instance x; return c.query_instance("i-1", x) && x.id == "i-1"; }},
      {"query_node_instances", {{"DescribeInstances", one_instance}},
       {{"DescribeInstances", filter("node-id", "n-1")}},
       [](RESTful_Client& c) { tavrocloud::Instances x; return c.query_node_instances("n-1", x) && x.size() == 1; }},
      {"create_instance",
       {{"RunInstances", ok("RunInstances", "<instancesSet><item>" + fields({{"instanceId", "i-new"}}) +
                                                "</item></instancesSet>")},
        {"DescribeInstances", instance("i-new", "running")}},
       {{"RunInstances", {{"ImageId", "img-1"}, {"MinCount", "1"}}},
        {"DescribeInstances", filter("instance-id", "i-new")}},
       [](RESTful_Client& c) {
         tavrocloud::Instance x;
         return c.create_instance({{"ImageId", "img-1"}, {"MinCount", "1"}}, x) && x.id == "i-new" &&
                x.status == tavrocloud::RUNNING;
       }},
      {"stop_instance",
       {{"StopInstances", ok("StopInstances")}, {"DescribeInstances", instance("i-1", "stopped")}},
       {{"StopInstances", {{"InstanceId.1", "i-1"}}}, {"DescribeInstances", filter("instance-id", "i-1")}},
       [](RESTful_Client& c) { return c.stop_instance("i-1"); }},
      {"query_instance_detail",
       {{"DescribeInstances", detail},
        {"DescribeInstanceTypes", type},
        {"DescribeVolumes", volume("vol-1", "in-use")},
        {"DescribeImages", image}},
       {{"DescribeInstances", filter("instance-id", "i-1")},
        {"DescribeInstanceTypes", {{"InstanceType.1", "t1"}}},
        {"DescribeVolumes", filter("volume-id", "vol-1")},
        {"DescribeImages", filter("image-id", "img-1")}},
       [](RESTful_Client& c) {
         tavrocloud::Instance x;
         return c.query_instance_detail("i-1", x) && x.image.id == "img-1" && x.volumes.size() == 1 &&
                x.volumes[0].status == tavrocloud::IN_USE;
       }},
      {"create_volume on a node",
       {{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-new"}}))},
        {"DescribeVolumes", volume("vol-new", "available")}},
       {{"CreateVolume",
         {{"VolumeName", "v"}, {"AvailabilityZone", "c-1"}, {"Size", "-3"}, {"StorageId", "st-1"}, {"nodeId", "n-1"}}},
        {"DescribeVolumes", filter("volume-id", "vol-new")}},
       [](RESTful_Client& c) { tavrocloud::Volume x; return c.create_volume("v", "c-1", "st-1", -3, "n-1", x); }},
      {"detach_volume",
       {{"DetachVolume", ok("DetachVolume", fields({{"status", "detaching"}}))},
        {"DescribeVolumes", volume("vol-1", "available")}},
       {{"DetachVolume", {{"InstanceId", "i-1"}, {"Device", "/dev/vdc"}, {"VolumeId", "vol-1"}}},
        {"DescribeVolumes", filter("volume-id", "vol-1")}},
       [](RESTful_Client& c) { return c.detach_volume("i-1", "/dev/vdc", "vol-1"); }},
      {"modify_volume_storage",
       {{"ModifyVolumeStorage", result("ModifyVolumeStorage")},
        {"DescribeVolumes", volume("vol-1", "available", "", "", "", "n-2")}},
       {{"ModifyVolumeStorage", {{"volumeId", "vol-1"}, {"storageId", "st-2"}, {"nodeId", "n-2"}}},
        {"DescribeVolumes", filter("volume-id", "vol-1")}},
       [](RESTful_Client& c) { return c.modify_volume_storage("vol-1", "st-2", "n-2"); }},
      {"create_network_interface with groups and address",
       {{"CreateNetworkInterface", ok("CreateNetworkInterface", fields({{"networkInterfaceId", "eni-9"}}))}},
       {{"CreateNetworkInterface",
         {{"SubnetId", "sub-1"}, {"SecurityGroupId.1", "sg-1"}, {"SecurityGroupId.2", "sg-2"},
          {"privateIpAddress", "10.0.0.5"}}}},
       [](RESTful_Client& c) {
         std::string id;
         return c.create_network_interface("sub-1", {"sg-1", "sg-2"}, "", "10.0.0.5", id) && id == "eni-9";
       }},
      {"create_network_interface with a MAC only",
       {{"CreateNetworkInterface", ok("CreateNetworkInterface", fields({{"networkInterfaceId", "eni-9"}}))}},
       {{"CreateNetworkInterface", {{"SubnetId", "sub-1"}, {"MacAddress", "52:54:00:00:00:01"}}}},
       [](RESTful_Client& c) {
         std::string id;
         return c.create_network_interface("sub-1", {}, "52:54:00:00:00:01", "", id);
       }},
      {"create_instance_backup",
       {{"BackupInstance", ok("BackupInstance", fields({{"backupId", "ib-1"}}))},
        {"DescribeInstanceBackups", backup}},
       {{"BackupInstance", {{"InstanceId", "i-1"}}}, {"DescribeInstanceBackups", {{"InstanceId.1", "i-1"}}}},
       [](RESTful_Client& c) { tavrocloud::Instance_Backup x; return c.create_instance_backup("i-1", x); }},
      {"create_snapshot of a root volume",
       {{"CreateSnapshot", ok("CreateSnapshot", fields({{"snapshotId", "snap-9"}}))},
        {"DescribeSnapshots", snapshot("snap-9", "completed")}},
       {{"CreateSnapshot",
         {{"VolumeId", "vol-1"}, {"SnapshotName", "s"}, {"IsRoot", "true"},
          {"RootInfo", "{\"boot\":1,\"disk_bus\":\"virtio\"}"}}},
        {"DescribeSnapshots", {{"InstanceSnapshotId.1", "snap-9"}}}},
       [root_info](RESTful_Client& c) { tavrocloud::Snapshot x; return c.create_snapshot("vol-1", "s", root_info, x); }},
      {"query_storage_instances",
       {{"DescribeInstances", instances({instance_item("i-1", "running", "", "st-1")})}},
       {{"DescribeInstances", {}}},
       [](RESTful_Client& c) { tavrocloud::Instances x; return c.query_storage_instances("st-1", x) && x.size() == 1; }},
      {"create_tmp_snapshot",
       {{"CreateTmpSnapshots", ok("CreateTmpSnapshots", set_of("tmpSnapshotSet", {item(fields({{"tmpSnapshotId", "tmpsnap-9"}}))}))},
        {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-9", "available")}},
       {{"CreateTmpSnapshots", {{"VolumeId.1", "vol-1"}}}, {"DescribeTmpSnapshots", {{"TmpSnapshotId.1", "tmpsnap-9"}}}},
       [](RESTful_Client& c) { tavrocloud::Tmp_Snapshot x; return c.create_tmp_snapshot("vol-1", x) && x.id == "tmpsnap-9"; }},
      {"attach_tmp_snapshot",
       {{"AttachTmpSnapshot", result("AttachTmpSnapshot")},
        {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-1", "attached", "vol-1", "i-agent")}},
       {{"AttachTmpSnapshot", {{"TmpSnapshotId", "tmpsnap-1"}, {"InstanceId", "i-agent"}}},
        {"DescribeTmpSnapshots", {{"TmpSnapshotId.1", "tmpsnap-1"}}}},
       [](RESTful_Client& c) { return c.attach_tmp_snapshot("tmpsnap-1", "i-agent"); }},
  };
}

TEST(Client_Requests, Every_Action_Sends_Its_Parameters_In_Order) {
  for (const Request_Case& c : request_cases()) {
    SCOPED_TRACE(c.name);
    test::Scripted_Cloud cloud;
    RESTful_Client client;
    cloud.login(client);
    test::Sleep_Recorder sleeps;
    test::Log_Capture log;
    for (const auto& a : c.answers) cloud.expect(a.first, a.second);
    EXPECT_TRUE(c.call(client));
    EXPECT_EQ(c.expected, cloud.sent());
    EXPECT_TRUE(sleeps.waits().empty());
    EXPECT_EQ("", log.text());
  }
}

// ---- result forms -------------------------------------------------------------------------

// A single-record query whose answer holds another count than one fails with its size
// message and leaves the caller's record as it was.
struct Single_Case {
  const char* name;
  const char* action;
  std::function<Answer(int)> answer;  // an answer with n records
  const char* size_message;
  std::function<bool(RESTful_Client&, std::string&)> call;  // the record's id after the call
};

TEST_F(Client_Test, Single_Record_Queries_Need_Exactly_One_Record) {
  using namespace test;
  auto repeat = [](const std::string& one, int n) {
    std::vector<std::string> v(static_cast<size_t>(n), one);
    return v;
  };
  const std::vector<Single_Case> cases = {
      {"volume", "DescribeVolumes", [&](int n) { return volumes(repeat(volume_item("x", "available"), n)); },
       "Failed to query volume %s, volumes size not 1, size is %d.\n",
       [](RESTful_Client& c, std::string& id) {
         tavrocloud::Volume r; r.id = "before"; bool ok = c.query_volume("want", r); id = r.id; return ok; }},
      {"instance", "DescribeInstances", [&](int n) { return instances(repeat(instance_item("x", "running"), n)); },
       "Failed to query instance %s, instances size not 1, size is %d.\n",
       [](RESTful_Client& c, std::string& id) {
         tavrocloud::Instance r; r.id = "before"; bool ok = c.query_instance("want", r); id = r.id; return ok; }},
      {"instance type", "DescribeInstanceTypes",
       [&](int n) { return ok("DescribeInstanceTypes", set_of("instanceTypeSet", repeat(item(fields({{"instanceType", "x"}})), n))); },
       "Failed to query instance type %s, size not 1, size is %d.\n",
       [](RESTful_Client& c, std::string& id) {
         tavrocloud::Instance_Type r; r.type = "before"; bool ok = c.query_instance_type("want", r); id = r.type; return ok; }},
  };
  for (const Single_Case& c : cases) {
    for (int n : {0, 2}) {
      SCOPED_TRACE(std::string(c.name) + " with " + std::to_string(n));
      test::Log_Capture log;
      cloud.expect(c.action, c.answer(n));
      std::string id;
      EXPECT_FALSE(c.call(client, id));
      EXPECT_EQ("before", id);
      EXPECT_EQ(1u, log.count(test::line(c.size_message, {"want", std::to_string(n)})));
    }
    SCOPED_TRACE(std::string(c.name) + " refused");
    test::Log_Capture log;
    cloud.expect(c.action, test::refused("no such thing"));
    std::string id;
    EXPECT_FALSE(c.call(client, id));
    EXPECT_EQ("before", id);
    EXPECT_TRUE(log.contains("want") && log.contains("msg: no such thing.\n", LM_ERROR)) << log.text();
  }
}

// A refused request is logged once, at error priority, with the operation's own words,
// the identifiers and the cloud's message; nothing waits after it.
struct Refused_Case {
  const char* action;
  const char* logged;
  std::function<bool(RESTful_Client&)> call;
};

TEST_F(Client_Test, A_Refused_Request_Logs_The_Operations_Message) {
  using namespace tavrocloud;
  const std::vector<Refused_Case> cases = {
      {"DescribeClusters", "Failed to query clusters, msg: boom.\n", [](RESTful_Client& c) { Clusters x; return c.query_clusters(x); }},
      {"StopInstances", "Failed to stop instance i-1, msg: boom.\n", [](RESTful_Client& c) { return c.stop_instance("i-1"); }},
      {"DetachVolume", "Failed to detach volume vol-1 from i-1, device is /dev/vdb, msg: boom.\n", [](RESTful_Client& c) { return c.detach_volume("i-1", "/dev/vdb", "vol-1"); }},
      {"ModifyVolumeStorage", "Failed to modify volume vol-1, storage st-2,node n-2, msg: boom.\n", [](RESTful_Client& c) { return c.modify_volume_storage("vol-1", "st-2", "n-2"); }},
      {"CreateNetworkInterface", "Failed to create network interface, msg: boom.\n", [](RESTful_Client& c) { std::string id; return c.create_network_interface("sub-1", {}, "", "", id); }},
      {"DescribeInstanceBackups", "Failed to query instance i-1, backup ib-1, msg: boom.\n", [](RESTful_Client& c) { Instance_Backup x; return c.query_instance_backup("i-1", "ib-1", x); }},
      {"DescribeTmpSnapshots", "Failed to query tmp snapshot t-1,  msg: boom.\n", [](RESTful_Client& c) { Tmp_Snapshot x; return c.query_tmp_snapshot("t-1", x); }},
      {"AttachTmpSnapshot", "Failed to attach tmp snapshot t-1 to i-1, msg: boom.\n", [](RESTful_Client& c) { return c.attach_tmp_snapshot("t-1", "i-1"); }},
  };
  for (const Refused_Case& c : cases) {
    SCOPED_TRACE(c.logged);
    test::Log_Capture log;
    cloud.forget_sent();
    cloud.expect(c.action, test::refused("boom"));
    EXPECT_FALSE(c.call(client));
    EXPECT_EQ(1u, cloud.sent().size());
    EXPECT_EQ(1u, log.count(c.logged));
    EXPECT_TRUE(log.contains(c.logged, LM_ERROR));
  }
  EXPECT_TRUE(sleeps.waits().empty());
}

TEST_F(Client_Test, Listings_Replace_The_Vector_Only_On_Success) {
  tavrocloud::Clusters clusters(3);
  cloud.expect("DescribeClusters", ok("DescribeClusters", set_of("clusterSet", {item(fields({{"clusterId", "c-9"}}))})));
  ASSERT_TRUE(client.query_clusters(clusters));
  ASSERT_EQ(1u, clusters.size());
  EXPECT_EQ("c-9", clusters[0].id);

  cloud.expect("DescribeClusters", ok("DescribeClusters", "<clusterSet/>"));
  EXPECT_TRUE(client.query_clusters(clusters));
  EXPECT_TRUE(clusters.empty());

  tavrocloud::Vpcs vpcs(2);
  test::Log_Capture log;
  cloud.expect("DescribeVpcs", test::refused("busy", 503));
  EXPECT_FALSE(client.query_vpcs(vpcs));
  EXPECT_EQ(2u, vpcs.size());
  EXPECT_TRUE(log.contains("Failed to query vpcs, msg: busy.\n", LM_ERROR));
}

TEST_F(Client_Test, Instances_By_Name_Reports_None_At_Information_Priority) {
  tavrocloud::Instances found(1);
  found[0].id = "kept";
  test::Log_Capture log;
  cloud.expect("DescribeInstances", test::instances({}));
  EXPECT_FALSE(client.query_instances_by_name("web", found));
  ASSERT_EQ(1u, found.size());
  EXPECT_EQ("kept", found[0].id);
  EXPECT_TRUE(log.contains("Failed to query instances by name web\n.", LM_INFO));

  cloud.expect("DescribeInstances", test::refused("denied"));
  EXPECT_FALSE(client.query_instances_by_name("web", found));
  EXPECT_TRUE(log.contains("Failed to query instances by name web , msg: denied.\n", LM_INFO));
  for (const auto& e : log.entries()) EXPECT_NE(LM_ERROR, e.priority) << e.text;
}

// ---- paging -------------------------------------------------------------------------------

std::vector<std::string> ids(const tavrocloud::Instances& v) {
  std::vector<std::string> out;
  for (const auto& i : v) out.push_back(i.id);
  return out;
}

struct Paged_Case {
  const char* name;
  Params first;  // the first request's own parameters
  std::function<bool(RESTful_Client&, tavrocloud::Instances&)> call;
};

TEST_F(Client_Test, Instance_Listings_Follow_Every_Page) {
  const std::vector<Paged_Case> cases = {
      {"all", {}, [](RESTful_Client& c, tavrocloud::Instances& v) { return c.query_instances(v); }},
      {"cluster", filter("availability-zone", "c-1"),
       [](RESTful_Client& c, tavrocloud::Instances& v) { return c.query_cluster_instances("c-1", v); }},
      {"node", filter("node-id", "n-1"),
       [](RESTful_Client& c, tavrocloud::Instances& v) { return c.query_node_instances("n-1", v); }},
  };
  for (const Paged_Case& c : cases) {
    SCOPED_TRACE(c.name);
    cloud.forget_sent();
    cloud.expect("DescribeInstances", test::instances({test::instance_item("i-1", "running"),
                                                       test::instance_item("i-2", "running")}, "tok-a"))
        .expect("DescribeInstances", test::instances({test::instance_item("i-3", "stopped")}, "tok-b"))
        .expect("DescribeInstances", test::instances({test::instance_item("i-4", "running")}));
    tavrocloud::Instances found(5);
    ASSERT_TRUE(c.call(client, found));
    EXPECT_EQ(std::vector<std::string>({"i-1", "i-2", "i-3", "i-4"}), ids(found));
    Params second = c.first;
    second.insert(second.end(), {{"MaxRecords", "20"}, {"NextToken", "tok-a"}});
    Params third = c.first;
    third.insert(third.end(), {{"MaxRecords", "20"}, {"NextToken", "tok-b"}});
    EXPECT_EQ(std::vector<Sent>({{"DescribeInstances", c.first},
                                 {"DescribeInstances", second},
                                 {"DescribeInstances", third}}),
              cloud.sent());
  }
}

TEST_F(Client_Test, Security_Groups_Follow_Every_Page) {
  auto page = [](const std::string& id, const std::string& token) {
    return ok("DescribeSecurityGroups", set_of("securityGroupInfo", {item(fields({{"groupId", id}}))}) +
                                            (token.empty() ? "" : fields({{"nextToken", token}})));
  };
  cloud.expect("DescribeSecurityGroups", page("sg-1", "t1"))
      .expect("DescribeSecurityGroups", page("sg-2", "t2"))
      .expect("DescribeSecurityGroups", page("sg-3", ""));
  tavrocloud::Security_Groups groups;
  ASSERT_TRUE(client.query_security_groups(groups));
  ASSERT_EQ(3u, groups.size());
  EXPECT_EQ("sg-3", groups[2].id);
  EXPECT_EQ((Params{{"MaxRecords", "20"}, {"NextToken", "t2"}}), cloud.sent()[2].params);
}

TEST_F(Client_Test, A_Failed_Page_Keeps_The_Pages_Before_It) {
  test::Log_Capture log;
  cloud.expect("DescribeInstances", test::instances({test::instance_item("i-1", "running")}, "tok-a"))
      .expect("DescribeInstances", test::instances({test::instance_item("i-2", "running")}, "tok-b"))
      .expect("DescribeInstances", test::refused("token expired"));
  tavrocloud::Instances found;
  EXPECT_FALSE(client.query_instances(found));
  EXPECT_EQ(std::vector<std::string>({"i-1", "i-2"}), ids(found));
  EXPECT_EQ(1u, log.count("Failed to query items by next token:tok-b, for action:DescribeInstances.\n"));
}

TEST_F(Client_Test, A_Repeated_Token_Stops_Paging) {
  for (const char* repeated : {"tok-a", "tok-b"}) {
    SCOPED_TRACE(repeated);
    test::Log_Capture log;
    cloud.forget_sent();
    cloud.expect("DescribeInstances", test::instances({test::instance_item("i-1", "running")}, "tok-a"))
        .expect("DescribeInstances", test::instances({test::instance_item("i-2", "running")}, "tok-b"))
        .expect("DescribeInstances", test::instances({test::instance_item("i-3", "running")}, repeated));
    tavrocloud::Instances found;
    EXPECT_FALSE(client.query_instances(found));
    EXPECT_EQ(3u, cloud.sent().size());
    EXPECT_EQ(std::vector<std::string>({"i-1", "i-2", "i-3"}), ids(found));
    EXPECT_TRUE(log.contains(std::string("Failed to query items by next token:") + repeated +
                                 ", for action:DescribeInstances, the cloud gave this token before.\n",
                             LM_ERROR));
  }
}

// ---- composites ---------------------------------------------------------------------------

TEST_F(Client_Test, Instance_Backup_Not_Listed_Fails_Silently) {
  test::Log_Capture log;
  cloud.expect("DescribeInstanceBackups",
               ok("DescribeInstanceBackups", set_of("instanceBackupSet", {item(fields({{"backupId", "ib-1"}}))})));
  tavrocloud::Instance_Backup backup;
  EXPECT_FALSE(client.query_instance_backup("i-1", "ib-2", backup));
  EXPECT_TRUE(backup.id.empty());
  EXPECT_EQ("", log.text());
}

TEST_F(Client_Test, Storage_Lookups) {
  test::Log_Capture log;
  const Answer storages = ok("DescribeStorages", set_of("storageSet", {item(fields({{"storageId", "st-1"}})),
                                                                       item(fields({{"storageId", "st-2"}, {"storageType", "ceph"}}))}));
  cloud.expect("DescribeStorages", storages).expect("DescribeStorages", storages);
  tavrocloud::Storage storage;
  EXPECT_FALSE(client.query_storage("st-9", storage));
  ASSERT_TRUE(client.query_storage("st-2", storage));
  EXPECT_EQ("ceph", storage.type);

  const Answer all = test::instances({test::instance_item("i-1", "running", "", "st-1"),
                                      test::instance_item("i-2", "running", "", "st-2"),
                                      test::instance_item("i-3", "stopped", "", "st-1")});
  cloud.expect("DescribeInstances", all).expect("DescribeInstances", all);
  tavrocloud::Instances found(1);
  found[0].id = "already";
  EXPECT_TRUE(client.query_storage_instances("st-9", found));
  ASSERT_TRUE(client.query_storage_instances("st-1", found));
  EXPECT_EQ(std::vector<std::string>({"already", "i-1", "i-3"}), ids(found));
  EXPECT_EQ("", log.text());
}

TEST_F(Client_Test, Instance_Detail_Survives_A_Deleted_Image) {
  test::Log_Capture log;
  cloud.expect("DescribeInstances",
               ok("DescribeInstances", "<reservationSet><item><instancesSet><item>" +
                                           fields({{"instanceId", "i-1"}, {"imageId", "img-gone"}, {"instanceType", "t1"}}) +
                                           "</item></instancesSet></item></reservationSet>"))
      .expect("DescribeInstanceTypes",
              ok("DescribeInstanceTypes", set_of("instanceTypeSet", {item(fields({{"instanceType", "t1"}, {"cpu", "4"}}))})))
      .expect("DescribeImages", ok("DescribeImages", "<imagesSet/>"));
  tavrocloud::Instance instance;
  ASSERT_TRUE(client.query_instance_detail("i-1", instance));
  EXPECT_EQ(4, instance.instance_type.cpu);
  EXPECT_TRUE(instance.image.id.empty());
  EXPECT_TRUE(log.contains("Failed to query tavro image img-gone.\n", LM_ERROR));
}

TEST_F(Client_Test, Instance_Detail_Stops_At_The_First_Failed_Volume) {
  test::Log_Capture log;
  cloud.expect("DescribeInstances",
               ok("DescribeInstances",
                  "<reservationSet><item><instancesSet><item>" + fields({{"instanceId", "i-1"}, {"instanceType", "t1"}}) +
                      "<blockDeviceMapping><item><ebs>" + fields({{"volumeId", "vol-1"}}) + "</ebs></item><item><ebs>" +
                      fields({{"volumeId", "vol-2"}}) + "</ebs></item></blockDeviceMapping></item></instancesSet></item></reservationSet>"))
      .expect("DescribeInstanceTypes",
              ok("DescribeInstanceTypes", set_of("instanceTypeSet", {item(fields({{"instanceType", "t1"}}))})))
      .expect("DescribeVolumes", test::volumes({}));
  tavrocloud::Instance instance;
  EXPECT_FALSE(client.query_instance_detail("i-1", instance));
  EXPECT_EQ(3u, cloud.sent().size());
}

TEST(Filter_Instances_By_Status, Keeps_Or_Drops_In_Order) {
  using tavrocloud::Status;
  auto make = [](std::vector<Status> statuses) {
    tavrocloud::Instances v;
    for (size_t i = 0; i < statuses.size(); ++i) {
      tavrocloud::Instance x;
      x.id = "i-" + std::to_string(i);
      x.status = statuses[i];
      v.push_back(x);
    }
    return v;
  };
  const auto all = make({tavrocloud::RUNNING, tavrocloud::TERMINATED, tavrocloud::STOPPED, tavrocloud::TERMINATED});
  struct Case {
    bool equal;
    std::vector<std::string> left;
  };
  for (const Case& c : {Case{false, {"i-0", "i-2"}}, Case{true, {"i-1", "i-3"}}}) {
    auto v = all;
    EXPECT_TRUE(RESTful_Client::filter_instances_by_status(v, tavrocloud::TERMINATED, c.equal));
    EXPECT_EQ(c.left, ids(v));
  }
  auto none_left = make({tavrocloud::TERMINATED});
  EXPECT_TRUE(RESTful_Client::filter_instances_by_status(none_left, tavrocloud::TERMINATED, false));
  EXPECT_TRUE(none_left.empty());
  tavrocloud::Instances empty;
  EXPECT_FALSE(RESTful_Client::filter_instances_by_status(empty, tavrocloud::TERMINATED, true));
}

// ---- creates hand the new id over even when the wait fails ---------------------------------

struct Create_Case {
  const char* name;
  std::vector<std::pair<std::string, Answer>> answers;  // the create, then a failing poll
  std::function<std::string(RESTful_Client&, bool&)> call;
};

TEST_F(Client_Test, A_Failed_Wait_Still_Hands_Over_The_New_Id) {
  using namespace test;
  const std::vector<Create_Case> cases = {
      {"instance",
       {{"RunInstances", ok("RunInstances", fields({{"instanceId", "i-new"}}))}, {"DescribeInstances", refused("overloaded", 500)}},
       [](RESTful_Client& c, bool& r) { tavrocloud::Instance x; r = c.create_instance({}, x); return x.id; }},
      {"volume",
       {{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "i-new"}}))}, {"DescribeVolumes", refused("overloaded", 500)}},
       [](RESTful_Client& c, bool& r) { tavrocloud::Volume x; r = c.create_volume("v", "z", "s", 1, "", x); return x.id; }},
      {"snapshot",
       {{"CreateSnapshot", ok("CreateSnapshot", fields({{"snapshotId", "i-new"}}))},
        {"DescribeSnapshots", refused("overloaded", 500)}},
       [](RESTful_Client& c, bool& r) { tavrocloud::Snapshot x; r = c.create_snapshot("v", "n", x); return x.id; }},
      {"instance backup",
       {{"BackupInstance", ok("BackupInstance", fields({{"backupId", "i-new"}}))},
        {"DescribeInstanceBackups", refused("overloaded", 500)}},
       [](RESTful_Client& c, bool& r) { tavrocloud::Instance_Backup x; r = c.create_instance_backup("i-1", x); return x.id; }},
      {"tmp snapshot",
       {{"CreateTmpSnapshots", ok("CreateTmpSnapshots", set_of("tmpSnapshotSet", {item(fields({{"tmpSnapshotId", "i-new"}}))}))},
        {"DescribeTmpSnapshots", tmp_snapshot("i-new", "error")}},
       [](RESTful_Client& c, bool& r) { tavrocloud::Tmp_Snapshot x; r = c.create_tmp_snapshot("vol-1", x); return x.id; }},
  };
  for (const Create_Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    for (const auto& a : c.answers) cloud.expect(a.first, a.second);
    bool result = true;
    EXPECT_EQ("i-new", c.call(client, result));
    EXPECT_FALSE(result);
  }
}

TEST_F(Client_Test, A_Refused_Create_Does_Not_Wait) {
  test::Log_Capture log;
  cloud.expect("CreateVolume", test::refused("storage full"));
  tavrocloud::Volume volume;
  EXPECT_FALSE(client.create_volume("v", "z", "s", 1, "", volume));
  EXPECT_TRUE(volume.id.empty());
  EXPECT_EQ(1u, cloud.sent().size());
  EXPECT_EQ(1u, log.count("Failed to create volume, msg: storage full.\n"));
}

}  // namespace
