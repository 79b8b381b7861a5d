#include "tavrocloud/common/tavrocloud_restful_client_waits.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scripted_cloud.h"

namespace {

namespace tc = tavrocloud;
using tc::RESTful_Client;
using namespace test;
using Call = std::function<bool(RESTful_Client&)>;

const char TIMEOUT[] = "Wait for resource timeout.\n";

using Wait_Test = Scripted_Client_Test;

// Answers every poll past the script with `answer(n)`, n counting the polls from 1.
void poll_answers(Scripted_Cloud& cloud, std::function<Answer(int)> answer) {
  auto polls = std::make_shared<std::atomic<int>>(0);
  cloud.respond([answer, polls](const Sent&) { return answer(++*polls); });
}

TEST_F(Wait_Test, Polls_At_Once_Then_Backs_Off_From_2_To_60_Seconds) {
  {
    Sleep_Recorder sleeps;
    cloud.expect("CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-9"}})));
    poll_answers(cloud, [](int n) { return volume("vol-9", n < 9 ? "creating" : "available"); });
    tc::Volume v;
    ASSERT_TRUE(client.create_volume("v", "z", "st-1", 1, "", v));
    EXPECT_EQ(tc::AVAILABLE, v.status);
    EXPECT_EQ(std::vector<unsigned int>({2, 4, 8, 16, 32, 60, 60, 60}), sleeps.waits());
    EXPECT_EQ(10u, cloud.sent().size());
  }
  // A volume moving to another node is waited for until it is there, whatever its state.
  Sleep_Recorder sleeps;
  cloud.expect("ModifyVolumeStorage", result("ModifyVolumeStorage"));
  poll_answers(cloud, [](int n) {
    static const char* const states[] = {"error", "creating", "in-use"};
    return volume("vol-1", n < 4 ? states[n - 1] : "error", "", "", "", n < 4 ? "n-1" : "n-2");
  });
  EXPECT_TRUE(client.modify_volume_storage("vol-1", "st-2", "n-2"));
  EXPECT_EQ(std::vector<unsigned int>({2, 4, 8}), sleeps.waits());
}

