#include "tavrocloud/common/get_cloud_response.h"

#include <gtest/gtest.h>

#include <string>

#include "tavrocloud/common/get_cloud_version_response.h"
#include "tavrocloud/common/get_cluster_response.h"
#include "tavrocloud/common/get_instance_type_response.h"
#include "tavrocloud/common/get_network_interface_response.h"
#include "tavrocloud/common/get_node_response.h"
#include "tavrocloud/common/get_security_group_response.h"
#include "tavrocloud/common/get_subnet_response.h"
#include "tavrocloud/common/get_vpc_response.h"
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
      {"<getCloudVersionResult><version>9.7</version></getCloudVersionResult>", "9.7"},
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
  EXPECT_EQ("c1", rsp.cloud().name);
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
  EXPECT_EQ("cl-1", rsp.clusters()[0].id);
  EXPECT_EQ("zone-a", rsp.clusters()[0].name);
  EXPECT_EQ(tc::AVAILABLE, rsp.clusters()[0].status);
  EXPECT_EQ("cl-2", rsp.clusters()[1].id);
}

TEST(Get_Node_Response, Nodes) {
  tc::Get_Node_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeNodesResponse><nodeSet><item><nodeId>node-1</nodeId><nodeName>"
                     "n1</nodeName><hostId>h1</hostId><clusterId>cl-1</clusterId><status>"
                     "running</status><cpuCores>8</cpuCores><cpuSockets>2</cpuSockets><cpuMax>"
                     "16</cpuMax><cpuUsed>3</cpuUsed><memoryMax>65536</memoryMax><memoryUsed>"
                     "1024</memoryUsed><ip>10.1.1.1</ip><mac>aa:bb</mac></item></nodeSet>"
                     "</DescribeNodesResponse>"));
  ASSERT_EQ(1u, rsp.nodes().size());
  const tc::Node& n = rsp.nodes()[0];
  EXPECT_EQ("node-1", n.id);
  EXPECT_EQ("n1", n.name);
  EXPECT_EQ("h1", n.host_id);
  EXPECT_EQ("cl-1", n.cluster_id);
  EXPECT_EQ(tc::RUNNING, n.status);
  EXPECT_EQ(8, n.cpu_cores);
  EXPECT_EQ(2, n.cpu_sockets);
  EXPECT_EQ(16, n.cpu_max);
  EXPECT_EQ(3, n.cpu_used);
  EXPECT_EQ(65536, n.memory_max);
  EXPECT_EQ(1024, n.memory_used);
  EXPECT_EQ("10.1.1.1", n.ip);
  EXPECT_EQ("aa:bb", n.mac);
}

TEST(Get_Instance_Type_Response, InstanceTypes) {
  tc::Get_Instance_Type_Response rsp;
  ASSERT_TRUE(answer(rsp,
                     "<DescribeInstanceTypesResponse><instanceTypeSet><item><instanceType>"
                     "m1.small</instanceType><displayName>Small</displayName><cpu>1</cpu><ram>"
                     "2048</ram><disk>20</disk><max>10</max><available>7</available>"
                     "<isBareMetal>false</isBareMetal></item><item><instanceType>bm</instanceType>"
                     "<isBareMetal>true</isBareMetal></item></instanceTypeSet>"
                     "</DescribeInstanceTypesResponse>"));
  ASSERT_EQ(2u, rsp.instance_types().size());
  const tc::Instance_Type& t = rsp.instance_types()[0];
  EXPECT_EQ("m1.small", t.type);
  EXPECT_EQ("Small", t.display_name);
  EXPECT_EQ(1, t.cpu);
  EXPECT_EQ(2048, t.ram);
  EXPECT_EQ(20, t.disk);
  EXPECT_EQ(10, t.max);
  EXPECT_EQ(7, t.available);
  EXPECT_FALSE(t.is_bare_metal);
  EXPECT_TRUE(rsp.instance_types()[1].is_bare_metal);
}

TEST(Get_Vpc_And_Subnet_Response, VpcsAndSubnets) {
  tc::Get_Vpc_Response vpcs;
  ASSERT_TRUE(answer(vpcs,
                     "<DescribeVpcsResponse><vpcSet><item><vpcId>vpc-1</vpcId><state>"
                     "available</state><cidrBlock>10.0.0.0/16</cidrBlock><vpcName>main"
                     "</vpcName><isPublicNetwork>true</isPublicNetwork><shared>true</shared>"
                     "<ownerId>o-1</ownerId></item></vpcSet></DescribeVpcsResponse>"));
  ASSERT_EQ(1u, vpcs.vpcs().size());
  const tc::Vpc& v = vpcs.vpcs()[0];
  EXPECT_EQ("vpc-1", v.id);
  EXPECT_EQ(tc::AVAILABLE, v.status);
  EXPECT_EQ("10.0.0.0/16", v.cidr_block);
  EXPECT_EQ("main", v.name);
  EXPECT_TRUE(v.is_public_network);
  EXPECT_TRUE(v.shared);
  EXPECT_EQ("o-1", v.owner_id);

  tc::Get_Subnet_Response subnets;
  ASSERT_TRUE(answer(subnets,
                     "<DescribeSubnetsResponse><subnetSet><item><subnetId>subnet-1"
                     "</subnetId><subnetName>s1</subnetName><state>pending</state>"
                     "<cidrBlock>10.0.1.0/24</cidrBlock><vpcId>vpc-1</vpcId></item>"
                     "</subnetSet></DescribeSubnetsResponse>"));
  ASSERT_EQ(1u, subnets.subnets().size());
  const tc::Subnet& s = subnets.subnets()[0];
  EXPECT_EQ("subnet-1", s.id);
  EXPECT_EQ("s1", s.name);
  EXPECT_EQ(tc::PENDING, s.status);
  EXPECT_EQ("10.0.1.0/24", s.cidr_block);
  EXPECT_EQ("vpc-1", s.vpc_id);
  EXPECT_FALSE(answer(subnets, test::error_document("no vpc"), 400));
  EXPECT_EQ("no vpc", subnets.message());
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
  const tc::Security_Group& g = rsp.security_groups()[0];
  EXPECT_EQ("o-sg-1", g.owner_id);
  // A group named in a permission (a referenced group) does not replace the group's id.
  EXPECT_EQ("sg-1", g.id);
  EXPECT_EQ("name-sg-1", g.name);
  EXPECT_TRUE(g.shared);

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
  EXPECT_EQ("subnet-1", n.subnet_id);
  EXPECT_EQ("vpc-1", n.vpc_id);
  EXPECT_EQ("o-1", n.owner_id);
  EXPECT_EQ(tc::IN_USE, n.status);
  EXPECT_EQ("52:54:00:00:00:01", n.mac_addr);
  EXPECT_EQ("10.0.0.4", n.private_ip);  // the address list does not replace the primary
  EXPECT_EQ(tc::UNKNOWN_TYPE, n.type);
  ASSERT_EQ(2u, n.groups.size());
  EXPECT_EQ("sg-1", n.groups[0].id);
  EXPECT_EQ("web", n.groups[0].name);
  EXPECT_EQ("sg-2", n.groups[1].id);
  EXPECT_EQ("db", n.groups[1].name);
  EXPECT_TRUE(rsp.network_interfaces()[1].groups.empty());
}
