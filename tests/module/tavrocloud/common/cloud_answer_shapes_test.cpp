// Answers in the shapes an EC2-style cloud really sends (pretty-printed, namespaced root,
// tags and other lists nested in the records) through the real parsers: each row gives a
// fixture and what the client must make of it, summarised one record per line.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tavrocloud/common/common_result_response.h"
#include "tavrocloud/common/create_tmp_snapshot_response.h"
#include "tavrocloud/common/get_cluster_response.h"
#include "tavrocloud/common/get_image_response.h"
#include "tavrocloud/common/get_instance_backup_response.h"
#include "tavrocloud/common/get_instance_response.h"
#include "tavrocloud/common/get_network_interface_response.h"
#include "tavrocloud/common/get_security_group_response.h"
#include "tavrocloud/common/get_snapshot_response.h"
#include "tavrocloud/common/get_storage_response.h"
#include "tavrocloud/common/get_subnet_response.h"
#include "tavrocloud/common/get_tmp_snapshot_response.h"
#include "tavrocloud/common/get_volume_response.h"
#include "tavrocloud/common/get_vpc_response.h"
#include "xml_answer.h"

namespace tc = tavrocloud;

namespace {

std::string st(tc::Status s) { return tc::status_to_name(s); }

// Parses `xml` with a fresh `Rsp`; "refused" when the send would fail, else one line per
// record of `records`, written by `line`.
template <typename Rsp, typename Record>
std::function<std::string(const std::string&)> lines(
    const std::vector<Record>& (Rsp::*records)() const,
    std::function<std::string(const Record&)> line) {
  return [records, line](const std::string& xml) {
    Rsp rsp;
    if (!test::answer(rsp, xml)) return std::string("refused");
    std::string out;
    for (const Record& r : (rsp.*records)()) out += line(r) + "\n";
    return out;
  };
}

std::string doc(const std::string& root, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
         " xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">\n"
         "  <requestId>7a62c49f-347e-4fc4-9331-6e8eEXAMPLE</requestId>\n" +
         body + "\n</" + root + ">\n";
}

const char TAGS[] = R"(
      <tagSet>
        <item><key>Name</key><value>nightly</value></item>
        <item><key>status</key><value>keep</value></item>
      </tagSet>)";

struct Shape {
  const char* name;
  std::string xml;
  std::function<std::string(const std::string&)> parse;
  std::string expected;
};

