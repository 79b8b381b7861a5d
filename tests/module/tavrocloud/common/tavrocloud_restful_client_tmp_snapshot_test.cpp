#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scripted_cloud.h"

namespace {

using tavrocloud::RESTful_Client;
using namespace test;

const std::string RESIDUE = "Volume vol-1 already has tmp snapshot tmpsnap-old, please delete it first";
const std::string TRY = "Failed to create tmp snapshot for volume vol-1, try count ";

using Tmp_Snapshot_Test = Scripted_Client_Test;

Answer created(const std::string& id) {
  return records("CreateTmpSnapshots", "tmpSnapshotSet", {fields({{"tmpSnapshotId", id}})});
}

// The answers of a clearing that finds the residue gone at its second look.
const Script CLEARED = {{"DeleteTmpSnapshots", result("DeleteTmpSnapshots")},
                        {"DescribeTmpSnapshots", tmp_snapshots({})}};

Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A creation refused for a residue of the volume (its id read from the refusal's text up
// to the first comma) removes it, detaching it first, and tries again; anything else
// ends the creation at once.
TEST_F(Tmp_Snapshot_Test, Creation_Recovers_From_A_Residue_Of_Its_Own_Volume_Only) {
  const Script refusal = {{"CreateTmpSnapshots", refused(RESIDUE)},
                          {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "available")},
                          {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "available")}};
  const Script attached_refusal = {
      {"CreateTmpSnapshots", refused(RESIDUE)},
      {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "attached", "vol-1", "i-agent")},
      {"DetachTmpSnapshot", result("DetachTmpSnapshot")},
      {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "detaching")},
      {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "available")},
      {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "available")}};
  const Script success = {{"CreateTmpSnapshots", created("tmpsnap-new")},
                          {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-new", "available")}};
  const struct {
    const char* name;
    Script script;
    bool ok;
    std::vector<std::string> logged;
  } cases[] = {
      {"available residue", refusal + CLEARED + success, true,
       {TRY + "1, msg: " + RESIDUE + ".\n", "The tmp snapshot tmpsnap-old did not exist and has been cleared successfully.\n"}},
      {"attached residue", attached_refusal + CLEARED + success, true, {TRY + "1, msg: " + RESIDUE + ".\n"}},
      // A later attempt without an answer must not act on the earlier refusal's text.
      {"unanswered retry", refusal + CLEARED + Script{{"CreateTmpSnapshots", unreachable()}}, false,
       {TRY + "2, msg: .\n"}},
      {"three refusals", refusal + CLEARED + refusal + CLEARED + refusal + CLEARED, false,
       {TRY + "3, msg: " + RESIDUE + ".\n",
        "Failed to create tmp snapshot for volume vol-1, tmp snapshot size not 1, size is 0.\n"}},
      {"busy", {{"CreateTmpSnapshots", refused("Volume vol-1 is busy")}}, false,
       {"Failed to create tmp snapshot for volume vol-1, rsp don't contain tmpsnap info, exit.\n"}},
      {"no refusal text", {{"CreateTmpSnapshots", refused("")}}, false,
       {"Failed to create tmp snapshot for volume vol-1, rsp don't contain tmpsnap info, exit.\n"}},
      {"no comma", {{"CreateTmpSnapshots", refused("Volume vol-1 already has tmp snapshot tmpsnap-old")}}, false,
       {"Failed to parse tmp snapshot id from error msg, exit.\n"}},
      {"residue not found", {{"CreateTmpSnapshots", refused(RESIDUE)}, {"DescribeTmpSnapshots", tmp_snapshots({})}},
       false, {"Failed to create tmp snapshot for volume vol-1 due to non-residual tmp snapshot issue, exit.\n"}},
      // A snapshot of another volume is never touched.
      {"residue of another volume",
       {{"CreateTmpSnapshots", refused(RESIDUE)}, {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "attached", "vol-2", "i-db")}},
       false, {"belongs to volume vol-2"}},
      {"residue will not detach",
       {{"CreateTmpSnapshots", refused(RESIDUE)},
        {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "attached", "vol-1", "i-agent")},
        {"DetachTmpSnapshot", refused("in use")}},
       false, {"Failed to detach residual tmp snapshot tmpsnap-old for volume vol-1, exit.\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    cloud.forget_sent();
    cloud.expect_all(c.script);
    tavrocloud::Tmp_Snapshot snap;
    EXPECT_EQ(c.ok, client.create_tmp_snapshot("vol-1", snap));
    EXPECT_EQ(c.ok ? "tmpsnap-new" : "", snap.id);
    for (const std::string& l : c.logged) EXPECT_EQ(1u, log.count(l)) << log.text();
    if (c.script.size() > 1) {
      ASSERT_LE(2u, cloud.sent().size());
      EXPECT_EQ((Sent{"DescribeTmpSnapshots", {{"TmpSnapshotId.1", "tmpsnap-old"}}}), cloud.sent()[1]);
    }
  }
}

TEST_F(Tmp_Snapshot_Test, Clearing_A_Missing_Snapshot_Returns_At_Once) {
  cloud.expect("DescribeTmpSnapshots", tmp_snapshots({}));
  EXPECT_TRUE(client.clear_tmp_snapshot("t-x"));
  EXPECT_EQ(1u, log.count("Failed to query tmp snapshot t-x, tmp snapshot size not 1, size is 0.\n"));
  EXPECT_TRUE(log.contains("The tmp snapshot t-x did not exist and has been cleared successfully.\n", LM_DEBUG));
  EXPECT_TRUE(sleeps.waits().empty());
}

TEST_F(Tmp_Snapshot_Test, Clearing_Gives_Up_When_The_Cloud_Keeps_Refusing) {
  cloud.respond([](const Sent& s) {
    return s.action == "DescribeTmpSnapshots" ? tmp_snapshot("t-x", "deleting") : refused("still deleting");
  });
  EXPECT_FALSE(client.clear_tmp_snapshot("t-x"));
  EXPECT_EQ(1u, log.count("Clear tmp snapshot t-x timeout.\n"));
  EXPECT_EQ(static_cast<unsigned long>(RESTful_Client::CLEAR_TMP_SNAPSHOT_TIMEOUT), sleeps.total());
  const std::vector<unsigned int> waits = sleeps.waits();
  ASSERT_GE(waits.size(), 3u);
  EXPECT_EQ(1u, waits.front());
  for (unsigned int w : waits) EXPECT_LE(w, 60u);
  // one look and one deletion per pass: at once, after each sleep and at the deadline
  EXPECT_EQ(2 * (waits.size() + 1), cloud.sent().size());
}

}  // namespace
