#include "tavrocloud/common/get_volume_response.h"

#include <gtest/gtest.h>

#include <string>

#include "tavrocloud/common/get_image_response.h"
#include "tavrocloud/common/get_storage_response.h"
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
  // The attachment's texts fill the attachment only; a tag's status is no volume status.
  EXPECT_EQ("vol-1", v.id);
  EXPECT_EQ(20, v.size);
  EXPECT_EQ(tc::IN_USE, v.status);
  EXPECT_TRUE(v.is_root);
  EXPECT_EQ("node-1", v.node_id);
  EXPECT_EQ("vol-1-att", v.volume_attachment.volume_id);
  EXPECT_EQ("/dev/vdb", v.volume_attachment.device);
  EXPECT_EQ(tc::ATTACHED, v.volume_attachment.status);
  const tc::Volume& w = rsp.volumes()[1];  // without an attachment, "TRUE" is no truth
  EXPECT_EQ("vol-2", w.volume_attachment.volume_id);
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

TEST(Get_Image_Response, ImageWithA64BitSize) {
  tc::Get_Image_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeImagesResponse><imagesSet><item><imageId>img-1</imageId>"
                     "<imageSize>21474836480</imageSize><diskBus>virtio</diskBus>"
                     "<imageState>available</imageState></item></imagesSet>"
                     "</DescribeImagesResponse>"));
  ASSERT_EQ(1u, rsp.images().size());
  const tc::Image& i = rsp.images()[0];
  EXPECT_EQ(21474836480, i.size);
  EXPECT_EQ("virtio", i.disk_bus);
  EXPECT_EQ(tc::AVAILABLE, i.status);
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
  EXPECT_EQ("nfs_raw", s.type);  // the parameters' keys are not the storage's texts
  EXPECT_TRUE(s.disable);
  EXPECT_EQ(100, s.space_max);
  EXPECT_FALSE(rsp.storages()[1].disable);
  EXPECT_FALSE(rsp.storages()[2].disable);
}

TEST(Get_Storage_Response, NumbersAsTheCloudWritesThem) {
  const struct {
    const char* text;
    int value;
  } cases[] = {{"-5", -5}, {"12abc", 12}, {" 7", 0}, {"99999999999", 2147483647}};
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
