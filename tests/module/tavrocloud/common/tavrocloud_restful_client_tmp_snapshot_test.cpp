#include "tavrocloud/common/tavrocloud_restful_client.h"

#include "scripted_cloud.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;
using test::Answer;
using test::Sent;
using test::fields;
using test::item;
using test::ok;
using test::set_of;

const char TRY[] = "Failed to create tmp snapshot for volume %s, try count %d, msg: %s.\n";
const char SIZE[] = "Failed to create tmp snapshot for volume %s, tmp snapshot size not 1, size is %d.\n";
const char GONE[] = "The tmp snapshot %s did not exist and has been cleared successfully.\n";

Answer created(const std::string& id) {
  return ok("CreateTmpSnapshots", set_of("tmpSnapshotSet", {item(fields({{"tmpSnapshotId", id}}))}));
}

// The cloud's refusal when a temporary snapshot of the volume is still there.
Answer residue_refusal(const std::string& id) {
  return test::refused("Volume vol-1 already has tmp snapshot " + id + ", please delete it first");
}

class Tmp_Snapshot_Test : public ::testing::Test {
 protected:
  void SetUp() override { cloud.login(client); }

  // The answers of a clearing that finds the snapshot gone at its second look.
  void expect_cleared(const std::string& id) {
    cloud.expect("DescribeTmpSnapshots", test::tmp_snapshot(id, "available"))
        .expect("DeleteTmpSnapshots", test::result("DeleteTmpSnapshots"))
        .expect("DescribeTmpSnapshots", test::tmp_snapshots({}));
  }

  test::Scripted_Cloud cloud;
  RESTful_Client client;
  test::Sleep_Recorder sleeps;
  test::Log_Capture log;
};

TEST_F(Tmp_Snapshot_Test, First_Attempt_Succeeds_Quietly) {
  cloud.expect("CreateTmpSnapshots", created("tmpsnap-9"))
      .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-9", "pending"))
      .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-9", "available"));
  tavrocloud::Tmp_Snapshot snap;
  ASSERT_TRUE(client.create_tmp_snapshot("vol-1", snap));
  EXPECT_EQ("tmpsnap-9", snap.id);
  EXPECT_EQ(tavrocloud::AVAILABLE, snap.status);
  EXPECT_EQ(std::vector<unsigned int>({2}), sleeps.waits());
  EXPECT_EQ("", log.text());
}

// A residue in either state is removed (an attached one detached first) and the creation
// tried again.
TEST_F(Tmp_Snapshot_Test, Recovers_From_A_Residue) {
  for (const bool attached : {false, true}) {
    SCOPED_TRACE(attached ? "attached" : "available");
    log.clear();
    cloud.forget_sent();
    cloud.expect("CreateTmpSnapshots", residue_refusal("tmpsnap-old"))
        .expect("DescribeTmpSnapshots",
                test::tmp_snapshot("tmpsnap-old", attached ? "attached" : "available", "vol-1",
                                   attached ? "i-agent" : ""));
    if (attached) {
      cloud.expect("DetachTmpSnapshot", test::result("DetachTmpSnapshot"))
          .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-old", "detaching"))
          .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-old", "available"));
    }
    expect_cleared("tmpsnap-old");
    cloud.expect("CreateTmpSnapshots", created("tmpsnap-new"))
        .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-new", "available"));

    tavrocloud::Tmp_Snapshot snap;
    ASSERT_TRUE(client.create_tmp_snapshot("vol-1", snap));
    EXPECT_EQ("tmpsnap-new", snap.id);
    EXPECT_EQ(1u, log.count(test::line(TRY, {"vol-1", "1", "Volume vol-1 already has tmp snapshot tmpsnap-old, please delete it first"})));
    EXPECT_EQ(1u, log.count(test::line(GONE, {"tmpsnap-old"})));
    const std::vector<std::string> actions = cloud.actions();
    EXPECT_EQ(attached ? 1 : 0, std::count(actions.begin(), actions.end(), "DetachTmpSnapshot"));
    EXPECT_EQ((Sent{"DescribeTmpSnapshots", {{"TmpSnapshotId.1", "tmpsnap-old"}}}), cloud.sent()[1]);
  }
}

// A later attempt that gets no answer at all must not act on the earlier refusal's text:
// the residue it named was already cleared.
TEST_F(Tmp_Snapshot_Test, An_Unanswered_Attempt_Does_Not_Reuse_The_Earlier_Refusal) {
  cloud.expect("CreateTmpSnapshots", residue_refusal("tmpsnap-old"))
      .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-old", "available", "vol-1", ""));
  expect_cleared("tmpsnap-old");
  cloud.expect("CreateTmpSnapshots", test::unreachable());

  tavrocloud::Tmp_Snapshot snap;
  EXPECT_FALSE(client.create_tmp_snapshot("vol-1", snap));
  const std::vector<std::string> actions = cloud.actions();
  EXPECT_EQ(2, std::count(actions.begin(), actions.end(), "CreateTmpSnapshots"));
  EXPECT_EQ(1, std::count(actions.begin(), actions.end(), "DeleteTmpSnapshots"));
  EXPECT_EQ(1u, log.count(test::line(TRY, {"vol-1", "2", ""})));
}

