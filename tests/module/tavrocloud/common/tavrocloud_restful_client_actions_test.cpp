// The cloud client's operations against a scripted cloud: the paths the end-to-end tests
// cannot reach with the simulator. One table: what each call returns and leaves, what it
// logs, how long it waits and, where a rule is in the parameters, what it sends.
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scripted_cloud.h"
#include "support/sleep_recorder.h"

namespace {

namespace tc = tavrocloud;
using tc::RESTful_Client;
using namespace test;
using C = RESTful_Client;

std::string yes(bool ok) { return ok ? "ok" : "failed"; }
// The words joined, empty ones left out (braces keep a call before what it left behind).
std::string say(std::initializer_list<std::string> words) {
  std::string out;
  for (const std::string& w : words) out += w.empty() ? "" : (out.empty() ? "" : " ") + w;
  return out;
}
std::string ids(const tc::Instances& v) {
  std::string out;
  for (const auto& i : v) out += (out.empty() ? "" : " ") + i.id;
  return out;
}
Script repeat(const std::string& action, int n, const Answer& a) { return Script(n, {action, a}); }
Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
// The waits of a poll that never settles: 2 s doubling to 60, the last one cut to the deadline.
std::vector<unsigned int> backoff(unsigned int deadline) {
  std::vector<unsigned int> out;
  for (unsigned int w = 2, total = 0; total < deadline; total += out.back(), w = std::min(2 * w, 60u)) {
    out.push_back(std::min(w, deadline - total));
  }
  return out;
}
Answer with_id(const std::string& action, const std::string& key, const std::string& id) {
  return ok(action, fields({{key, id}}));
}
Answer one(const std::string& action, const std::string& set, const std::string& inner) {
  return listing(action, set, {item(inner)});
}
Answer snapshot(const std::string& id, const std::string& status) {
  return one("DescribeSnapshots", "snapshotSet", fields({{"snapshotId", id}, {"status", status}}));
}
Answer detail(const std::string& inner) {
  return instances({item(fields({{"instanceId", "i-1"}, {"instanceType", "t1"}}) + inner)});
}

const std::string RESIDUE = "Volume vol-1 already has tmp snapshot tmpsnap-old, please delete it first";
const std::string TRY = "Failed to create tmp snapshot for volume vol-1, try count ";
const std::string NO_INFO = "Failed to create tmp snapshot for volume vol-1, rsp don't contain tmpsnap info, exit.\n";
const Answer TYPE = one("DescribeInstanceTypes", "instanceTypeSet", fields({{"instanceType", "t1"}, {"cpu", "4"}}));
const Answer NOT_FOUND = {400, "<Response><Errors><Error><Code>InvalidVolume.NotFound</Code><Message>"
                               "no such volume</Message></Error></Errors></Response>"};
const char MAC[] = "52:54:00:00:00:01";
const Answer NEW_VOLUME = with_id("CreateVolume", "volumeId", "vol-9");
const Answer OLD_ATTACHED = tmp_snapshot("tmpsnap-old", "attached", "vol-1", "i-agent");
const Answer NO_TMP = listing("DescribeTmpSnapshots", "tmpSnapshotSet", {});
const Answer AGENT_DISKS = volumes({volume_item("vol-1", "in-use", "i-agent", "/dev/vda", "attached")});
const Script PAGES = {{"DescribeInstances", instances({instance_item("i-1", "running")}, "tok-a")},
                      {"DescribeInstances", instances({instance_item("i-2", "running")}, "tok-b")}};
const Script ATTACH = {{"DescribeVolumes", AGENT_DISKS}, {"AttachVolume", ok("AttachVolume")}};
// A residue refused the creation; a clearing that finds it gone at its second look; a success.
const Script REFUSAL = {{"CreateTmpSnapshots", refused(RESIDUE)},
                        {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "available")},
                        {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "available")}};
