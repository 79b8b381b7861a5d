#include "tavrocloud/common/create_volume_response.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tavrocloud/common/create_instance_response.h"
#include "tavrocloud/common/create_network_interface_response.h"
#include "tavrocloud/common/create_snapshot_response.h"
#include "tavrocloud/common/create_tmp_snapshot_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

// The four parsers of a single new id: the id at any depth below the root; an error
// answer leaves it as it was and carries the message; a new root clears it.
TEST(Create_Responses, SingleIdentifier) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<tc::Default_Response>()> make;
    std::function<std::string(const tc::Default_Response&)> id;
    std::string answer;
    std::string empty_answer;
    const char* expected;
  };
  const Case cases[] = {
      {"instance", [] { return std::make_unique<tc::Create_Instance_Response>(); },
       [](const tc::Default_Response& r) {
         return static_cast<const tc::Create_Instance_Response&>(r).instance_id();
       },
       "<RunInstancesResponse><reservationId>r</reservationId><instancesSet><item><instanceId>"
       "i-new</instanceId></item></instancesSet></RunInstancesResponse>",
       "<RunInstancesResponse/>", "i-new"},
      {"volume", [] { return std::make_unique<tc::Create_Volume_Response>(); },
       [](const tc::Default_Response& r) {
         return static_cast<const tc::Create_Volume_Response&>(r).volume_id();
       },
       "<CreateVolumeResponse><volumeId>vol-new</volumeId><size>8</size></CreateVolumeResponse>",
       "<CreateVolumeResponse/>", "vol-new"},
      {"snapshot", [] { return std::make_unique<tc::Create_Snapshot_Response>(); },
       [](const tc::Default_Response& r) {
         return static_cast<const tc::Create_Snapshot_Response&>(r).snapshot_id();
       },
       "<CreateSnapshotResponse><snapshotId>snap-new</snapshotId></CreateSnapshotResponse>",
       "<CreateSnapshotResponse/>", "snap-new"},
      {"network interface",
       [] { return std::make_unique<tc::Create_Network_Interface_Response>(); },
       [](const tc::Default_Response& r) {
         return static_cast<const tc::Create_Network_Interface_Response&>(r).net_interface_id();
       },
       "<CreateNetworkInterfaceResponse><networkInterface><networkInterfaceId>eni-new"
       "</networkInterfaceId></networkInterface></CreateNetworkInterfaceResponse>",
       "<CreateNetworkInterfaceResponse/>", "eni-new"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<tc::Default_Response> rsp = c.make();
    ASSERT_TRUE(answer(*rsp, c.answer));
    EXPECT_EQ(c.expected, c.id(*rsp));
    EXPECT_FALSE(answer(*rsp, test::error_document("quota exceeded"), 400));
    EXPECT_EQ("quota exceeded", rsp->message());
    EXPECT_EQ(c.expected, c.id(*rsp));
    ASSERT_TRUE(answer(*rsp, c.empty_answer));
    EXPECT_EQ("", c.id(*rsp));

    std::unique_ptr<tc::Default_Response> fresh = c.make();
    EXPECT_FALSE(answer(*fresh, test::error_document("denied"), 403));
    EXPECT_EQ("", c.id(*fresh));
    EXPECT_EQ("denied", fresh->message());
  }
}

TEST(Create_Tmp_Snapshot_Response, OneIdPerItem) {
  tc::Create_Tmp_Snapshot_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<CreateTmpSnapshotsResponse><tmpSnapshotId>stray</tmpSnapshotId>"
                     "<tmpSnapshotSet><item><tmpSnapshotId>tmpsnap-1</tmpSnapshotId></item>"
                     "<item/><item><tmpSnapshotId>tmpsnap-3</tmpSnapshotId></item>"
                     "</tmpSnapshotSet></CreateTmpSnapshotsResponse>"));
  ASSERT_EQ(3u, rsp.tmp_snapshot_ids().size());
  EXPECT_EQ("tmpsnap-1", rsp.tmp_snapshot_ids()[0]);
  EXPECT_EQ("", rsp.tmp_snapshot_ids()[1]);
  EXPECT_EQ("tmpsnap-3", rsp.tmp_snapshot_ids()[2]);

  // The residual snapshot that blocks creation is named in the error message.
  EXPECT_FALSE(answer(rsp, test::error_document("volume has tmpsnap-0042, delete it first"), 400));
  EXPECT_EQ("volume has tmpsnap-0042, delete it first", rsp.message());
  EXPECT_EQ(3u, rsp.tmp_snapshot_ids().size());

  ASSERT_TRUE(answer(rsp,
                     "<CreateTmpSnapshotsResponse><tmpSnapshotSet><item><tmpSnapshotId>"
                     "tmpsnap-9</tmpSnapshotId></item></tmpSnapshotSet>"
                     "</CreateTmpSnapshotsResponse>"));
  ASSERT_EQ(1u, rsp.tmp_snapshot_ids().size());
  EXPECT_EQ("tmpsnap-9", rsp.tmp_snapshot_ids()[0]);
}