// What the refusal's text allows: the residue is the marker up to the first comma.
TEST_F(Tmp_Snapshot_Test, Refusals_That_Name_No_Usable_Residue_End_At_Once) {
  struct Case {
    const char* message;
    const char* logged;
  };
  const Case cases[] = {
      {"Volume vol-1 is busy", "Failed to create tmp snapshot for volume vol-1, rsp don't contain tmpsnap info, exit.\n"},
      {"Volume vol-1 already has tmp snapshot tmpsnap-old", "Failed to parse tmp snapshot id from error msg, exit.\n"},
      {"", "Failed to create tmp snapshot for volume vol-1, rsp don't contain tmpsnap info, exit.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    log.clear();
    cloud.forget_sent();
    cloud.expect("CreateTmpSnapshots", test::refused(c.message));
    tavrocloud::Tmp_Snapshot snap;
    EXPECT_FALSE(client.create_tmp_snapshot("vol-1", snap));
    EXPECT_EQ(1u, log.count(c.logged));
    EXPECT_EQ(1u, cloud.sent().size());
  }
}

TEST_F(Tmp_Snapshot_Test, A_Residue_That_Cannot_Be_Queried_Ends_Creation) {
  cloud.expect("CreateTmpSnapshots", residue_refusal("tmpsnap-old"))
      .expect("DescribeTmpSnapshots", test::tmp_snapshots({}));
  tavrocloud::Tmp_Snapshot snap;
  EXPECT_FALSE(client.create_tmp_snapshot("vol-1", snap));
  EXPECT_EQ(1u, log.count("Failed to create tmp snapshot for volume vol-1 due to non-residual tmp snapshot issue, exit.\n"));
}

// The id comes from the cloud's free text: a snapshot of another volume is never touched.
TEST_F(Tmp_Snapshot_Test, A_Residue_Of_Another_Volume_Is_Left_Alone) {
  cloud.expect("CreateTmpSnapshots", residue_refusal("tmpsnap-other"))
      .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-other", "attached", "vol-2", "i-db"));
  tavrocloud::Tmp_Snapshot snap;
  EXPECT_FALSE(client.create_tmp_snapshot("vol-1", snap));
  EXPECT_EQ(std::vector<std::string>({"CreateTmpSnapshots", "DescribeTmpSnapshots"}), cloud.actions());
  EXPECT_TRUE(log.contains("belongs to volume vol-2", LM_ERROR));
}

TEST_F(Tmp_Snapshot_Test, A_Residue_That_Will_Not_Detach_Ends_Creation) {
  cloud.expect("CreateTmpSnapshots", residue_refusal("tmpsnap-old"))
      .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-old", "attached", "vol-1", "i-agent"))
      .expect("DetachTmpSnapshot", test::refused("in use"));
  tavrocloud::Tmp_Snapshot snap;
  EXPECT_FALSE(client.create_tmp_snapshot("vol-1", snap));
  EXPECT_EQ(1u, log.count("Failed to detach residual tmp snapshot tmpsnap-old for volume vol-1, exit.\n"));
}

TEST_F(Tmp_Snapshot_Test, Three_Refusals_End_With_Size_Zero) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    cloud.expect("CreateTmpSnapshots", residue_refusal("tmpsnap-old"))
        .expect("DescribeTmpSnapshots", test::tmp_snapshot("tmpsnap-old", "available"));
    expect_cleared("tmpsnap-old");
  }
  tavrocloud::Tmp_Snapshot snap;
  EXPECT_FALSE(client.create_tmp_snapshot("vol-1", snap));
  for (const char* n : {"1", "2", "3"}) {
    EXPECT_EQ(1u, log.count(test::line(TRY, {"vol-1", n, "Volume vol-1 already has tmp snapshot tmpsnap-old, please delete it first"})));
  }
  EXPECT_EQ(1u, log.count(test::line(SIZE, {"vol-1", "0"})));
  EXPECT_TRUE(snap.id.empty());
}

TEST_F(Tmp_Snapshot_Test, Clearing_A_Missing_Snapshot_Returns_At_Once) {
  cloud.expect("DescribeTmpSnapshots", test::tmp_snapshots({}));
  EXPECT_TRUE(client.clear_tmp_snapshot("tmpsnap-x"));
  EXPECT_EQ(1u, log.count("Failed to query tmp snapshot tmpsnap-x, tmp snapshot size not 1, size is 0.\n"));
  EXPECT_TRUE(log.contains(test::line(GONE, {"tmpsnap-x"}), LM_DEBUG));
  EXPECT_TRUE(sleeps.waits().empty());
}

TEST_F(Tmp_Snapshot_Test, Clearing_Gives_Up_When_The_Cloud_Keeps_Refusing) {
  cloud.respond([](const Sent& s) {
    return s.action == "DescribeTmpSnapshots" ? test::tmp_snapshot("tmpsnap-x", "deleting")
                                              : test::refused("still deleting");
  });
  EXPECT_FALSE(client.clear_tmp_snapshot("tmpsnap-x"));
  EXPECT_EQ(1u, log.count("Clear tmp snapshot tmpsnap-x timeout.\n"));
  EXPECT_EQ(static_cast<unsigned long>(RESTful_Client::CLEAR_TMP_SNAPSHOT_TIMEOUT), sleeps.total());
  const std::vector<unsigned int> waits = sleeps.waits();
  ASSERT_GE(waits.size(), 3u);
  EXPECT_EQ(1u, waits.front());
  for (unsigned int w : waits) EXPECT_LE(w, 60u);
  // one look and one deletion per pass: at once, after each sleep and at the deadline
  EXPECT_EQ(2 * (waits.size() + 1), cloud.sent().size());
}

}  // namespace
