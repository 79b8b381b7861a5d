#include "tavrocloud/common/tavrocloud_restful_client_waits.h"

#include "scripted_cloud.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;
using test::Answer;
using test::Sent;

const char INVALID[] = "Invalid resource status:%d.\n";
const char TIMEOUT[] = "Wait for resource timeout.\n";

class Wait_Test : public ::testing::Test {
 protected:
  void SetUp() override { cloud.login(client); }

  // Answers every poll past the script with `answer(n)`, n counting the polls from 1.
  void poll_answers(std::function<Answer(int)> answer) {
    auto polls = std::make_shared<std::atomic<int>>(0);
    cloud.respond([answer, polls](const Sent&) { return answer(++*polls); });
  }

  test::Scripted_Cloud cloud;
  RESTful_Client client;
  test::Sleep_Recorder sleeps;
  test::Log_Capture log;
};

TEST_F(Wait_Test, Polls_At_Once_Then_Backs_Off_From_2_To_60_Seconds) {
  cloud.expect("CreateVolume", test::ok("CreateVolume", test::fields({{"volumeId", "vol-9"}})));
  poll_answers([](int n) { return test::volume("vol-9", n < 9 ? "creating" : "available"); });
  tavrocloud::Volume volume;
  ASSERT_TRUE(client.create_volume("v", "z", "st-1", 1, "", volume));
  EXPECT_EQ(tavrocloud::AVAILABLE, volume.status);
  EXPECT_EQ(std::vector<unsigned int>({2, 4, 8, 16, 32, 60, 60, 60}), sleeps.waits());
  EXPECT_EQ(9u, cloud.sent().size() - 1);
}

// A status that is neither the target nor the one transitional state ends the wait at once.
struct Invalid_Case {
  const char* name;
  std::vector<std::pair<std::string, Answer>> answers;
  std::function<bool(RESTful_Client&)> call;
  int status;
};

TEST_F(Wait_Test, Any_Other_Status_Fails_At_Once) {
  using namespace test;
  const std::vector<Invalid_Case> cases = {
      {"stop sees running",
       {{"StopInstances", ok("StopInstances")}, {"DescribeInstances", instance("i-1", "running")}},
       [](RESTful_Client& c) { return c.stop_instance("i-1"); }, 10},
      {"snapshot complete, not completed",
       {{"CreateSnapshot", ok("CreateSnapshot", fields({{"snapshotId", "s-1"}}))},
        {"DescribeSnapshots", snapshot("s-1", "complete")}},
       [](RESTful_Client& c) { tavrocloud::Snapshot s; return c.create_snapshot("v", "n", s); }, 16},
      {"detach sees creating",
       {{"DetachVolume", ok("DetachVolume")}, {"DescribeVolumes", volume("vol-1", "creating")}},
       [](RESTful_Client& c) { return c.detach_volume("i-1", "/dev/vdb", "vol-1"); }, 4},
      {"tmp snapshot detach sees unknown word",
       {{"DetachTmpSnapshot", result("DetachTmpSnapshot")}, {"DescribeTmpSnapshots", tmp_snapshot("t-1", "gone")}},
       [](RESTful_Client& c) { return c.detach_tmp_snapshot("t-1"); }, 0},
  };
  for (const Invalid_Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    for (const auto& a : c.answers) cloud.expect(a.first, a.second);
    EXPECT_FALSE(c.call(client));
    EXPECT_EQ(1u, log.count(test::line(INVALID, {std::to_string(c.status)})));
    EXPECT_TRUE(sleeps.waits().empty());
  }
}

TEST_F(Wait_Test, A_Vanished_Resource_Ends_The_Wait_With_The_Query_Message) {
  cloud.expect("StartInstances", test::ok("StartInstances"))
      .expect("DescribeInstances", test::instance("i-1", "pending"))
      .expect("DescribeInstances", test::instances({}));
  EXPECT_FALSE(client.start_instance("i-1"));
  EXPECT_EQ(1u, log.count("Failed to query instance i-1, instances size not 1, size is 0.\n"));
  EXPECT_EQ(0u, log.count(TIMEOUT));
  EXPECT_EQ(std::vector<unsigned int>({2}), sleeps.waits());
}

// A new resource the cloud does not list yet, each way a cloud says so: every wait after a
// create keeps polling for the first 30 seconds, then fails with the query's own message.
struct Unlisted_Case {
  const char* name;
  Answer create;
  const char* create_action;
  Answer unlisted;
  Answer listed;
  std::function<bool(RESTful_Client&)> call;
  const char* message;
};

