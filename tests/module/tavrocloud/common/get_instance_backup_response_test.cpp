#include "tavrocloud/common/get_instance_backup_response.h"

#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "tavrocloud/common/create_instance_backup_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

namespace {

std::string backup_item(const std::string& id, const std::string& mappings) {
  return "<item><backupId>" + id + "</backupId><instanceId>i-1</instanceId><backupName>bk-" + id +
         "</backupName><backupSize>42</backupSize><backupStatus>complete</backupStatus>"
         "<storageId>st-1</storageId><blockDeviceMapping>" +
         mappings + "</blockDeviceMapping></item>";
}

std::string backups(const std::string& items) {
  return "<DescribeInstanceBackupsResponse><requestId>r</requestId><instanceBackupSet>" + items +
         "</instanceBackupSet></DescribeInstanceBackupsResponse>";
}

const char ROOT_DISK[] =
    R"([{"mappingId":"m-1","imageId":"img","isRoot":true,"deviceName":"/dev/vda",)"
    R"("virtualName":"root","snapshotId":"snap-1","size":21474836480,"volumeId":"vol-1",)"
    R"("storageId":"st-1","deleteOnTermination":true},)"
    R"({"isRoot":false,"snapshotId":"snap-2"}, "skipped"])";

}  // namespace

TEST(Create_Instance_Backup_Response, BackupIdOrMessage) {
  tc::Create_Instance_Backup_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<BackupInstanceResponse><requestId>r</requestId><backupId>ib-1</backupId>"
                     "</BackupInstanceResponse>"));
  EXPECT_EQ("ib-1", rsp.backup_id());
  EXPECT_FALSE(answer(rsp, test::error_document("instance busy"), 409));
  EXPECT_EQ("instance busy", rsp.message());
  EXPECT_EQ("ib-1", rsp.backup_id());
  ASSERT_TRUE(answer(rsp, "<BackupInstanceResponse/>"));
  EXPECT_EQ("", rsp.backup_id());
}

TEST(Get_Instance_Backup_Response, BackupsWithTheirDisks) {
  tc::Get_Instance_Backup_Response rsp;
  ASSERT_TRUE(
      answer(rsp, backups(backup_item("ib-1", ROOT_DISK) +
                          backup_item("ib-2", R"([{"isRoot":true,"snapshotId":"snap-9"}])"))));
  ASSERT_EQ(2u, rsp.instance_backups().size());
  const tc::Instance_Backup& b = rsp.instance_backups()[0];
  EXPECT_EQ(42, b.size);
  EXPECT_EQ(tc::COMPLETE, b.status);
  ASSERT_EQ(2u, b.block_device_mappings.size());  // the string in the list is skipped
  const tc::Block_Device_Mapping& root = b.block_device_mappings[0];
  EXPECT_TRUE(root.is_root);
  EXPECT_EQ("/dev/vda", root.device_name);
  EXPECT_EQ(21474836480, root.size);
  EXPECT_TRUE(root.delete_on_termination);
  const tc::Block_Device_Mapping& data = b.block_device_mappings[1];
  EXPECT_FALSE(data.is_root);
  EXPECT_EQ("snap-2", data.snapshot_id);
  EXPECT_EQ(0, data.size);
  EXPECT_EQ("", data.device_name);
  ASSERT_EQ(1u, rsp.instance_backups()[1].block_device_mappings.size());
  EXPECT_EQ("snap-9", rsp.instance_backups()[1].block_device_mappings[0].snapshot_id);
}

TEST(Get_Instance_Backup_Response, BadDiskListsCostOnlyTheDisks) {
  const struct {
    const char* name;
    std::string mappings;
    const char* logged;
    ACE_Log_Priority priority;
  } cases[] = {
      {"no isRoot", R"([{"snapshotId":"s"}])", "Failed to extract block mapping. ", LM_ERROR},
      {"isRoot as text", R"([{"isRoot":"true","snapshotId":"s"}])",
       "Failed to extract block mapping. ", LM_ERROR},
      {"one bad among good", R"([{"isRoot":true,"snapshotId":"s"},{"isRoot":true}])",
       "Failed to extract block mapping. ", LM_ERROR},
      {"object instead of array", R"({"isRoot":true,"snapshotId":"s"})", "val is not array!",
       LM_EMERGENCY},
      {"not JSON", "[{", "Failed to parse block device.\n", LM_ERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    tc::Get_Instance_Backup_Response rsp;
    ASSERT_TRUE(answer(rsp, backups(backup_item("ib-1", c.mappings))));
    ASSERT_EQ(1u, rsp.instance_backups().size());
    EXPECT_EQ("ib-1", rsp.instance_backups()[0].id);
    EXPECT_TRUE(rsp.instance_backups()[0].block_device_mappings.empty());
    EXPECT_TRUE(log.contains(c.logged, c.priority)) << log.text();
  }
}

TEST(Get_Instance_Backup_Response, ReuseEmptyAndErrors) {
  tc::Get_Instance_Backup_Response rsp;
  ASSERT_TRUE(answer(rsp, backups(backup_item("ib-1", "[]"))));
  EXPECT_EQ(1u, rsp.instance_backups().size());
  EXPECT_FALSE(answer(rsp, test::error_document("no instance"), 400));
  EXPECT_EQ("no instance", rsp.message());
  EXPECT_EQ(1u, rsp.instance_backups().size());
  ASSERT_TRUE(answer(rsp, backups("")));
  EXPECT_TRUE(rsp.instance_backups().empty());
  // Fields before any item are dropped.
  ASSERT_TRUE(answer(rsp,
                     "<DescribeInstanceBackupsResponse><backupId>x</backupId>"
                     "</DescribeInstanceBackupsResponse>"));
  EXPECT_TRUE(rsp.instance_backups().empty());
}