const Script CLEARED = {{"DeleteTmpSnapshots", result("DeleteTmpSnapshots")}, {"DescribeTmpSnapshots", NO_TMP}};
const Script MADE = {{"CreateTmpSnapshots", one("CreateTmpSnapshots", "tmpSnapshotSet", fields({{"tmpSnapshotId", "tmpsnap-new"}}))},
                     {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-new", "available")}};

std::string new_volume(C& c) {
  tc::Volume v;
  return say({yes(c.create_volume("v", "z", "st-1", 1, "", v)), v.id, v.status ? tc::status_to_name(v.status) : "?"});
}
std::string new_instance(C& c) {
  tc::Instance x;
  return say({yes(c.create_instance({}, x)), x.id});
}
std::string clear(C& c) { return yes(c.clear_tmp_snapshot("t-x")); }
std::string new_tmp_snapshot(C& c) {
  tc::Tmp_Snapshot s;
  return say({yes(c.create_tmp_snapshot("vol-1", s)), s.id});
}
std::string attach(C& c) {
  std::string device = "untouched";
  bool accepted = false;
  return say({yes(c.attach_volume_to_agent("i-agent", "vol-new", device, &accepted)), device, accepted ? "accepted" : ""});
}
std::string query_want(C& c) {
  tc::Volume v;
  v.id = "before";
  return say({yes(c.query_volume("want", v)), v.id});
}
std::string node_instances(C& c) {
  tc::Instances v(5);
  return say({yes(c.query_node_instances("n-1", v)), ids(v)});
}

struct Row {
  const char* name;
  Script script;
  std::function<std::string(C&)> call;  // the verdict and what the call left behind
  std::string want;
  std::string logged = "";  // logged exactly once, at `level`; "": no error logged
  std::vector<unsigned int> waits = {};
  std::string sent = "";                // when given: every request, as sent_text()
  Scripted_Cloud::Responder rest = {};  // answers the requests past the script
  ACE_Log_Priority level = LM_ERROR;
};

TEST_F(Scripted_Client_Test, Operations) {
  json_spirit::Object root{{"disk_bus", json_spirit::Value("virtio")}, {"boot", json_spirit::Value(1)}};
  const json_spirit::Value root_info(root);
  const std::string paged = "DescribeInstances(Filter.1.Name=node-id Filter.1.Value.1=n-1 MaxRecords=20 NextToken=";
  const Row rows[] = {
      // What is sent: optional, numbered and JSON parameters.
      {"interface by MAC", {{"CreateNetworkInterface", with_id("CreateNetworkInterface", "networkInterfaceId", "eni-9")}},
       [](C& c) { std::string id; return say({yes(c.create_network_interface("sub-1", {}, MAC, "", id)), id}); },
       "ok eni-9", "", {}, std::string("CreateNetworkInterface(SubnetId=sub-1 MacAddress=") + MAC + ")"},
      {"root snapshot", {{"CreateSnapshot", with_id("CreateSnapshot", "snapshotId", "snap-9")}, {"DescribeSnapshots", snapshot("snap-9", "completed")}},
       [&root_info](C& c) { tc::Snapshot x; return say({yes(c.create_snapshot("vol-1", "s", root_info, x)), x.id}); }, "ok snap-9", "", {},
       R"(CreateSnapshot(VolumeId=vol-1 SnapshotName=s IsRoot=true RootInfo={"boot":1,"disk_bus":"virtio"}) )"
       "DescribeSnapshots(InstanceSnapshotId.1=snap-9)"},
      // A refusal is logged in the operation's own words; a failed listing leaves the vector.
      {"detach refused", {{"DetachVolume", refused("boom")}}, [](C& c) { return yes(c.detach_volume("i-1", "/dev/vdb", "vol-1")); },
       "failed", "Failed to detach volume vol-1 from i-1, device is /dev/vdb, msg: boom.\n"},
      {"vpcs refused", {{"DescribeVpcs", refused("boom")}},
       [](C& c) { tc::Vpcs x(2); return say({yes(c.query_vpcs(x)), std::to_string(x.size())}); }, "failed 2", "Failed to query vpcs, msg: boom.\n"},
      // A single-record query needs exactly one record, and leaves the caller's otherwise.
      {"no volume", {{"DescribeVolumes", volumes({})}}, query_want, "failed before", "Failed to query volume want, volumes size not 1, size is 0.\n"},
      {"two volumes", {{"DescribeVolumes", volumes({volume_item("x", "available"), volume_item("y", "available")})}}, query_want,
       "failed before", "Failed to query volume want, volumes size not 1, size is 2.\n"},
      {"volume refused", {{"DescribeVolumes", refused("no such thing")}}, query_want, "failed before", "Failed to query volume want, msg: no such thing.\n"},
      // No instance of a name is no error.
      {"no instance named", {{"DescribeInstances", instances({})}},
       [](C& c) { tc::Instances v(1); v[0].id = "kept"; return say({yes(c.query_instances_by_name("web", v)), ids(v)}); },
       "failed kept", "Failed to query instances by name web\n.", {}, "", {}, LM_INFO},
      // Listings follow every page with the same filter; the pages before a failed one are
      // kept; a token the cloud gave before stops the paging.
      {"pages", PAGES + Script{{"DescribeInstances", instances({instance_item("i-3", "running")})}}, node_instances, "ok i-1 i-2 i-3", "",
       {}, "DescribeInstances(Filter.1.Name=node-id Filter.1.Value.1=n-1) " + paged + "tok-a) " + paged + "tok-b)"},
      {"page refused", PAGES + Script{{"DescribeInstances", refused("token expired")}}, node_instances, "failed i-1 i-2",
       "Failed to query items by next token:tok-b, for action:DescribeInstances.\n"},
      {"token again", PAGES + Script{{"DescribeInstances", instances({instance_item("i-3", "running")}, "tok-a")}}, node_instances,
       "failed i-1 i-2 i-3", "Failed to query items by next token:tok-a, for action:DescribeInstances, the cloud gave this token before.\n"},
      // Lookups by id in a listing: none found is silent; a storage's instances are appended.
      {"backup not listed", {{"DescribeInstanceBackups", one("DescribeInstanceBackups", "instanceBackupSet", fields({{"backupId", "ib-1"}}))}},
       [](C& c) { tc::Instance_Backup b; return say({yes(c.query_instance_backup("i-1", "ib-2", b)), b.id}); }, "failed"},
      {"storage instances", repeat("DescribeInstances", 2, instances({instance_item("i-1", "running", "st-1"),
                                                                     instance_item("i-2", "running", "st-2"), instance_item("i-3", "stopped", "st-1")})),
       [](C& c) {
         tc::Instances v(1);
         v[0].id = "already";
         return say({yes(c.query_storage_instances("st-9", v) && c.query_storage_instances("st-1", v)), ids(v)});
       },
       "ok already i-1 i-3"},
      // An instance's detail survives a deleted image but stops at the first failed volume.
      {"image gone", {{"DescribeInstances", detail(fields({{"imageId", "img-gone"}}))}, {"DescribeInstanceTypes", TYPE},
                      {"DescribeImages", ok("DescribeImages", "<imagesSet/>")}},
       [](C& c) { tc::Instance x; return say({yes(c.query_instance_detail("i-1", x)), std::to_string(x.instance_type.cpu)}); },
       "ok 4", "Failed to query tavro image img-gone.\n"},
      {"volume gone", {{"DescribeInstances", detail("<blockDeviceMapping>" + item("<ebs><volumeId>vol-1</volumeId></ebs>") +
                                                    item("<ebs><volumeId>vol-2</volumeId></ebs>") + "</blockDeviceMapping>")},
                       {"DescribeInstanceTypes", TYPE}, {"DescribeVolumes", volumes({})}},
       [](C& c) { tc::Instance x; return yes(c.query_instance_detail("i-1", x)); }, "failed",
       "Failed to query volume vol-1, volumes size not 1, size is 0.\n"},
      // A create whose wait fails still hands the new id over, for the caller to clean up.
      {"run unconfirmed", {{"RunInstances", with_id("RunInstances", "instanceId", "new")}, {"DescribeInstances", refused("x", 500)}},
       new_instance, "failed new", "Failed to query instance new, msg: x.\n"},
      // Waits poll at once, then back off from 2 to 60 seconds.
      {"backoff", Script{{"CreateVolume", NEW_VOLUME}} + repeat("DescribeVolumes", 8, volume("vol-9", "creating")) +
                      Script{{"DescribeVolumes", volume("vol-9", "available")}},
       new_volume, "ok vol-9 available", "", {2, 4, 8, 16, 32, 60, 60, 60}},
      // A volume moving to another node is waited for until it is there, whatever its state.
      {"moved", {{"ModifyVolumeStorage", result("ModifyVolumeStorage")}, {"DescribeVolumes", volume("vol-1", "error", "", "", "", "n-1")},
                 {"DescribeVolumes", volume("vol-1", "creating", "", "", "", "n-1")},
                 {"DescribeVolumes", volume("vol-1", "in-use", "", "", "", "n-1")}, {"DescribeVolumes", volume("vol-1", "error", "", "", "", "n-2")}},
       [](C& c) { return yes(c.modify_volume_storage("vol-1", "st-2", "n-2")); }, "ok", "", {2, 4, 8}},
      // Any status but the target and the one transitional state ends a wait at once, and
      // so does a resource that vanished.
      {"snapshot complete", {{"CreateSnapshot", with_id("CreateSnapshot", "snapshotId", "s-1")}, {"DescribeSnapshots", snapshot("s-1", "complete")}},
       [](C& c) { tc::Snapshot s; return yes(c.create_snapshot("v", "n", s)); }, "failed", "Invalid resource status:16.\n"},
      {"tmp snapshot gone", {{"DetachTmpSnapshot", result("DetachTmpSnapshot")}, {"DescribeTmpSnapshots", tmp_snapshot("t-1", "gone")}},
       [](C& c) { return yes(c.detach_tmp_snapshot("t-1")); }, "failed", "Invalid resource status:0.\n"},
      {"instance vanished", {{"StartInstances", ok("StartInstances")}, {"DescribeInstances", instance("i-1", "pending")},
                             {"DescribeInstances", instances({})}},
       [](C& c) { return yes(c.start_instance("i-1")); }, "failed", "Failed to query instance i-1, instances size not 1, size is 0.\n", {2}},
      {"volume vanished", {{"CreateVolume", NEW_VOLUME}, {"DescribeVolumes", volume("vol-9", "creating")}, {"DescribeVolumes", volumes({})}},
       new_volume, "failed vol-9 creating", "Failed to query volume vol-9, volumes size not 1, size is 0.\n", {2}},
      // A new resource the cloud does not list yet, each way a cloud says so, is polled for
      // 30 seconds, then fails with the query's own message.
      {"instance never listed", Script{{"RunInstances", with_id("RunInstances", "instanceId", "new")}} + repeat("DescribeInstances", 5, instances({})),
       new_instance, "failed new", "Failed to query instance new, instances size not 1, size is 0.\n", {2, 4, 8, 16}},
      {"volume never listed", Script{{"CreateVolume", NEW_VOLUME}} + repeat("DescribeVolumes", 5, NOT_FOUND), new_volume, "failed vol-9 ?",
       "Failed to query volume vol-9, msg: no such volume.\n", {2, 4, 8, 16}},
      {"backup never listed", Script{{"BackupInstance", with_id("BackupInstance", "backupId", "ib-9")}} +
                                  repeat("DescribeInstanceBackups", 5, listing("DescribeInstanceBackups", "instanceBackupSet", {})),
       [](C& c) { tc::Instance_Backup b; return say({yes(c.create_instance_backup("i-1", b)), b.id}); }, "failed ib-9", "", {2, 4, 8, 16}},
      // An attachment to the agent: the device after the instance's last one, the attach
      // request, then a wait that reads each poll.
      {"agent has no volumes", {{"DescribeVolumes", volumes({})}}, attach, "failed untouched"},
      {"attach refused", {{"DescribeVolumes", AGENT_DISKS}, {"AttachVolume", refused("quota")}}, attach, "failed /dev/vdb",
       "Failed to attach volume vol-new to instance i-agent, device is /dev/vdb, msg: quota.\n", {},
       "DescribeVolumes(Filter.1.Name=attachment.instance-id Filter.1.Value.1=i-agent) "
       "AttachVolume(InstanceId=i-agent Device=/dev/vdb VolumeId=vol-new)"},
      {"attaching", ATTACH + Script{{"DescribeVolumes", volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attaching")},
                                    {"DescribeVolumes", volume("vol-new", "available", "", "", "attaching")},
                                    {"DescribeVolumes", volume("vol-new", "in-use", "", "", "detached")},
                                    {"DescribeVolumes", volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attached")}},
       attach, "ok /dev/vdb accepted", "", {2, 4, 8}},
      {"detached again", ATTACH + Script{{"DescribeVolumes", volume("vol-new", "available", "", "", "detached")}}, attach,
       "failed /dev/vdb accepted", "Unexpected volume vol-new status 3, attachment status 6.\n"},
      {"attached elsewhere", ATTACH + Script{{"DescribeVolumes", volume("vol-new", "in-use", "i-other", "/dev/vdb", "attached")}},
       attach, "failed /dev/vdb accepted", "Volume vol-new is attached to instance i-other, not to i-agent.\n"},
      {"attached volume vanished", ATTACH + Script{{"DescribeVolumes", volumes({})}}, attach, "failed /dev/vdb accepted",
       "Failed to query volume vol-new, volumes size not 1, size is 0.\n"},
      {"attach stuck", ATTACH, attach, "failed /dev/vdb accepted", "Wait attach volume vol-new be target timeout.\n",
       backoff(RESTful_Client::WAIT_CHANGE_TIMEOUT), "",
       [](const Sent&) { return volume("vol-new", "available", "i-agent", "/dev/vdb", "attaching"); }},
      // A temporary snapshot refused for a residue of its volume (the id read from the
      // refusal up to the first comma) removes it, detaching it first, and tries again
      // (three times); anything else ends the creation at once.
      {"available residue", REFUSAL + CLEARED + MADE, new_tmp_snapshot, "ok tmpsnap-new", TRY + "1, msg: " + RESIDUE + ".\n", {1}},
      {"attached residue", Script{{"CreateTmpSnapshots", refused(RESIDUE)}, {"DescribeTmpSnapshots", OLD_ATTACHED},
                                  {"DetachTmpSnapshot", result("DetachTmpSnapshot")},
                                  {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "detaching")}} +
                               repeat("DescribeTmpSnapshots", 2, tmp_snapshot("tmpsnap-old", "available")) + CLEARED + MADE,
       new_tmp_snapshot, "ok tmpsnap-new", TRY + "1, msg: " + RESIDUE + ".\n", {2, 1}},
      // A later attempt without an answer must not act on the earlier refusal's text.
      {"unanswered retry", REFUSAL + CLEARED + Script{{"CreateTmpSnapshots", unreachable()}}, new_tmp_snapshot, "failed", TRY + "2, msg: .\n", {1}},
      {"three refusals", REFUSAL + CLEARED + REFUSAL + CLEARED + REFUSAL + CLEARED, new_tmp_snapshot, "failed",
       TRY + "3, msg: " + RESIDUE + ".\n", {1, 1, 1}},
      {"busy", {{"CreateTmpSnapshots", refused("Volume vol-1 is busy")}}, new_tmp_snapshot, "failed", NO_INFO},
      {"no refusal text", {{"CreateTmpSnapshots", refused("")}}, new_tmp_snapshot, "failed", NO_INFO},
      {"no comma", {{"CreateTmpSnapshots", refused("Volume vol-1 already has tmp snapshot tmpsnap-old")}}, new_tmp_snapshot, "failed",
       "Failed to parse tmp snapshot id from error msg, exit.\n"},
      {"residue not found", {{"CreateTmpSnapshots", refused(RESIDUE)}, {"DescribeTmpSnapshots", NO_TMP}}, new_tmp_snapshot, "failed",
       "Failed to create tmp snapshot for volume vol-1 due to non-residual tmp snapshot issue, exit.\n", {},
       "CreateTmpSnapshots(VolumeId.1=vol-1) DescribeTmpSnapshots(TmpSnapshotId.1=tmpsnap-old)"},
      // A snapshot of another volume is never touched.
      {"residue of another volume", {{"CreateTmpSnapshots", refused(RESIDUE)},
                                     {"DescribeTmpSnapshots", tmp_snapshot("tmpsnap-old", "attached", "vol-2", "i-db")}},
       new_tmp_snapshot, "failed", "belongs to volume vol-2"},
      {"residue will not detach", {{"CreateTmpSnapshots", refused(RESIDUE)}, {"DescribeTmpSnapshots", OLD_ATTACHED},
                                   {"DetachTmpSnapshot", refused("in use")}},
       new_tmp_snapshot, "failed", "Failed to detach residual tmp snapshot tmpsnap-old for volume vol-1, exit.\n"},
      // Clearing a snapshot the cloud does not list returns at once; one it keeps refusing
      // to delete is given up after six minutes.
      {"clear missing", {{"DescribeTmpSnapshots", NO_TMP}}, clear, "ok", "Failed to query tmp snapshot t-x, tmp snapshot size not 1, size is 0.\n"},
      {"clear refused", {}, clear, "failed", "Clear tmp snapshot t-x timeout.\n", {1, 2, 4, 8, 16, 32, 60, 60, 60, 60, 57}, "",
       [](const Sent& s) { return s.action == "DescribeTmpSnapshots" ? tmp_snapshot("t-x", "deleting") : refused("still deleting"); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Sleep_Recorder sleeps;
    log.clear();
    cloud.forget_sent();
    cloud.expect_all(row.script);
    cloud.respond(row.rest);
    EXPECT_EQ(row.want, row.call(client));
    EXPECT_EQ(row.logged.empty() ? 0u : 1u, log.count(row.logged.empty() ? "\n" : row.logged)) << log.text();
    EXPECT_EQ(!row.logged.empty() && row.level == LM_ERROR, log.contains("", LM_ERROR)) << log.text();
    EXPECT_TRUE(row.logged.empty() || log.contains(row.logged, row.level)) << log.text();
    EXPECT_EQ(row.waits, sleeps.waits());
    EXPECT_EQ(row.sent, row.sent.empty() ? "" : cloud.sent_text());
  }
}

// The second attachment, started while the first one waits, must wait for the lock and
// then see the first one's device: vdc and vdd, never vdc twice. The cloud keeps the
// attachments: a new one shows "attaching" at its first poll, "attached" from the second,
// and is listed among the instance's volumes only once a poll saw it attached.
TEST_F(Scripted_Client_Test, Concurrent_Attachments_Choose_Distinct_Devices) {
  std::mutex m;
  std::map<std::string, std::pair<std::string, int>> attached{{"vol-root", {"/dev/vda", 2}}, {"vol-data", {"/dev/vdb", 2}}};
  cloud.respond([&](const Sent& s) {
    std::lock_guard<std::mutex> lock(m);
    std::map<std::string, std::string> p(s.params.begin(), s.params.end());
    if (s.action == "AttachVolume") attached[p["VolumeId"]] = {p["Device"], 0};
    std::vector<std::string> items;
    for (auto& v : attached) {
      const bool polled = p["Filter.1.Name"] == "volume-id" && v.first == p["Filter.1.Value.1"];
      if (polled) ++v.second.second;
      if (polled || (p["Filter.1.Name"] == "attachment.instance-id" && v.second.second > 1)) {
        items.push_back(volume_item(v.first, "in-use", "i-agent", v.second.first, v.second.second > 1 ? "attached" : "attaching"));
      }
    }
    return s.action == "AttachVolume" ? ok("AttachVolume") : volumes(items);
  });
  std::condition_variable cv;
  std::thread::id first_id;
  bool first_waiting = false;
  // Holds the first attachment in its wait: the second one gets the chance to run into
  // the first one's choice; with the lock it cannot, and this waits the short while in vain.
  Sleep_Recorder held([&](size_t) {
    std::unique_lock<std::mutex> lock(m);
    if (first_waiting || std::this_thread::get_id() != first_id) return;
    first_waiting = true;
    cv.notify_all();
    cv.wait_for(lock, std::chrono::milliseconds(200));
  });
  RESTful_Client second_client;
  cloud.login(second_client);
  std::string devices[2];
  bool ok[2] = {false, false};
  std::unique_lock<std::mutex> lock(m);
  std::thread first([&] { ok[0] = client.attach_volume_to_agent("i-agent", "vol-a", devices[0]); });
  first_id = first.get_id();
  EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return first_waiting; }));
  lock.unlock();
  std::thread second([&] { ok[1] = second_client.attach_volume_to_agent("i-agent", "vol-b", devices[1]); });
  first.join();
  second.join();
  EXPECT_EQ("ok ok /dev/vdc /dev/vdd", say({yes(ok[0]), yes(ok[1]), devices[0], devices[1]}));
}

}  // namespace