TEST_F(Wait_Test, A_New_Resource_Not_Listed_Yet_Is_Polled_For_30_Seconds) {
  using namespace test;
  const Answer not_found = {400,
                            "<Response><Errors><Error><Code>InvalidVolume.NotFound</Code><Message>"
                            "no such volume</Message></Error></Errors></Response>"};
  const std::vector<Unlisted_Case> cases = {
      {"instance", ok("RunInstances", fields({{"instanceId", "i-9"}})), "RunInstances", instances({}),
       instance("i-9", "running"),
       [](RESTful_Client& c) { tavrocloud::Instance i; return c.create_instance({}, i); },
       "Failed to query instance i-9, instances size not 1, size is 0.\n"},
      {"volume", ok("CreateVolume", fields({{"volumeId", "vol-9"}})), "CreateVolume", not_found,
       volume("vol-9", "available"),
       [](RESTful_Client& c) { tavrocloud::Volume v; return c.create_volume("v", "z", "s", 1, "", v); },
       "Failed to query volume vol-9, msg: no such volume.\n"},
      {"snapshot", ok("CreateSnapshot", fields({{"snapshotId", "s-9"}})), "CreateSnapshot",
       ok("DescribeSnapshots", "<snapshotSet/>"), snapshot("s-9", "completed"),
       [](RESTful_Client& c) { tavrocloud::Snapshot s; return c.create_snapshot("v", "n", s); },
       "Failed to query snapshot s-9, snapshot size not 1, size is 0.\n"},
      {"instance backup", ok("BackupInstance", fields({{"backupId", "ib-9"}})), "BackupInstance",
       ok("DescribeInstanceBackups", "<instanceBackupSet/>"),
       ok("DescribeInstanceBackups", set_of("instanceBackupSet", {item(fields({{"backupId", "ib-9"}, {"backupStatus", "complete"}}))})),
       [](RESTful_Client& c) { tavrocloud::Instance_Backup b; return c.create_instance_backup("i-1", b); },
       ""},  // a backup missing from the instance's list fails without a message
      {"tmp snapshot", ok("CreateTmpSnapshots", set_of("tmpSnapshotSet", {item(fields({{"tmpSnapshotId", "t-9"}}))})),
       "CreateTmpSnapshots", tmp_snapshots({}), tmp_snapshot("t-9", "available"),
       [](RESTful_Client& c) { tavrocloud::Tmp_Snapshot t; return c.create_tmp_snapshot("vol-1", t); },
       "Failed to query tmp snapshot t-9, tmp snapshot size not 1, size is 0.\n"},
  };
  for (const Unlisted_Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const int listed_at : {4, 0}) {  // listed at the fourth poll; never listed
      test::Sleep_Recorder own_sleeps;
      log.clear();
      cloud.expect(c.create_action, c.create);
      const Answer unlisted = c.unlisted, listed = c.listed;
      poll_answers([=](int n) { return listed_at != 0 && n >= listed_at ? listed : unlisted; });
      EXPECT_EQ(listed_at != 0, c.call(client));
      if (listed_at != 0) {
        EXPECT_EQ(std::vector<unsigned int>({2, 4, 8}), own_sleeps.waits());
        EXPECT_FALSE(log.contains("", LM_ERROR)) << log.text();
      } else {
        EXPECT_EQ(std::vector<unsigned int>({2, 4, 8, 16}), own_sleeps.waits());
        if (*c.message != '\0') {
          EXPECT_EQ(1u, log.count(c.message)) << log.text();
        }
      }
    }
  }
  // Once listed, a resource that vanishes ends the wait at once.
  cloud.expect("CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-8"}})))
      .expect("DescribeVolumes", volume("vol-8", "creating"))
      .expect("DescribeVolumes", volumes({}));
  tavrocloud::Volume v;
  EXPECT_FALSE(client.create_volume("v", "z", "s", 1, "", v));
}

// A resource stuck in its transitional state: the wait gives up at its overall deadline,
// the last sleep cut to the time left, the last poll exactly at the deadline.
struct Stuck_Case {
  const char* name;
  Answer start;
  const char* start_action;
  Answer stuck;
  std::function<bool(RESTful_Client&)> call;
  unsigned long deadline;
  const char* message;
};

