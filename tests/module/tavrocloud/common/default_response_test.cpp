#include "tavrocloud/common/default_response.h"

#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "tavrocloud/common/common_result_response.h"
#include "tavrocloud/common/delete_instance_backup_response.h"
#include "tavrocloud/common/delete_instance_response.h"
#include "tavrocloud/common/operate_instance_response.h"
#include "tavrocloud/common/operate_volume_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

// ---- the event pattern ------------------------------------------------------------------------

TEST(Default_Response, ErrorMessagesAtAnyDepth) {
  const struct {
    const char* name;
    std::string xml;
    const char* message;
  } cases[] = {
      {"standard error document", test::error_document("volume busy"), "volume busy"},
      {"unknown wrapper", "<a><b><Error><Message>deep</Message></Error></b></a>", "deep"},
      {"inside a known root",
       "<AttachVolumeResponse><Error><Message>in root</Message></Error></AttachVolumeResponse>",
       "in root"},
      {"Message outside Error", "<Response><Message>loose</Message></Response>", ""},
      {"Message inside a text element",
       "<AttachVolumeResponse><status>attaching<Message>two texts</Message></status>"
       "</AttachVolumeResponse>",
       ""},
      {"escaped text", test::error_document("a &lt;b&gt; &amp; &#99;"), "a <b> & c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tc::Operate_Volume_Response rsp("AttachVolume");
    answer(rsp, c.xml);
    EXPECT_EQ(c.message, rsp.message());
  }
}

TEST(Default_Response, UnexpectedRootIsIgnoredAsAWhole) {
  tc::Operate_Volume_Response rsp("AttachVolume");
  ASSERT_TRUE(
      answer(rsp, "<AttachVolumeResponse><status>attaching</status></AttachVolumeResponse>"));
  EXPECT_EQ(tc::ATTACHING, rsp.status());
  // A document of another action: known elements below an unknown root change nothing.
  answer(rsp, "<CreateVolumeResponse><status>available</status></CreateVolumeResponse>");
  EXPECT_EQ(tc::ATTACHING, rsp.status());
}

TEST(Default_Response, EachTextEventReplacesTheLast) {
  tc::Operate_Volume_Response rsp("DetachVolume");
  rsp.startElement("", "DetachVolumeResponse", "DetachVolumeResponse", nullptr);
  rsp.startElement("", "status", "status", nullptr);
  rsp.characters("detachingXX", 0, 9);
  EXPECT_EQ(tc::DETACHING, rsp.status());
  rsp.characters("xxdetached", 2, 8);
  EXPECT_EQ(tc::DETACHED, rsp.status());
  rsp.characters(nullptr, 0, 5);
  rsp.characters("attached", 0, 0);
  EXPECT_EQ(tc::DETACHED, rsp.status());
  rsp.endElement("", "status", "status");
  rsp.characters("attached", 0, 8);  // no text element open
  EXPECT_EQ(tc::DETACHED, rsp.status());
}

// A body that broke off must not leave its open elements behind for the next answer.
TEST(Default_Response, BrokenBodyDoesNotSpoilTheNextOne) {
  tc::Common_Result_Response rsp("DeleteVolume");
  EXPECT_FALSE(answer(rsp, "<DeleteVolumeResponse><Error><Message>cut"));
  EXPECT_TRUE(answer(rsp, "<DeleteVolumeResponse><return>true</return></DeleteVolumeResponse>"));
  EXPECT_TRUE(rsp.success());
}

// ---- the result parsers ---------------------------------------------------------------------

TEST(Common_Result_Response, ReturnFlagIsTheVerdict) {
  const struct {
    const char* name;
    std::string xml;
    long status;
    bool verdict;
    const char* message;
  } cases[] = {
      {"true",
       "<DeleteVolumeResponse><requestId>1</requestId><return>true</return></DeleteVolumeResponse>",
       200, true, ""},
      {"other action's root",
       "<DetachTmpSnapshotResponse><return>true</return></DetachTmpSnapshotResponse>", 200, true,
       ""},
      {"True", "<DeleteVolumeResponse><return>True</return></DeleteVolumeResponse>", 200, false,
       ""},
      {"no return", "<ModifyVolumeStorageResponse/>", 200, false, ""},
      {"error document", test::error_document("no such volume"), 400, false, "no such volume"},
      {"unknown root", "<Reply><return>true</return></Reply>", 200, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tc::Common_Result_Response rsp("DeleteVolume");
    EXPECT_EQ(c.verdict, answer(rsp, c.xml, c.status));
    EXPECT_EQ(c.verdict, rsp.success());
    EXPECT_EQ(c.message, rsp.message());
  }
}

TEST(Common_Result_Response, EachRootResetsTheFlag) {
  tc::Common_Result_Response rsp("DeleteSnapshot");
  ASSERT_TRUE(
      answer(rsp, "<DeleteSnapshotResponse><return>true</return></DeleteSnapshotResponse>"));
  EXPECT_FALSE(answer(rsp, "<DeleteSnapshotResponse></DeleteSnapshotResponse>"));
}

TEST(Delete_Instance_Response, ShuttingDownOrTerminatedSucceeds) {
  const struct {
    const char* state;
    bool verdict;
  } cases[] = {{"shutting-down", true}, {"terminated", true}, {"running", false}, {"", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.state);
    tc::Delete_Instance_Response rsp;
    const std::string xml =
        std::string(
            "<TerminateInstancesResponse><instancesSet><item><instanceId>i-1</instanceId>"
            "<shutdownState><code>32</code><name>") +
        c.state +
        "</name></shutdownState><previousState><code>16</code><name>running</name>"
        "</previousState></item></instancesSet></TerminateInstancesResponse>";
    EXPECT_EQ(c.verdict, answer(rsp, xml));
    EXPECT_EQ(32, rsp.shutdown_state_code());
  }
}

TEST(Delete_Instance_Response, CurrentStateCountsAndPreviousIsIgnored) {
  tc::Delete_Instance_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<TerminateInstancesResponse><item><previousState><code>80</code>"
                     "<name>stopped</name></previousState><code>99</code><currentState>"
                     "<code>48</code><name>terminated</name></currentState></item>"
                     "</TerminateInstancesResponse>"));
  EXPECT_EQ(48, rsp.shutdown_state_code());
  EXPECT_EQ(tc::TERMINATED, rsp.shutdown_state_name());

  EXPECT_FALSE(answer(rsp, test::error_document("gone"), 400));
  EXPECT_EQ("gone", rsp.message());
  EXPECT_EQ(tc::TERMINATED, rsp.shutdown_state_name());  // an error answer has no root
}

