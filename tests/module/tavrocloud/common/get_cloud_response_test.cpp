#include "tavrocloud/common/get_cloud_response.h"

#include <gtest/gtest.h>

#include <string>

#include "tavrocloud/common/get_cloud_version_response.h"
#include "tavrocloud/common/get_cluster_response.h"
#include "tavrocloud/common/get_network_interface_response.h"
#include "tavrocloud/common/get_security_group_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;
using test::answer;

TEST(Get_Cloud_Version_Response, VersionWhereverTheResultStands) {
  const struct {
    std::string xml;
    const char* version;
  } cases[] = {
      {"<GetCloudVersionResponse><getCloudVersionResult><version>V9.8.1</version>"
       "</getCloudVersionResult></GetCloudVersionResponse>",
       "V9.8.1"},
      {"<a><b><c><getCloudVersionResult><version>10.0</version></getCloudVersionResult></c></b></"
       "a>",
       "10.0"},
      {"<GetCloudVersionResponse><version>stray</version></GetCloudVersionResponse>", ""},
      {"<getCloudVersionResult/>", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xml);
    tc::Get_Cloud_Version_Response rsp;
    EXPECT_TRUE(answer(rsp, c.xml));
    EXPECT_EQ(c.version, rsp.version());
  }
}

TEST(Get_Cloud_Response, TheCloud) {
  tc::Get_Cloud_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeCloudResponse><cloudName>c1</cloudName><cloudId>cloud-1"
                     "</cloudId><status>available</status></DescribeCloudResponse>"));
  EXPECT_EQ("cloud-1", rsp.cloud().id);
  EXPECT_EQ(tc::AVAILABLE, rsp.cloud().status);
  ASSERT_TRUE(answer(rsp, "<DescribeCloudResponse/>"));
  EXPECT_EQ("", rsp.cloud().id);
  EXPECT_EQ(tc::UNKNOWN, rsp.cloud().status);
}

TEST(Get_Cluster_Response, ControllerItemsAreNoClusters) {
  tc::Get_Cluster_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeClustersResponse><clusterSet><item><clusterId>cl-1</clusterId>"
                     "<clusterName>zone-a</clusterName><status>available</status>"
                     "<clusterControllerSet><item><ip>1.1.1.1</ip></item><item/>"
                     "</clusterControllerSet></item><item><clusterId>cl-2</clusterId></item>"
                     "</clusterSet></DescribeClustersResponse>"));
  ASSERT_EQ(2u, rsp.clusters().size());
  EXPECT_EQ("zone-a", rsp.clusters()[0].name);
  EXPECT_EQ("cl-2", rsp.clusters()[1].id);
}

namespace {

std::string group_item(const std::string& id) {
  return "<item><ownerId>o-" + id + "</ownerId><groupId>" + id + "</groupId><groupName>name-" + id +
         "</groupName><shared>true</shared>"
         "<ipPermissions><item><ipProtocol>tcp</ipProtocol><ipRanges><item><cidrIp>0.0.0.0/0"
         "</cidrIp></item></ipRanges></item></ipPermissions>"
         "<ipPermissionsEgress><item><ipProtocol>-1</ipProtocol></item></ipPermissionsEgress>"
         "<complexIpPermissions><item><ipProtocols><item>tcp</item></ipProtocols><groups><item>"
         "<groupId>ref</groupId></item></groups></item></complexIpPermissions>"
         "<complexIpPermissionsEgress><item/><item/></complexIpPermissionsEgress>"
         "<tagSet><item><key>k</key></item></tagSet></item>";
}

std::string group_page(const std::string& items, const std::string& token) {
  std::string xml =
      "<DescribeSecurityGroupsResponse><securityGroupInfo>" + items + "</securityGroupInfo>";
  if (!token.empty()) xml += "<nextToken>" + token + "</nextToken>";
  return xml + "</DescribeSecurityGroupsResponse>";
}

}  // namespace

TEST(Get_Security_Group_Response, OneGroupPerDirectItemAcrossPages) {
  tc::Get_Security_Group_Response rsp;
  ASSERT_TRUE(answer(rsp, group_page(group_item("sg-1") + group_item("sg-2"), "t-1")));
  ASSERT_EQ(2u, rsp.security_groups().size());
  EXPECT_EQ("t-1", rsp.next_token());
  // A group named in a permission (a referenced group) does not replace the group's id.
  EXPECT_EQ("sg-1", rsp.security_groups()[0].id);
  EXPECT_TRUE(rsp.security_groups()[0].shared);

  ASSERT_TRUE(answer(rsp, group_page(group_item("sg-3"), "")));
  ASSERT_EQ(1u, rsp.security_groups().size());
  EXPECT_EQ("name-sg-3", rsp.security_groups()[0].name);
  EXPECT_EQ("", rsp.next_token());
}

TEST(Get_Network_Interface_Response, InterfacesWithTheirGroups) {
  tc::Get_Network_Interface_Response rsp;
  ASSERT_TRUE(answer(
      rsp,
      "<DescribeNetworkInterfacesResponse><networkInterfaceSet><item>"
      "<networkInterfaceId>eni-1</networkInterfaceId><subnetId>subnet-1</subnetId><vpcId>vpc-1"
      "</vpcId><ownerId>o-1</ownerId><status>in-use</status><macAddress>52:54:00:00:00:01"
      "</macAddress><privateIpAddress>10.0.0.4</privateIpAddress>"
      "<groupSet><item><groupId>sg-1</groupId><groupName>web</groupName></item><item><groupId>"
      "sg-2</groupId><groupName>db</groupName></item></groupSet>"
      "<privateIpAddressesSet><item><privateIpAddress>10.0.0.5</privateIpAddress></item>"
      "</privateIpAddressesSet><tagSet><item><key>k</key></item></tagSet>"
      "<ipv6AddressesSet><item/></ipv6AddressesSet></item>"
      "<item><networkInterfaceId>eni-2</networkInterfaceId><groupName>no group yet</groupName>"
      "</item></networkInterfaceSet></DescribeNetworkInterfacesResponse>"));
  ASSERT_EQ(2u, rsp.network_interfaces().size());
  const tc::Network_Interface& n = rsp.network_interfaces()[0];
  EXPECT_EQ("eni-1", n.id);
  EXPECT_EQ(tc::IN_USE, n.status);
  EXPECT_EQ("10.0.0.4", n.private_ip);  // the address list does not replace the primary
  ASSERT_EQ(2u, n.groups.size());
  EXPECT_EQ("sg-2", n.groups[1].id);
  EXPECT_EQ("db", n.groups[1].name);
  EXPECT_TRUE(rsp.network_interfaces()[1].groups.empty());
}