TEST_F(Wait_Test, A_Stuck_Resource_Times_Out_At_The_Deadline) {
  using namespace test;
  const std::vector<Stuck_Case> cases = {
      {"create volume", ok("CreateVolume", fields({{"volumeId", "vol-9"}})), "CreateVolume",
       volume("vol-9", "creating"),
       [](RESTful_Client& c) { tavrocloud::Volume v; return c.create_volume("v", "z", "s", 1, "", v); },
       RESTful_Client::WAIT_CREATE_TIMEOUT, TIMEOUT},
      {"create instance backup", ok("BackupInstance", fields({{"backupId", "ib-1"}})), "BackupInstance",
       ok("DescribeInstanceBackups", set_of("instanceBackupSet", {item(fields({{"backupId", "ib-1"}, {"backupStatus", "pending"}}))})),
       [](RESTful_Client& c) { tavrocloud::Instance_Backup b; return c.create_instance_backup("i-1", b); },
       RESTful_Client::WAIT_CREATE_TIMEOUT, TIMEOUT},
      {"stop instance", ok("StopInstances"), "StopInstances", instance("i-1", "stopping"),
       [](RESTful_Client& c) { return c.stop_instance("i-1"); }, RESTful_Client::WAIT_CHANGE_TIMEOUT, TIMEOUT},
      {"detach volume", ok("DetachVolume"), "DetachVolume", volume("vol-1", "in-use"),
       [](RESTful_Client& c) { return c.detach_volume("i-1", "/dev/vdb", "vol-1"); },
       RESTful_Client::WAIT_CHANGE_TIMEOUT, TIMEOUT},
      {"attach tmp snapshot", result("AttachTmpSnapshot"), "AttachTmpSnapshot", tmp_snapshot("t-1", "attaching"),
       [](RESTful_Client& c) { return c.attach_tmp_snapshot("t-1", "i-agent"); },
       RESTful_Client::WAIT_CHANGE_TIMEOUT, TIMEOUT},
      {"move volume", result("ModifyVolumeStorage"), "ModifyVolumeStorage",
       volume("vol-1", "available", "", "", "", "n-1"),
       [](RESTful_Client& c) { return c.modify_volume_storage("vol-1", "st-2", "n-2"); },
       RESTful_Client::WAIT_CREATE_TIMEOUT, "Wait modify volume vol-1 to node n-2 timeout.\n"},
  };
  for (const Stuck_Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Sleep_Recorder own_sleeps;
    log.clear();
    cloud.forget_sent();
    cloud.expect(c.start_action, c.start);
    const Answer stuck = c.stuck;
    cloud.respond([stuck](const Sent&) { return stuck; });
    EXPECT_FALSE(c.call(client));
    EXPECT_EQ(1u, log.count(c.message)) << log.text();
    EXPECT_EQ(c.deadline, own_sleeps.total());
    const std::vector<unsigned int> waits = own_sleeps.waits();
    ASSERT_FALSE(waits.empty());
    EXPECT_LE(waits.back(), 60u);
    // one poll at once and one after each sleep (the last at the deadline)
    EXPECT_EQ(waits.size() + 2, cloud.sent().size());
  }
}

TEST_F(Wait_Test, Moving_A_Volume_Waits_For_Its_Node_Whatever_Its_State) {
  cloud.expect("ModifyVolumeStorage", test::result("ModifyVolumeStorage"));
  poll_answers([](int n) {
    static const char* const states[] = {"error", "creating", "in-use"};
    return n < 4 ? test::volume("vol-1", states[n - 1], "", "", "", "n-1")
                 : test::volume("vol-1", "error", "", "", "", "n-2");
  });
  EXPECT_TRUE(client.modify_volume_storage("vol-1", "st-2", "n-2"));
  EXPECT_EQ(std::vector<unsigned int>({2, 4, 8}), sleeps.waits());
}

TEST(Wait_Deadline, Cuts_The_Last_Sleep_And_Then_Refuses) {
  test::Sleep_Recorder sleeps;
  tavrocloud::Wait_Deadline deadline(10);
  EXPECT_TRUE(deadline.sleep(4));
  EXPECT_TRUE(deadline.sleep(4));
  EXPECT_TRUE(deadline.sleep(4));
  EXPECT_FALSE(deadline.sleep(4));
  EXPECT_EQ(std::vector<unsigned int>({4, 4, 2}), sleeps.waits());
}

}  // namespace
