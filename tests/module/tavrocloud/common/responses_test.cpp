// The cloud's XML answers through the real parsers, table-driven. Each parser keeps one
// reader across its rows, so a row also shows what an answer leaves of the one before:
// an error answer keeps the records and carries its message, a new root starts afresh.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "scripted_cloud.h"
#include "support/log_capture.h"
#include "tavrocloud/common/common_result_response.h"
#include "tavrocloud/common/delete_instance_response.h"
#include "tavrocloud/common/get_cluster_response.h"
#include "tavrocloud/common/get_instance_backup_response.h"
#include "tavrocloud/common/get_instance_response.h"
#include "tavrocloud/common/get_node_response.h"
#include "tavrocloud/common/get_security_group_response.h"
#include "tavrocloud/common/get_storage_response.h"
#include "tavrocloud/common/get_volume_response.h"
#include "tavrocloud/common/operate_volume_response.h"

namespace tc = tavrocloud;

namespace {

using Reader = std::function<std::string(const std::string&, long)>;

std::string st(tc::Status s) {
  const char* name = tc::status_to_name(s);
  return name != nullptr ? name : "?";
}
std::string j(std::initializer_list<std::string> parts) {
  std::string out;
  for (const std::string& p : parts) out += p + ",";
  return out.substr(0, out.size() - 1);
}
template <typename V, typename F>
std::string each(const V& records, F line) {
  std::string out;
  for (const auto& r : records) out += (out.empty() ? "" : "; ") + line(r);
  return out;
}

// One parser (made from `args`) kept across calls: what `show` makes of it, after
// "refused <message>: " when the send fails, and with " [<logged texts>]" when the parse
// logged anything.
template <typename Rsp, typename Show, typename... Args>
Reader reader(Show show, Args... args) {
  const auto rsp = std::make_shared<Rsp>(args...);
  return [rsp, show](const std::string& xml, long status) {
    test::Log_Capture log;
    const bool ok = cloud::deliver_answer(*rsp, status, xml);
    std::string out = (ok ? "" : "refused " + rsp->message() + ": ") + show(*rsp);
    const std::regex origin("Unexpected error in [^,]*, ");
    const std::string logged = std::regex_replace(log.text(), origin, "");
    return logged.empty() ? out : out + " [" + logged + "]";
  };
}

// A document as the cloud sends it: declaration, namespaced root, pretty-printed.
std::string doc(const std::string& root, const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root +
         " xmlns=\"http://ec2.amazonaws.com/doc/2016-11-15/\">\n  <requestId>r-1</requestId>\n  " +
         body + "\n</" + root + ">\n";
}
const std::string TAGS =
    "<tagSet><item><key>Name</key><value>x</value><status>error</status></item><item/></tagSet>";
const std::string ERR = test::error_document("no such thing");

std::string nif_json(const std::string& members) {
  return "<nifInfo>{&quot;nifInfo&quot;: [" + members + "]}</nifInfo>";
}
const std::string NIFS = nif_json(
    R"({"netifId": "eni-1", "netifType": "main", "privateip": "10.0.0.4", "publicip": "",)"
    R"( "priSubnetId": "s-1"}, 7, {"netifId": "eni-2", "netifType": "extend",)"
    R"( "privateip": "10.0.1.4", "publicip": "1.2.3.4", "priSubnetId": "s-2"})");

// The first instance's own elements: placement and network, stray volume texts around its
// mapping, an interface set and the interfaces' JSON.
const std::string I1 =
    "<placement><availabilityZone>z</availabilityZone></placement><subnetId>s-1</subnetId>"
    "<vpcId>vpc-1</vpcId><volumeId>early</volumeId><size>99</size><blockDeviceMapping><item>"
    "<ebs><volumeId>vol-1</volumeId><size>8</size>" + TAGS + "</ebs></item><item><ebs>"
    "<volumeId>vol-2</volumeId></ebs></item></blockDeviceMapping><size>77</size><volumeId>late"
    "</volumeId><networkInterfaceSet><item><subnetId>s-9</subnetId><vpcId>vpc-9</vpcId>"
    "<availabilityZone>z-9</availabilityZone></item></networkInterfaceSet>" + NIFS;

std::string reservation(const std::string& owner, const std::string& items) {
  return "<item><ownerId>" + owner + "</ownerId><groupSet><item><groupId>sg-" + owner +
         "</groupId><groupName>n-" + owner + "</groupName></item></groupSet><instancesSet>" +
         items + "</instancesSet></item>";
}
std::string instance(const std::string& id, const std::string& extra = "") {
  return "<item><instanceId>" + id +
         "</instanceId><instanceState><code>16</code><name>running</name></instanceState>" + TAGS +
         "<groupSet><item><groupId>sg-inner</groupId></item></groupSet>" + extra + "</item>";
}
std::string instances(const std::string& reservations, const std::string& token = "") {
  const std::string rest = "</reservationSet>" + test::fields({{"nextToken", token}});
  return doc("DescribeInstancesResponse", "<reservationSet>" + reservations + rest);
}
// A page of one instance i-1 of owner "o" holding `extra`.
std::string one_instance(const std::string& extra) {
  return instances(reservation("o", instance("i-1", extra)));
}
std::string backup(const std::string& mappings) {
  return doc("DescribeInstanceBackupsResponse",
             "<backupId>stray</backupId><instanceBackupSet><item><backupId>ib-1</backupId>"
             "<backupSize>42</backupSize><backupStatus>complete</backupStatus>" + TAGS +
                 "<blockDeviceMapping>" + mappings +
                 "</blockDeviceMapping></item></instanceBackupSet>");
}

// Why an answer to `action` under the root `root` is refused.
std::string other_kind(const std::string& action, const std::string& root) {
  return "the cloud's answer to " + action + " is of another kind (its root element is " + root +
         ")";
}

// "<name>inner</name>", and a state element of that form.
std::string in(const std::string& name, const std::string& inner) {
  return "<" + name + ">" + inner + "</" + name + ">";
}
std::string state(const std::string& element, const std::string& code, const std::string& name) {
  return in(element, in("code", code) + in("name", name));
}
std::string next(const std::string& token) { return token.empty() ? "" : " next " + token; }
std::string volume_text(const tc::Volume& v) {
  const tc::Volume_Attachment& a = v.volume_attachment;
  return j({v.id, st(v.status), std::to_string(v.size), v.is_root ? "root" : "", v.node_id,
            a.volume_id, a.instance_id, a.device, st(a.status)});
}
std::string instance_text(const tc::Instance& i) {
  std::string out = j({i.id, st(i.status), i.owner_id, i.security_group.id, i.availability_zone,
                       i.subnet_id, i.vpc_id});
  for (const tc::Volume& v : i.volumes) out += " " + v.id + ":" + std::to_string(v.size);
  for (const auto& n : i.network_interfaces) {
    out += " " + std::string(tc::net_interface_to_str(n.type)) + ":" + n.id + ":" + n.public_ip;
  }
  return out;
}
std::string backup_text(const tc::Instance_Backup& b) {
  return j({b.id, st(b.status), std::to_string(b.size)}) + " " +
         each(b.block_device_mappings, [](const tc::Block_Device_Mapping& m) {
           return j({m.is_root ? "root" : "data", m.device_name, m.snapshot_id,
                     std::to_string(m.size), m.delete_on_termination ? "del" : ""});
         });
}

TEST(Responses, RecordsRulesAndReuse) {
  const Reader volumes = reader<tc::Get_Volume_Response>(
      [](const auto& r) { return each(r.volumes(), volume_text); });
  const Reader instance_list = reader<tc::Get_Instance_Response>(
      [](const auto& r) { return each(r.instances(), instance_text) + next(r.next_token()); });
  const Reader backups = reader<tc::Get_Instance_Backup_Response>(
      [](const auto& r) { return each(r.instance_backups(), backup_text); });
  const Reader groups = reader<tc::Get_Security_Group_Response>([](const auto& r) {
    return each(r.security_groups(), [](const tc::Security_Group& g) {
             return j({g.id, g.name, g.owner_id, g.shared ? "shared" : ""});
           }) + next(r.next_token());
  });
  const Reader storages = reader<tc::Get_Storage_Response>([](const auto& r) {
    return each(r.storages(), [](const tc::Storage& s) {
      return j({s.id, s.type, s.disable ? "disabled" : "", std::to_string(s.space_max)});
    });
  });
  const Reader clusters = reader<tc::Get_Cluster_Response>([](const auto& r) {
    return each(r.clusters(), [](const tc::Cluster& c) { return j({c.id, c.name, st(c.status)}); });
  });
  const Reader deleted = reader<tc::Delete_Instance_Response>([](const auto& r) {
    return j({std::to_string(r.shutdown_state_code()), st(r.shutdown_state_name())});
  });
  const Reader detached = reader<tc::Operate_Volume_Response>(
      [](const auto& r) { return st(r.status()); }, "DetachVolume");
  const Reader message = [](const std::string& xml, long status) {  // a fresh parser each time
    tc::Operate_Volume_Response rsp("AttachVolume");
    cloud::deliver_answer(rsp, status, xml);
    return rsp.message();
  };
  const Reader nodes = reader<tc::Get_Node_Response>([](const auto& r) {
    return each(r.nodes(), [](const tc::Node& n) { return n.id + st(n.status); });
  });
  const Reader result = reader<tc::Common_Result_Response>(
      [](const auto& r) { return r.success() ? "yes" : "no"; }, "DeleteVolume");

  const auto terminated = [](const std::string& inner) {
    return in("TerminateInstancesResponse", inner);
  };
  const std::string two_volumes =
      "vol-1,in-use,20,root,n-1,vol-1-att,i-9,/dev/vdb,attached; vol-2,available,0,,,vol-2,,,?";
  const std::string bad_mapping = "ib-1,complete,42  [Failed to extract block mapping. ";
  const std::string NO = "refused the cloud's answer does not report success: ";
  const std::string CUT = "no element found at line 1, column 41";
  const struct Row {
    const Reader& read;
    std::string xml;
    std::string expected;
    long status = 200;
  } rows[] = {
      // A volume's attachment fills the attachment only; a tag's status is no volume's;
      // "TRUE" is no truth; an item outside the volume set is no volume.
      {volumes,
       doc("DescribeVolumesResponse",
           "<volumeSet><item><volumeId>vol-1</volumeId><size>20</size><status>in-use</status>"
           "<isRoot>true</isRoot><nodeId>n-1</nodeId><attachmentSet><item><volumeId>vol-1-att"
           "</volumeId><instanceId>i-9</instanceId><device>/dev/vdb</device><status>attached"
           "</status></item></attachmentSet>" + TAGS + "</item><item><volumeId>vol-2</volumeId>"
           "<status>available</status><isRoot>TRUE</isRoot></item></volumeSet>"), two_volumes},
      {volumes, ERR, "refused no such thing: " + two_volumes, 400},
      {volumes, doc("DescribeVolumesResponse", "<item><volumeId>v</volumeId></item>"), ""},
      // Owner and group come from each reservation; nested lists (tags, groups, a
      // mapping's tags) make no instance or volume; the interfaces come from the JSON,
      // the 7 among them skipped; "size" counts only inside the mapping, "volumeId" goes
      // to the last volume wherever it stands.
      {instance_list,
       instances(reservation("o1", instance("i-1", I1)) +
                     reservation("o2", instance("i-2") + instance("i-3")), "tok"),
       "i-1,running,o1,sg-o1,z,s-1,vpc-1 vol-1:8 late:0 main:eni-1: extend:eni-2:1.2.3.4; "
       "i-2,running,o2,sg-o2,,,; i-3,running,o2,sg-o2,,, next tok"},
      // Text before any instance is dropped; a page without a token clears the old one.
      {instance_list,
       doc("DescribeInstancesResponse",
           "<instanceId>lost</instanceId><nifInfo>{}</nifInfo><instancesSet/>"), ""},
      // A bad interface text leaves the instance's earlier list as it was.
      {instance_list, one_instance(NIFS + "<nifInfo>[1, 2]</nifInfo>"),
       "i-1,running,o,sg-o,,, main:eni-1: extend:eni-2:1.2.3.4 [Failed to parse network "
       "interface, json load not object type.\n]"},
      {instance_list, one_instance(nif_json(R"({"netifId": "eni-1", "netifType": "main"})")),
       "i-1,running,o,sg-o,,, [Failed to extract network interface. JSON member 'privateip' not "
       "found\n]"},
      // An instance backup's disks are JSON in a text: a bad list costs only the disks.
      {backups,
       backup(R"([{"mappingId":"m-1","isRoot":true,"deviceName":"/dev/vda","snapshotId":"snap-1",)"
              R"("size":21474836480,"deleteOnTermination":true},)"
              R"({"isRoot":false,"snapshotId":"s-2"},"x"])"),
       "ib-1,complete,42 root,/dev/vda,snap-1,21474836480,del; data,,s-2,0,"},
      {backups, backup(R"([{"isRoot":true,"snapshotId":"s"},{"isRoot":true}])"),
       bad_mapping + "JSON member 'snapshotId' not found\n]"},
      {backups, backup(R"({"isRoot":true,"snapshotId":"s"})"),
       "ib-1,complete,42  [val is not array!\n]"},
      {backups, backup("[{"), "ib-1,complete,42  [Failed to parse block device.\n]"},
      // A group named in a permission does not replace the group's id; pages keep their token.
      {groups,
       doc("DescribeSecurityGroupsResponse",
           "<securityGroupInfo><item><ownerId>o-1</ownerId><groupId>sg-1</groupId><groupName>web"
           "</groupName><shared>true</shared><ipPermissions><item><groups><item><userId>o-2"
           "</userId><groupId>sg-lb</groupId><groupName>lb</groupName></item></groups></item>"
           "</ipPermissions><ipPermissionsEgress><item><groups><item><groupId>sg-db</groupId>"
           "</item></groups></item></ipPermissionsEgress><complexIpPermissions><item><groups>"
           "<item><groupId>ref</groupId></item></groups></item></complexIpPermissions>" + TAGS +
           "</item><item><groupId>sg-2</groupId></item></securityGroupInfo>"
           "<nextToken>t-1</nextToken>"), "sg-1,web,o-1,shared; sg-2,,, next t-1"},
      {groups, doc("DescribeSecurityGroupsResponse", "<securityGroupInfo/>"), ""},
      // Parameters are no storage texts; numbers read as the cloud writes them.
      {storages,
       doc("DescribeStoragesResponse",
           "<storageSet><item><storageId>st-1</storageId><storageType>ceph</storageType>"
           "<disabled>true</disabled><spaceMax>-5</spaceMax><parameterSet><item><key>pool</key>"
           "</item></parameterSet></item><item><disabled>TRUE</disabled><spaceMax>12abc"
           "</spaceMax></item><item><spaceMax> 7</spaceMax></item><item><spaceMax>99999999999"
           "</spaceMax></item></storageSet>"), "st-1,ceph,disabled,-5; ,,,12; ,,,7; ,,,2147483647"},
      // The flat lists (nodes here; images and types share the handling): a field outside
      // any item is dropped, and so is text where two text elements are open.
      {nodes,
       in("DescribeNodesResponse",
          "<nodeId>stray</nodeId>" + in("item", in("nodeId", "a") + TAGS) +
              "<item/><item><nodeId>c<Message>m</Message></nodeId></item>"),
       "a?; ?; c?"},
      {nodes, ERR, "refused no such thing: a?; ?; c?", 400},
      {nodes, in("DescribeNodesResponse", ""), ""},
      // Controllers are no clusters.
      {clusters,
       doc("DescribeClustersResponse",
           "<clusterSet><item><clusterId>cl-1</clusterId><clusterName>a</clusterName><status>"
           "available</status><clusterControllerSet><item><status>error</status></item><item/>"
           "</clusterControllerSet></item><item><clusterId>cl-2</clusterId></item></clusterSet>"),
       "cl-1,a,available; cl-2,,?"},
      // The current state counts, the previous one never; only a shut-down state succeeds.
      {deleted,
       terminated(in("item", state("previousState", "80", "stopped") + in("code", "99") +
                                 state("currentState", "48", "terminated"))), "48,terminated"},
      {deleted, terminated(state("shutdownState", "32", "shutting-down")), "32,shutting-down"},
      {deleted, terminated(state("shutdownState", "16", "running")), NO + "16,running"},
      // An answer under another action's root is refused and changes nothing.
      {detached, in("DetachVolumeResponse", in("status", "detaching")), "detaching"},
      {detached, in("CreateVolumeResponse", in("status", "available")),
       "refused " + other_kind("DetachVolume", "CreateVolumeResponse") + ": detaching"},
      {detached, "<AttachVolumeResponse/>", "?"},
      // The return flag is the verdict; each root resets it; a body that broke off leaves
      // nothing open for the next answer.
      {result, in("DeleteVolumeResponse", "<return>true</return>"), "yes"},
      {result, in("DeleteVolumeResponse", ""), NO + "no"},
      {result, in("DetachTmpSnapshotResponse", "<return>true</return>"), "yes"},
      {result, in("DeleteVolumeResponse", "<return>True</return>"), NO + "no"},
      {result, "<Reply><return>true</return></Reply>",
       "refused " + other_kind("DeleteVolume", "Reply") + ": no"},
      {result, doc("DeleteTmpSnapshotsResponse", "<return>false</return>"), NO + "no"},
      {result, "<DeleteVolumeResponse><Error><Message>cut",
       "refused the cloud's answer is not acceptable XML: " + CUT + ": no [The answer to "
       "DeleteVolume is not acceptable XML: " + CUT + ".\n]"},
      {result, in("DeleteVolumeResponse", "<return>true</return>"), "yes"},
      // White space around a value, as a pretty-printed answer has it, is no part of it.
      {result, doc("DeleteVolumeResponse", "<return>\n    true\n  </return>"), "yes"},
      {result, doc("DeleteVolumeResponse", "<return> false\t</return>"), NO + "no"},
      {result, doc("DeleteVolumeResponse", "<return>\n  </return>"), NO + "no"},
      {detached, in("DetachVolumeResponse", in("status", "\r\n  available  ")), "available"},
      {volumes,
       doc("DescribeVolumesResponse",
           "<volumeSet>\n  <item>\n    <volumeId>\n      vol-7\n    </volumeId>\n    <size> 3 "
           "</size>\n  </item>\n</volumeSet>"), "vol-7,?,3,,,vol-7,,,?"},
      {message, test::error_document("\n      volume busy\n    "), "volume busy"},
      // Where the message of an answer is found.
      {message, test::error_document("volume busy"), "volume busy"},
      {message, "<a><b><Error><Message>deep</Message></Error></b></a>", "deep"},
      {message, "<Response><Message>loose</Message></Response>",
       other_kind("AttachVolume", "Response")},
      {message, in("AttachVolumeResponse", "<status>attaching<Message>two</Message></status>"), ""},
      {message, test::error_document("a &lt;b&gt; &amp; &#99;"), "a <b> & c"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("row " + std::to_string(&row - rows));
    EXPECT_EQ(row.expected, row.read(row.xml, row.status));
  }
}

}  // namespace
