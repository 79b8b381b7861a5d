#include "tavrocloud/common/get_volume_response.h"

#include <gtest/gtest.h>

#include <string>

#include "tavrocloud/common/get_image_response.h"
#include "tavrocloud/common/get_snapshot_response.h"
#include "tavrocloud/common/get_storage_response.h"
#include "tavrocloud/common/get_tmp_snapshot_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

TEST(Get_Volume_Response, VolumeAttachmentAndTags) {
  tc::Get_Volume_Response rsp;
  ASSERT_TRUE(answer(
      rsp,
      "<DescribeVolumesResponse><volumeSet>"
      "<item><volumeId>vol-1</volumeId><volumeName>data</volumeName><size>20</size>"
      "<status>in-use</status><isRoot>true</isRoot><storageId>st-1</storageId>"
      "<availabilityZone>zone-a</availabilityZone><nodeId>node-1</nodeId>"
      "<attachmentSet><item><volumeId>vol-1-att</volumeId><instanceId>i-9</instanceId>"
      "<device>/dev/vdb</device><status>attached</status></item></attachmentSet>"
      "<tagSet><item><key>k</key><status>error</status></item><item/></tagSet></item>"
      "<item><volumeId>vol-2</volumeId><status>available</status><isRoot>TRUE</isRoot></item>"
      "</volumeSet></DescribeVolumesResponse>"));
  ASSERT_EQ(2u, rsp.volumes().size());
  const tc::Volume& v = rsp.volumes()[0];
  EXPECT_EQ("vol-1", v.id);  // the attachment's texts fill the attachment only
  EXPECT_EQ("data", v.name);
  EXPECT_EQ(20, v.size);
  EXPECT_EQ(tc::IN_USE, v.status);
  EXPECT_TRUE(v.is_root);
  EXPECT_EQ("st-1", v.storage_id);
  EXPECT_EQ("zone-a", v.availability_zone);
  EXPECT_EQ("node-1", v.node_id);
  EXPECT_EQ("", v.host_name);
  EXPECT_EQ("vol-1-att", v.volume_attachment.volume_id);
  EXPECT_EQ("i-9", v.volume_attachment.instance_id);
  EXPECT_EQ("/dev/vdb", v.volume_attachment.device);
  EXPECT_EQ(tc::ATTACHED, v.volume_attachment.status);
  const tc::Volume& w = rsp.volumes()[1];
  EXPECT_EQ("vol-2", w.id);
  EXPECT_EQ("vol-2", w.volume_attachment.volume_id);
  EXPECT_EQ(tc::AVAILABLE, w.status);
  EXPECT_FALSE(w.is_root);
  EXPECT_EQ(tc::UNKNOWN, w.volume_attachment.status);
}

TEST(Get_Volume_Response, ReuseEmptyAndErrors) {
  tc::Get_Volume_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeVolumesResponse><volumeSet><item><volumeId>v</volumeId>"
                     "</item></volumeSet></DescribeVolumesResponse>"));
  EXPECT_FALSE(answer(rsp, test::error_document("InvalidVolume.NotFound"), 400));
  EXPECT_EQ("InvalidVolume.NotFound", rsp.message());
  EXPECT_EQ(1u, rsp.volumes().size());
  ASSERT_TRUE(answer(rsp, "<DescribeVolumesResponse><volumeSet/></DescribeVolumesResponse>"));
  EXPECT_TRUE(rsp.volumes().empty());
  // An item outside the volume set is no volume.
  ASSERT_TRUE(answer(rsp,
                     "<DescribeVolumesResponse><item><volumeId>v</volumeId></item>"
                     "</DescribeVolumesResponse>"));
  EXPECT_TRUE(rsp.volumes().empty());
}

TEST(Get_Snapshot_Response, Snapshots) {
  tc::Get_Snapshot_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeSnapshotsResponse><snapshotSet><item><snapshotId>snap-1"
                     "</snapshotId><snapshotName>n1</snapshotName><volumeId>vol-1</volumeId>"
                     "<status>completed</status></item><item><snapshotId>snap-2</snapshotId>"
                     "<status>complete</status></item></snapshotSet>"
                     "</DescribeSnapshotsResponse>"));
  ASSERT_EQ(2u, rsp.snapshots().size());
  EXPECT_EQ("snap-1", rsp.snapshots()[0].id);
  EXPECT_EQ("n1", rsp.snapshots()[0].name);
  EXPECT_EQ("vol-1", rsp.snapshots()[0].volume_id);
  EXPECT_EQ(tc::COMPLETED, rsp.snapshots()[0].status);
  EXPECT_EQ(tc::COMPLETE, rsp.snapshots()[1].status);
  EXPECT_FALSE(answer(rsp, test::error_document("nope"), 400));
  EXPECT_EQ(2u, rsp.snapshots().size());
}