TEST(Cloud_Answer_Shapes, RealShapesThroughTheParsers) {
  const std::string T = TAGS;
  const Shape shapes[] = {
      {"snapshots carrying tags",
       doc("DescribeSnapshotsResponse", R"(  <snapshotSet>
    <item>
      <snapshotId>snap-1</snapshotId>
      <volumeId>vol-1</volumeId>
      <status>completed</status>)" + T + R"(
    </item>
    <item><snapshotId>snap-2</snapshotId><status>pending</status>)" + T + R"(</item>
  </snapshotSet>)"),
       lines(&tc::Get_Snapshot_Response::snapshots,
             std::function<std::string(const tc::Snapshot&)>([](const tc::Snapshot& s) {
               return s.id + " " + st(s.status) + " " + s.volume_id;
             })),
       "snap-1 completed vol-1\nsnap-2 pending \n"},
      {"image with a block device mapping",
       doc("DescribeImagesResponse", R"(  <imagesSet>
    <item>
      <imageId>img-1</imageId>
      <imageState>available</imageState>
      <name>centos</name>
      <imageSize>21474836480</imageSize>
      <blockDeviceMapping>
        <item><deviceName>/dev/vda</deviceName>
          <ebs><snapshotId>snap-9</snapshotId><volumeSize>20</volumeSize></ebs></item>
        <item><deviceName>/dev/vdb</deviceName><name>swap</name></item>
      </blockDeviceMapping>)" + T + R"(
    </item>
  </imagesSet>)"),
       lines(&tc::Get_Image_Response::images,
             std::function<std::string(const tc::Image&)>([](const tc::Image& i) {
               return i.id + " " + st(i.status) + " " + i.name + " " + std::to_string(i.size);
             })),
       "img-1 available centos 21474836480\n"},
      {"vpc with cidr block associations",
       doc("DescribeVpcsResponse", R"(  <vpcSet>
    <item>
      <vpcId>vpc-1</vpcId>
      <state>available</state>
      <cidrBlock>10.10.0.0/16</cidrBlock>
      <cidrBlockAssociationSet>
        <item>
          <associationId>vpc-cidr-assoc-1</associationId>
          <cidrBlock>10.20.0.0/16</cidrBlock>
          <cidrBlockState><state>associating</state></cidrBlockState>
        </item>
      </cidrBlockAssociationSet>)" + T + R"(
    </item>
  </vpcSet>)"),
       lines(&tc::Get_Vpc_Response::vpcs,
             std::function<std::string(const tc::Vpc&)>([](const tc::Vpc& v) {
               return v.id + " " + st(v.status) + " " + v.cidr_block;
             })),
       "vpc-1 available 10.10.0.0/16\n"},
      {"network interface with attachment and secondary addresses",
       doc("DescribeNetworkInterfacesResponse", R"(  <networkInterfaceSet>
    <item>
      <networkInterfaceId>eni-1</networkInterfaceId>
      <subnetId>subnet-1</subnetId>
      <vpcId>vpc-1</vpcId>
      <ownerId>owner-1</ownerId>
      <status>in-use</status>
      <macAddress>52:54:00:00:00:01</macAddress>
      <privateIpAddress>10.10.1.4</privateIpAddress>
      <groupSet>
        <item><groupId>sg-web</groupId><groupName>web</groupName></item>
        <item><groupId>sg-db</groupId><groupName>db</groupName></item>
      </groupSet>
      <attachment>
        <attachmentId>eni-attach-1</attachmentId>
        <instanceId>i-1</instanceId>
        <status>attached</status>
      </attachment>
      <association><publicIp>1.2.3.4</publicIp><ownerId>amazon</ownerId></association>
      <privateIpAddressesSet>
        <item><privateIpAddress>10.10.1.4</privateIpAddress><primary>true</primary></item>
        <item><privateIpAddress>10.10.1.5</privateIpAddress><primary>false</primary></item>
      </privateIpAddressesSet>)" + T + R"(
    </item>
  </networkInterfaceSet>)"),
       lines(&tc::Get_Network_Interface_Response::network_interfaces,
             std::function<std::string(const tc::Network_Interface&)>(
                 [](const tc::Network_Interface& n) {
                   std::string groups;
                   for (const tc::Security_Group& g : n.groups) groups += " " + g.id + "/" + g.name;
                   return n.id + " " + st(n.status) + " " + n.private_ip + " " + n.owner_id +
                          groups;
                 })),
       "eni-1 in-use 10.10.1.4 owner-1 sg-web/web sg-db/db\n"},
      {"volume with an attachment and tags",
       doc("DescribeVolumesResponse", R"(  <volumeSet>
    <item>
      <volumeId>vol-1</volumeId>
      <size>20</size>
      <status>in-use</status>
      <attachmentSet>
        <item>
          <volumeId>vol-1</volumeId>
          <instanceId>i-1</instanceId>
          <device>/dev/vdb</device>
          <status>attached</status>
          <deleteOnTermination>false</deleteOnTermination>
        </item>
      </attachmentSet>)" + T + R"(
    </item>
  </volumeSet>)"),
       lines(&tc::Get_Volume_Response::volumes,
             std::function<std::string(const tc::Volume&)>([](const tc::Volume& v) {
               const tc::Volume_Attachment& a = v.volume_attachment;
               return v.id + " " + st(v.status) + " " + std::to_string(v.size) + " " +
                      a.instance_id + " " + a.device + " " + st(a.status);
             })),
       "vol-1 in-use 20 i-1 /dev/vdb attached\n"},
      {"two instances of one reservation with their nested lists",
       doc("DescribeInstancesResponse", R"(  <reservationSet>
    <item>
      <reservationId>r-1</reservationId>
      <ownerId>owner-1</ownerId>
      <groupSet><item><groupId>sg-web</groupId><groupName>web</groupName></item></groupSet>
      <instancesSet>
        <item>
          <instanceId>i-1</instanceId>
          <instanceState><code>16</code><name>running</name></instanceState>
          <placement><availabilityZone>cluster-a</availabilityZone></placement>
          <subnetId>subnet-1</subnetId>
          <vpcId>vpc-1</vpcId>
          <blockDeviceMapping>
            <item><deviceName>/dev/vda</deviceName>
              <ebs><volumeId>vol-1</volumeId><status>attached</status><size>8</size></ebs></item>
            <item><deviceName>/dev/vdb</deviceName>
              <ebs><volumeId>vol-2</volumeId><status>attached</status><size>20</size></ebs></item>
          </blockDeviceMapping>
          <networkInterfaceSet>
            <item>
              <networkInterfaceId>eni-9</networkInterfaceId>
              <subnetId>subnet-9</subnetId>
              <vpcId>vpc-9</vpcId>
              <ownerId>owner-9</ownerId>
              <status>in-use</status>
              <groupSet><item><groupId>sg-9</groupId><groupName>other</groupName></item></groupSet>
              <privateIpAddressesSet><item><privateIpAddress>10.9.9.9</privateIpAddress></item>
              </privateIpAddressesSet>
            </item>
          </networkInterfaceSet>
          <groupSet><item><groupId>sg-inner</groupId><groupName>inner</groupName></item></groupSet>)" +
                                            T + R"(
        </item>
        <item>
          <instanceId>i-2</instanceId>
          <instanceState><code>80</code><name>stopped</name></instanceState>)" + T + R"(
        </item>
      </instancesSet>
    </item>
  </reservationSet>)"),
       lines(&tc::Get_Instance_Response::instances,
             std::function<std::string(const tc::Instance&)>([](const tc::Instance& i) {
               std::string volumes;
               for (const tc::Volume& v : i.volumes) volumes += " " + v.id + ":" + std::to_string(v.size);
               return i.id + " " + st(i.status) + " " + i.availability_zone + " " + i.subnet_id +
                      " " + i.vpc_id + " " + i.owner_id + " " + i.security_group.id + volumes;
             })),
       "i-1 running cluster-a subnet-1 vpc-1 owner-1 sg-web vol-1:8 vol-2:20\n"
       "i-2 stopped    owner-1 sg-web\n"},
      {"security group whose rules name other groups",
       doc("DescribeSecurityGroupsResponse", R"(  <securityGroupInfo>
    <item>
      <ownerId>owner-1</ownerId>
      <groupId>sg-web</groupId>
      <groupName>web</groupName>
      <ipPermissions>
        <item>
          <ipProtocol>tcp</ipProtocol>
          <groups>
            <item><userId>owner-2</userId><groupId>sg-lb</groupId><groupName>lb</groupName></item>
          </groups>
          <ipRanges><item><cidrIp>10.0.0.0/8</cidrIp></item></ipRanges>
        </item>
      </ipPermissions>
      <ipPermissionsEgress>
        <item><groups><item><groupId>sg-db</groupId></item></groups></item>
      </ipPermissionsEgress>)" + T + R"(
    </item>
  </securityGroupInfo>)"),
       lines(&tc::Get_Security_Group_Response::security_groups,
             std::function<std::string(const tc::Security_Group&)>([](const tc::Security_Group& g) {
               return g.id + " " + g.name + " " + g.owner_id;
             })),
       "sg-web web owner-1\n"},
      {"storage with parameters",
       doc("DescribeStoragesResponse", R"(  <storageSet>
    <item>
      <storageId>st-1</storageId>
      <storageType>ceph</storageType>
      <parameterSet><item><key>pool</key><value>volumes</value></item></parameterSet>
    </item>
  </storageSet>)"),
       lines(&tc::Get_Storage_Response::storages,
             std::function<std::string(const tc::Storage&)>([](const tc::Storage& s) {
               return s.id + " " + s.type;
             })),
       "st-1 ceph\n"},
      {"cluster with controllers",
       doc("DescribeClustersResponse", R"(  <clusterSet>
    <item>
      <clusterId>cluster-a</clusterId>
      <status>available</status>
      <clusterControllerSet>
        <item><controllerIp>10.0.0.1</controllerIp><status>error</status></item>
      </clusterControllerSet>
    </item>
  </clusterSet>)"),
       lines(&tc::Get_Cluster_Response::clusters,
             std::function<std::string(const tc::Cluster&)>([](const tc::Cluster& c) {
               return c.id + " " + st(c.status);
             })),
       "cluster-a available\n"},
      {"instance backup carrying tags",
       doc("DescribeInstanceBackupsResponse", R"(  <instanceBackupSet>
    <item>
      <backupId>ib-1</backupId>
      <backupStatus>complete</backupStatus>)" + T + R"(
    </item>
  </instanceBackupSet>)"),
       lines(&tc::Get_Instance_Backup_Response::instance_backups,
             std::function<std::string(const tc::Instance_Backup&)>(
                 [](const tc::Instance_Backup& b) { return b.id + " " + st(b.status); })),
       "ib-1 complete\n"},
      {"created temporary snapshot carrying tags",
       doc("CreateTmpSnapshotsResponse", R"(  <tmpSnapshotSet>
    <item><tmpSnapshotId>tmpsnap-1</tmpSnapshotId><status>pending</status>)" + T + R"(</item>
  </tmpSnapshotSet>)"),
       [](const std::string& xml) {
         tc::Create_Tmp_Snapshot_Response rsp;
         if (!test::answer(rsp, xml)) return std::string("refused");
         std::string out;
         for (const std::string& id : rsp.tmp_snapshot_ids()) out += id + "\n";
         return out;
       },
       "tmpsnap-1\n"},
      {"a result answered 200 with return false",
       doc("DeleteTmpSnapshotsResponse", "  <return>false</return>"),
       [](const std::string& xml) {
         tc::Common_Result_Response rsp("DeleteTmpSnapshots");
         return std::string(test::answer(rsp, xml) ? "accepted" : "refused");
       },
       "refused"},
  };
  for (const Shape& shape : shapes) {
    EXPECT_EQ(shape.expected, shape.parse(shape.xml)) << shape.name;
  }
}

}  // namespace