TEST(Operate_Instance_Response, ReadsTheCurrentStateOnly) {
  const struct {
    const char* action;
    std::string xml;
    int code;
    tc::Status name;
  } cases[] = {
      {"StopInstances",
       "<StopInstancesResponse><instancesSet><item><currentState><code>64</code><name>stopping"
       "</name></currentState><previousState><code>16</code><name>running</name></previousState>"
       "</item></instancesSet></StopInstancesResponse>",
       64, tc::STOPPING},
      {"StartInstances",
       "<StartInstancesResponse><code>7</code><name>running</name></StartInstancesResponse>", 0,
       tc::UNKNOWN},
      {"StopInstances",
       "<StopInstancesResponse><currentState><code>x1</code><name>Stopping</name></currentState>"
       "</StopInstancesResponse>",
       0, tc::UNKNOWN},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    tc::Operate_Instance_Response rsp(c.action);
    EXPECT_TRUE(answer(rsp, c.xml));
    EXPECT_EQ(c.code, rsp.current_state_code());
    EXPECT_EQ(c.name, rsp.current_state_name());
  }
}

TEST(Operate_Volume_Response, StatusOfEitherAnswer) {
  tc::Operate_Volume_Response rsp("DetachVolume");
  ASSERT_TRUE(answer(rsp,
                     "<DetachVolumeResponse><volumeId>v-1</volumeId><status>detaching</status>"
                     "</DetachVolumeResponse>"));
  EXPECT_EQ(tc::DETACHING, rsp.status());
  ASSERT_TRUE(answer(rsp, "<AttachVolumeResponse></AttachVolumeResponse>"));
  EXPECT_EQ(tc::UNKNOWN, rsp.status());
}

TEST(Delete_Instance_Backup_Response, ResultText) {
  tc::Delete_Instance_Backup_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DeleteInstanceBackupResponse><deleteInstanceBackupResult>ok"
                     "</deleteInstanceBackupResult></DeleteInstanceBackupResponse>"));
  EXPECT_EQ("ok", rsp.result());
  EXPECT_FALSE(answer(rsp, test::error_document("no backup"), 404));
  EXPECT_EQ("ok", rsp.result());
  EXPECT_EQ("no backup", rsp.message());
  ASSERT_TRUE(answer(rsp, "<DeleteInstanceBackupResponse/>"));
  EXPECT_EQ("", rsp.result());
}
