#include "tavrocloud/common/get_instance_response.h"

#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

namespace {

// The network interfaces as the cloud embeds them: JSON inside the element's text.
const char NIF_MAIN_EXTEND[] =
    "{&quot;nifInfo&quot;: [{&quot;netifId&quot;: &quot;eni-1&quot;, &quot;netifType&quot;: "
    "&quot;main&quot;, &quot;privateip&quot;: &quot;10.0.0.4&quot;, &quot;publicip&quot;: "
    "&quot;&quot;, &quot;priSubnetId&quot;: &quot;subnet-1&quot;}, 7, {&quot;netifId&quot;: "
    "&quot;eni-2&quot;, &quot;netifType&quot;: &quot;extend&quot;, &quot;privateip&quot;: "
    "&quot;10.0.1.4&quot;, &quot;publicip&quot;: &quot;1.2.3.4&quot;, &quot;priSubnetId&quot;: "
    "&quot;subnet-2&quot;}]}";

std::string instance_item(const std::string& id, const std::string& extra) {
  return "<item><instanceId>" + id + "</instanceId><instanceName>vm-" + id +
         "</instanceName><instanceState><code>16</code><name>running</name></instanceState>"
         "<tagSet><item><key>k</key><value>v</value></item></tagSet>"
         "<groupSet><item><groupId>sg-inner</groupId></item></groupSet>" +
         extra + "</item>";
}

std::string reservation(const std::string& owner, const std::string& group,
                        const std::string& items) {
  return "<item><reservationId>r-1</reservationId><ownerId>" + owner +
         "</ownerId><groupSet><item><groupId>" + group + "</groupId><groupName>name-" + group +
         "</groupName></item></groupSet><instancesSet>" + items + "</instancesSet></item>";
}

std::string page(const std::string& reservations, const std::string& token = "") {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<DescribeInstancesResponse xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">\n"
      "  <requestId>req</requestId>\n  <reservationSet>" +
      reservations + "</reservationSet>\n";
  if (!token.empty()) xml += "  <nextToken>" + token + "</nextToken>\n";
  return xml + "</DescribeInstancesResponse>\n";
}

}  // namespace

TEST(Get_Instance_Response, AnInstanceWithItsNestedLists) {
  const std::string full =
      "<imageId>img-1</imageId><ipAddress>10.0.0.4</ipAddress><mainNetifMac>52:54:00:aa:bb:cc"
      "</mainNetifMac><instanceType>m1.small</instanceType><vmtype_cpu>2</vmtype_cpu>"
      "<vmtype_mem>4096</vmtype_mem><hostAddress>node-7</hostAddress><availabilityZone>zone-a"
      "</availabilityZone><subnetId>subnet-1</subnetId><vpcId>vpc-1</vpcId><storageId>st-1"
      "</storageId><platform>linux</platform><hypervisor>kvm</hypervisor><bootOrder>hd"
      "</bootOrder><scheduleTags>tag-a</scheduleTags><storageScheduleTags>tag-b"
      "</storageScheduleTags><productCodesSet><item><productCode>pc</productCode></item>"
      "</productCodesSet><blockDeviceMapping><item><deviceName>/dev/vda</deviceName><ebs>"
      "<volumeId>vol-1</volumeId><size>20</size></ebs></item><item><ebs><volumeId>vol-2"
      "</volumeId><size>40</size></ebs></item></blockDeviceMapping><nifInfo>" +
      std::string(NIF_MAIN_EXTEND) + "</nifInfo>";
  tc::Get_Instance_Response rsp;
  ASSERT_TRUE(answer(rsp, page(reservation("owner-1", "sg-1", instance_item("i-1", full)))));
  ASSERT_EQ(1u, rsp.instances().size());
  const tc::Instance& i = rsp.instances()[0];
  EXPECT_EQ(tc::RUNNING, i.status);  // from the state's name, not its code
  EXPECT_EQ("52:54:00:aa:bb:cc", i.mac_address);
  EXPECT_EQ("m1.small", i.instance_type.type);
  EXPECT_EQ(4096, i.memory);
  EXPECT_EQ("tag-b", i.storage_schedule_tag);
  // Owner and group come from the reservation; the instance's own group list is not it.
  EXPECT_EQ("owner-1", i.owner_id);
  EXPECT_EQ("name-sg-1", i.security_group.name);
  ASSERT_EQ(2u, i.volumes.size());
  EXPECT_EQ("vol-2", i.volumes[1].id);
  EXPECT_EQ(40, i.volumes[1].size);
  ASSERT_EQ(2u, i.network_interfaces.size());  // the 7 in the list is skipped
  EXPECT_EQ(tc::MAIN, i.network_interfaces[0].type);
  EXPECT_EQ(tc::EXTEND, i.network_interfaces[1].type);
  EXPECT_EQ("1.2.3.4", i.network_interfaces[1].public_ip);
  EXPECT_EQ("", rsp.next_token());
}

// Items of lists nested in an instance (tags, groups, product codes) make no instance.
TEST(Get_Instance_Response, OnlyDirectItemsAreInstancesAndVolumes) {
  tc::Get_Instance_Response rsp;
  const std::string nested_in_mapping =
      "<blockDeviceMapping><item><ebs><volumeId>vol-1</volumeId><tagSet><item><key>a</key>"
      "</item></tagSet></ebs></item></blockDeviceMapping>";
  ASSERT_TRUE(answer(
      rsp, page(reservation("o", "g",
                            instance_item("i-1", nested_in_mapping) + instance_item("i-2", "")))));
  ASSERT_EQ(2u, rsp.instances().size());
  EXPECT_EQ("i-1", rsp.instances()[0].id);
  EXPECT_EQ("i-2", rsp.instances()[1].id);
  ASSERT_EQ(1u, rsp.instances()[0].volumes.size());
  EXPECT_EQ("vol-1", rsp.instances()[0].volumes[0].id);
}