// A status that is neither the target nor the one transitional state ends the wait at
// once, and so does a resource that vanished.
TEST_F(Wait_Test, Any_Other_Status_Fails_At_Once) {
  const struct {
    Script script;
    Call call;
    std::string logged;
    std::vector<unsigned int> waits;
  } cases[] = {
      {{{"CreateSnapshot", ok("CreateSnapshot", fields({{"snapshotId", "s-1"}}))},
        {"DescribeSnapshots", snapshot("s-1", "complete")}},
       [](RESTful_Client& c) { tc::Snapshot s; return c.create_snapshot("v", "n", s); }, "Invalid resource status:16.\n", {}},
      {{{"DetachTmpSnapshot", result("DetachTmpSnapshot")}, {"DescribeTmpSnapshots", tmp_snapshot("t-1", "gone")}},
       [](RESTful_Client& c) { return c.detach_tmp_snapshot("t-1"); }, "Invalid resource status:0.\n", {}},
      {{{"StartInstances", ok("StartInstances")}, {"DescribeInstances", instance("i-1", "pending")},
        {"DescribeInstances", instances({})}},
       [](RESTful_Client& c) { return c.start_instance("i-1"); },
       "Failed to query instance i-1, instances size not 1, size is 0.\n", {2}},
      {{{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-8"}}))},
        {"DescribeVolumes", volume("vol-8", "creating")}, {"DescribeVolumes", volumes({})}},
       [](RESTful_Client& c) { tc::Volume v; return c.create_volume("v", "z", "s", 1, "", v); },
       "Failed to query volume vol-8, volumes size not 1, size is 0.\n", {2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    Sleep_Recorder sleeps;
    log.clear();
    cloud.expect_all(c.script);
    EXPECT_FALSE(c.call(client));
    EXPECT_EQ(1u, log.count(c.logged)) << log.text();
    EXPECT_EQ(0u, log.count(TIMEOUT));
    EXPECT_EQ(c.waits, sleeps.waits());
  }
}

// A new resource the cloud does not list yet, each way a cloud says so: every wait after a
// create keeps polling for the first 30 seconds, then fails with the query's own message
// (the snapshot and temporary snapshot creations are checked end to end).
TEST_F(Wait_Test, A_New_Resource_Not_Listed_Yet_Is_Polled_For_30_Seconds) {
  const Answer not_found = {400, "<Response><Errors><Error><Code>InvalidVolume.NotFound</Code><Message>"
                                 "no such volume</Message></Error></Errors></Response>"};
  const struct {
    std::pair<std::string, Answer> create;
    Answer unlisted;
    Answer listed;
    Call call;
    const char* message;
  } cases[] = {
      {{"RunInstances", ok("RunInstances", fields({{"instanceId", "i-9"}}))}, instances({}), instance("i-9", "running"),
       [](RESTful_Client& c) { tc::Instance i; return c.create_instance({}, i); },
       "Failed to query instance i-9, instances size not 1, size is 0.\n"},
      {{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-9"}}))}, not_found, volume("vol-9", "available"),
       [](RESTful_Client& c) { tc::Volume v; return c.create_volume("v", "z", "s", 1, "", v); },
       "Failed to query volume vol-9, msg: no such volume.\n"},
      {{"BackupInstance", ok("BackupInstance", fields({{"backupId", "ib-9"}}))},
       records("DescribeInstanceBackups", "instanceBackupSet", {}),
       records("DescribeInstanceBackups", "instanceBackupSet", {fields({{"backupId", "ib-9"}, {"backupStatus", "complete"}})}),
       [](RESTful_Client& c) { tc::Instance_Backup b; return c.create_instance_backup("i-1", b); },
       ""},  // a backup missing from the instance's list fails without a message
  };
  for (const auto& c : cases) {
    for (const int listed_at : {4, 0}) {  // listed at the fourth poll; never listed
      SCOPED_TRACE(c.create.first + " listed at " + std::to_string(listed_at));
      Sleep_Recorder sleeps;
      log.clear();
      cloud.expect(c.create.first, c.create.second);
      const Answer unlisted = c.unlisted, listed = c.listed;
      poll_answers(cloud, [=](int n) { return listed_at != 0 && n >= listed_at ? listed : unlisted; });
      EXPECT_EQ(listed_at != 0, c.call(client));
      std::vector<unsigned int> waits = {2, 4, 8, 16};
      if (listed_at != 0) waits.pop_back();
      EXPECT_EQ(waits, sleeps.waits());
      EXPECT_EQ(listed_at == 0 && *c.message != '\0' ? 1u : 0u, log.count(c.message)) << log.text();
      EXPECT_TRUE(listed_at == 0 || !log.contains("", LM_ERROR)) << log.text();
    }
  }
}

// A resource stuck in its transitional state: the wait gives up at its overall deadline,
// the last sleep cut to the time left, the last poll exactly at the deadline.
TEST_F(Wait_Test, A_Stuck_Resource_Times_Out_At_The_Deadline) {
  const struct {
    std::pair<std::string, Answer> start;
    Answer stuck;
    Call call;
    unsigned long deadline;
    const char* message;
  } cases[] = {
      {{"CreateVolume", ok("CreateVolume", fields({{"volumeId", "vol-9"}}))}, volume("vol-9", "creating"),
       [](RESTful_Client& c) { tc::Volume v; return c.create_volume("v", "z", "s", 1, "", v); },
       RESTful_Client::WAIT_CREATE_TIMEOUT, TIMEOUT},
      {{"ModifyVolumeStorage", result("ModifyVolumeStorage")}, volume("vol-1", "available", "", "", "", "n-1"),
       [](RESTful_Client& c) { return c.modify_volume_storage("vol-1", "st-2", "n-2"); },
       RESTful_Client::WAIT_CREATE_TIMEOUT, "Wait modify volume vol-1 to node n-2 timeout.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start.first);
    Sleep_Recorder sleeps;
    log.clear();
    cloud.forget_sent();
    cloud.expect(c.start.first, c.start.second);
    const Answer stuck = c.stuck;
    cloud.respond([stuck](const Sent&) { return stuck; });
    EXPECT_FALSE(c.call(client));
    EXPECT_EQ(1u, log.count(c.message)) << log.text();
    EXPECT_EQ(c.deadline, sleeps.total());
    const std::vector<unsigned int> waits = sleeps.waits();
    ASSERT_FALSE(waits.empty());
    EXPECT_LE(waits.back(), 60u);
    EXPECT_EQ(waits.size() + 2, cloud.sent().size());  // the start, a poll at once and one after each sleep
  }
}

TEST(Wait_Deadline, Cuts_The_Last_Sleep_And_Then_Refuses) {
  Sleep_Recorder sleeps;
  tc::Wait_Deadline deadline(10);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(deadline.sleep(4));
  EXPECT_FALSE(deadline.sleep(4));
  EXPECT_EQ(std::vector<unsigned int>({4, 4, 2}), sleeps.waits());
}

}  // namespace