TEST(Get_Tmp_Snapshot_Response, TmpSnapshots) {
  tc::Get_Tmp_Snapshot_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeTmpSnapshotsResponse><tmpSnapshotSet><item><tmpSnapshotId>"
                     "tmpsnap-1</tmpSnapshotId><tmpSnapshotName>t</tmpSnapshotName><volumeId>"
                     "vol-1</volumeId><status>attached</status><attachInstanceId>i-agent"
                     "</attachInstanceId></item></tmpSnapshotSet>"
                     "</DescribeTmpSnapshotsResponse>"));
  ASSERT_EQ(1u, rsp.tmp_snapshots().size());
  const tc::Tmp_Snapshot& t = rsp.tmp_snapshots()[0];
  EXPECT_EQ("tmpsnap-1", t.id);
  EXPECT_EQ("t", t.name);
  EXPECT_EQ("vol-1", t.volume_id);
  EXPECT_EQ(tc::ATTACHED, t.status);
  EXPECT_EQ("i-agent", t.attach_instance_id);
  ASSERT_TRUE(answer(rsp,
                     "<DescribeTmpSnapshotsResponse><tmpSnapshotSet/>"
                     "</DescribeTmpSnapshotsResponse>"));
  EXPECT_TRUE(rsp.tmp_snapshots().empty());
}

TEST(Get_Image_Response, ImageWithA64BitSize) {
  tc::Get_Image_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeImagesResponse><imagesSet><item><imageId>img-1</imageId>"
                     "<name>centos</name><imageLocation>loc</imageLocation><architecture>"
                     "x86_64</architecture><imageSize>21474836480</imageSize><hypervisor>kvm"
                     "</hypervisor><bootloader>bios</bootloader><contentmode>full"
                     "</contentmode><diskBus>virtio</diskBus><platform>linux</platform>"
                     "<imageState>available</imageState></item></imagesSet>"
                     "</DescribeImagesResponse>"));
  ASSERT_EQ(1u, rsp.images().size());
  const tc::Image& i = rsp.images()[0];
  EXPECT_EQ("img-1", i.id);
  EXPECT_EQ("centos", i.name);
  EXPECT_EQ("loc", i.location);
  EXPECT_EQ("x86_64", i.architecture);
  EXPECT_EQ(21474836480, i.size);
  EXPECT_EQ("kvm", i.hypervisor);
  EXPECT_EQ("bios", i.bootloader);
  EXPECT_EQ("full", i.contentmode);
  EXPECT_EQ("virtio", i.disk_bus);
  EXPECT_EQ("linux", i.platform);
  EXPECT_EQ(tc::AVAILABLE, i.status);
  EXPECT_EQ("", i.storage_id);
}

TEST(Get_Storage_Response, StoragesAndTheirParameters) {
  tc::Get_Storage_Response rsp;
  const auto storage = [](const char* id, const char* disabled) {
    return std::string("<item><storageId>") + id + "</storageId><storageName>n-" + id +
           "</storageName><storageType>nfs_raw</storageType><location>/mnt</location>"
           "<fileFormat>raw</fileFormat><disabled>" +
           disabled +
           "</disabled><logicSpaceUsed>1"
           "</logicSpaceUsed><logicSpaceMax>2</logicSpaceMax><spaceUsed>30</spaceUsed><spaceMax>"
           "100</spaceMax><parameterSet><item><key>a</key></item><item><key>b</key></item>"
           "</parameterSet></item>";
  };
  ASSERT_TRUE(answer(rsp, "<DescribeStoragesResponse><storageSet>" + storage("st-1", "true") +
                              storage("st-2", "false") + storage("st-3", "TRUE") +
                              "</storageSet></DescribeStoragesResponse>"));
  ASSERT_EQ(3u, rsp.storages().size());
  const tc::Storage& s = rsp.storages()[0];
  EXPECT_EQ("st-1", s.id);
  EXPECT_EQ("n-st-1", s.name);
  EXPECT_EQ("nfs_raw", s.type);
  EXPECT_EQ("/mnt", s.location);
  EXPECT_EQ("raw", s.file_format);
  EXPECT_TRUE(s.disable);
  EXPECT_EQ(1, s.logic_space_used);
  EXPECT_EQ(2, s.logic_space_max);
  EXPECT_EQ(30, s.space_used);
  EXPECT_EQ(100, s.space_max);
  EXPECT_FALSE(rsp.storages()[1].disable);
  EXPECT_FALSE(rsp.storages()[2].disable);
}

TEST(Get_Storage_Response, NumbersAsTheCloudWritesThem) {
  const struct {
    const char* text;
    int value;
  } cases[] = {{"100", 100}, {"-5", -5}, {"12abc", 12},
               {"abc", 0},   {" 7", 0},  {"99999999999", 2147483647}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    tc::Get_Storage_Response rsp;
    ASSERT_TRUE(answer(rsp, std::string("<DescribeStoragesResponse><storageSet><item><spaceMax>") +
                                c.text +
                                "</spaceMax></item></storageSet></DescribeStoragesResponse>"));
    ASSERT_EQ(1u, rsp.storages().size());
    EXPECT_EQ(c.value, rsp.storages()[0].space_max);
  }
}