TEST(Get_Instance_Response, VolumeTextRules) {
  tc::Get_Instance_Response rsp;
  // "size" counts only inside the mapping; "volumeId" goes to the last volume wherever it
  // stands in the instance, and is dropped while the instance has none.
  const std::string extra =
      "<volumeId>early</volumeId><size>99</size><blockDeviceMapping><item><ebs><volumeId>vol-1"
      "</volumeId><size>8</size></ebs></item></blockDeviceMapping><size>77</size>"
      "<volumeId>late</volumeId>";
  ASSERT_TRUE(answer(rsp, page(reservation("o", "g", instance_item("i-1", extra)))));
  ASSERT_EQ(1u, rsp.instances()[0].volumes.size());
  EXPECT_EQ("late", rsp.instances()[0].volumes[0].id);
  EXPECT_EQ(8, rsp.instances()[0].volumes[0].size);
}

TEST(Get_Instance_Response, EachReservationGivesItsOwnerAndGroup) {
  tc::Get_Instance_Response rsp;
  ASSERT_TRUE(answer(rsp, page(reservation("owner-1", "sg-1", instance_item("i-1", "")) +
                               reservation("owner-2", "sg-2",
                                           instance_item("i-2", "") + instance_item("i-3", "")))));
  ASSERT_EQ(3u, rsp.instances().size());
  EXPECT_EQ("sg-1", rsp.instances()[0].security_group.id);
  EXPECT_EQ("owner-2", rsp.instances()[2].owner_id);
  EXPECT_EQ("sg-2", rsp.instances()[2].security_group.id);
}

TEST(Get_Instance_Response, NetworkInterfaceTexts) {
  const struct {
    const char* name;
    std::string nif;
    size_t interfaces;  // the instance's list afterwards
    const char* logged;
  } cases[] = {
      {"two interfaces", NIF_MAIN_EXTEND, 2, nullptr},
      {"interface without publicip",
       "{&quot;nifInfo&quot;: [{&quot;netifId&quot;: &quot;eni-1&quot;, &quot;netifType&quot;: "
       "&quot;main&quot;, &quot;privateip&quot;: &quot;10.0.0.4&quot;, &quot;priSubnetId&quot;: "
       "&quot;s&quot;}]}",
       0, "Failed to extract network interface. "},
      {"not an object", "[1, 2]", 0,
       "Failed to parse network interface, json load not object type.\n"},
      {"not JSON", "{nifInfo", 0,
       "Failed to parse network interface, json load not object type.\n"},
      {"empty list", "{&quot;nifInfo&quot;: []}", 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Log_Capture log;
    tc::Get_Instance_Response rsp;
    ASSERT_TRUE(answer(
        rsp,
        page(reservation("o", "g", instance_item("i-1", "<nifInfo>" + c.nif + "</nifInfo>")))));
    ASSERT_EQ(1u, rsp.instances().size());
    EXPECT_EQ(c.interfaces, rsp.instances()[0].network_interfaces.size());
    if (c.logged != nullptr) {
      EXPECT_TRUE(log.contains(c.logged, LM_ERROR)) << log.text();
    } else {
      EXPECT_TRUE(log.entries().empty()) << log.text();
    }
  }
}

// A bad interface list leaves the instance's earlier list as it was.
TEST(Get_Instance_Response, BadInterfaceListKeepsTheEarlierOne) {
  tc::Get_Instance_Response rsp;
  test::Log_Capture log;
  ASSERT_TRUE(
      answer(rsp, page(reservation("o", "g",
                                   instance_item("i-1", std::string("<nifInfo>") + NIF_MAIN_EXTEND +
                                                            "</nifInfo><nifInfo>[]</nifInfo>")))));
  EXPECT_EQ(2u, rsp.instances()[0].network_interfaces.size());
}

TEST(Get_Instance_Response, PagesEmptyAnswersAndErrors) {
  tc::Get_Instance_Response rsp;
  ASSERT_TRUE(answer(
      rsp,
      page(reservation("o", "g", instance_item("i-1", "") + instance_item("i-2", "")), "token-1")));
  EXPECT_EQ(2u, rsp.instances().size());
  EXPECT_EQ("token-1", rsp.next_token());

  // The same parser reads the next page afresh.
  ASSERT_TRUE(answer(rsp, page(reservation("o2", "g2", instance_item("i-3", "")))));
  ASSERT_EQ(1u, rsp.instances().size());
  EXPECT_EQ("i-3", rsp.instances()[0].id);
  EXPECT_EQ("o2", rsp.instances()[0].owner_id);
  EXPECT_EQ("", rsp.next_token());

  // An error answer has no root: the results stay, the message is the cloud's.
  EXPECT_FALSE(answer(rsp, test::error_document("bad filter"), 400));
  EXPECT_EQ("bad filter", rsp.message());
  EXPECT_EQ(1u, rsp.instances().size());

  ASSERT_TRUE(
      answer(rsp, "<DescribeInstancesResponse><reservationSet/></DescribeInstancesResponse>"));
  EXPECT_TRUE(rsp.instances().empty());
}

TEST(Get_Instance_Response, TextBeforeAnyInstanceIsDropped) {
  tc::Get_Instance_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeInstancesResponse><instanceId>lost</instanceId><nifInfo>"
                     "{}</nifInfo><instancesSet/></DescribeInstancesResponse>"));
  EXPECT_TRUE(rsp.instances().empty());
}
