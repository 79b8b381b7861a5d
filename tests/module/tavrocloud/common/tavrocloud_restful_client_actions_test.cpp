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
namespace js = json_spirit;
using tc::RESTful_Client;
using namespace test;
using C = RESTful_Client;

// The words joined, empty ones left out.
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
// " slept" and the seconds of each wait, a run of n equal ones as "60xn"; "" without waits.
std::string slept(const std::vector<unsigned int>& waits) {
  std::string out;
  for (size_t i = 0, n = 1; i < waits.size(); i += n) {
    for (n = 1; i + n < waits.size() && waits[i + n] == waits[i];) ++n;
    out += " " + std::to_string(waits[i]) + (n > 1 ? "x" + std::to_string(n) : "");
  }
  return out.empty() ? "" : " slept" + out;
}

Script repeat(const Answer& step, int n) { return Script(n, step); }
Script operator+(Script a, const Script& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Answer refuse(const std::string& action, const std::string& message = "boom") {
  return as(action, refused(message));
}
Answer one(const std::string& action, const std::string& set, const std::string& inner) {
  return listing(action, set, {item(inner)});
}
Answer snapshot(const std::string& id, const std::string& status) {
  return one("DescribeSnapshots", "snapshotSet", fields({{"snapshotId", id}, {"status", status}}));
}
// The volume vol-1 in `status` on `node`.
Answer on_node(const std::string& status, const std::string& node) {
  return volume("vol-1", status, "", "", "", node);
}
Answer detail(const std::string& inner) {
  return instances({item(fields({{"instanceId", "i-1"}, {"instanceType", "t1"}}) + inner)});
}

const std::string RESIDUE =
    "Volume vol-1 already has tmp snapshot tmpsnap-old, please delete it first";
const std::string TRY = "Failed to create tmp snapshot for volume vol-1, try count ";
const std::string NO_VOLUME = ", volumes size not 1, size is 0.\n";
const Answer TYPE = one("DescribeInstanceTypes", "instanceTypeSet",
                        fields({{"instanceType", "t1"}, {"cpu", "4"}}));
const Answer NEW_VOLUME = ok("CreateVolume", fields({{"volumeId", "vol-9"}}));
const Answer NEW_SNAPSHOT = ok("CreateSnapshot", fields({{"snapshotId", "snap-9"}}));
const Answer NEW_INSTANCE = ok("RunInstances", fields({{"instanceId", "new"}}));
const Answer NOT_FOUND =
    as("DescribeVolumes", {400, "<Response><Errors><Error><Code>InvalidVolume.NotFound</Code>"
                                "<Message>no such volume</Message></Error></Errors></Response>"});
const Answer NO_TMP = listing("DescribeTmpSnapshots", "tmpSnapshotSet", {});
const Answer OLD_ATTACHED = tmp_snapshot("tmpsnap-old", "attached", "vol-1", "i-agent");
const Answer STUCK = volume("vol-new", "available", "i-agent", "/dev/vdb", "attaching");
const Script PAGES = {instances({instance_item("i-1", "running")}, "tok-a"),
                      instances({instance_item("i-2", "running")}, "tok-b")};
const Script ATTACH = {volume("vol-1", "in-use", "i-agent", "/dev/vda", "attached"),
                       ok("AttachVolume")};
// A residue refused the creation; a clearing that finds it gone at its second look; a success.
const Script REFUSAL = {refuse("CreateTmpSnapshots", RESIDUE),
                        tmp_snapshot("tmpsnap-old", "available"),
                        tmp_snapshot("tmpsnap-old", "available")};
const Script CLEARED = {result("DeleteTmpSnapshots"), NO_TMP};
const Script MADE = {one("CreateTmpSnapshots", "tmpSnapshotSet",
                         fields({{"tmpSnapshotId", "tmpsnap-new"}})),
                     tmp_snapshot("tmpsnap-new", "available")};

// What a call fills in; shown after its verdict, the empty fields left out.
struct Out {
  std::string text;
  bool accepted = false;
  tc::Volume volume;
  tc::Instance instance;
  tc::Instances list;
  tc::Snapshot snapshot;
  tc::Tmp_Snapshot tmp;
};
std::string show(bool ok, const Out& o) {
  const int cpu = o.instance.instance_type.cpu;
  return say({ok ? "ok" : "failed", o.text, o.accepted ? "accepted" : "", o.volume.id,
              o.instance.id, cpu ? std::to_string(cpu) : "", ids(o.list), o.snapshot.id, o.tmp.id});
}

bool new_volume(C& c, Out& o) { return c.create_volume("v", "z", "st-1", 1, "", o.volume); }
bool new_instance(C& c, Out& o) { return c.create_instance({}, o.instance); }
bool new_tmp_snapshot(C& c, Out& o) { return c.create_tmp_snapshot("vol-1", o.tmp); }
bool clear(C& c, Out&) { return c.clear_tmp_snapshot("t-x"); }
bool query_detail(C& c, Out& o) { return c.query_instance_detail("i-1", o.instance); }
bool attach(C& c, Out& o) {
  o.text = "untouched";
  return c.attach_volume_to_agent("i-agent", "vol-new", o.text, &o.accepted);
}
// The queries that must leave the caller's record when they fail.
bool query_want(C& c, Out& o) {
  o.volume.id = "before";
  return c.query_volume("want", o.volume);
}
// One cluster, node, storage or instance asked for by a caller that tells an object the
// cloud does not have from a cloud that could not answer: what the query met, in `o.text`.
template <typename Record>
bool look_up(bool (C::*query)(const std::string&, Record&, tc::Lookup*), const char* id, C& c,
             Out& o) {
  Record record;
  tc::Lookup lookup;
  lookup.reason = "stale";  // the query says what it met, whatever the caller held before
  const bool ok = (c.*query)(id, record, &lookup);
  const char* words[] = {"found", "not found", "failed"};
  o.text = words[lookup.answer] + (lookup.reason.empty() ? "" : ": " + lookup.reason);
  return ok;
}
bool cluster(C& c, Out& o) { return look_up(&C::query_cluster, "c-1", c, o); }
bool node(C& c, Out& o) { return look_up(&C::query_node, "n-1", c, o); }
bool storage(C& c, Out& o) { return look_up(&C::query_storage, "st-1", c, o); }
bool one_instance(C& c, Out& o) {
  return look_up<tc::Instance>(&C::query_instance, "i-1", c, o);
}

// The caller's list is replaced, not appended to.
bool node_instances(C& c, Out& o) {
  o.list.resize(1);
  o.list[0].id = "before";
  return c.query_node_instances("n-1", o.list);
}
bool storage_instances(C& c, Out& o) {
  o.list = {tc::Instance()};
  o.list[0].id = "already";
  return c.query_storage_instances("st-9", o.list) && c.query_storage_instances("st-1", o.list);
}

struct Row {
  const char* name;
  Script script;
  std::function<bool(C&, Out&)> call;
  std::string want;         // show(), then slept()
  std::string logged = "";  // logged exactly once, as an error; "": no error logged
  std::string sent = "";                // when given: every request, as sent_text()
  Scripted_Cloud::Responder rest = {};  // answers the requests past the script
};

TEST_F(Scripted_Client_Test, Operations) {
  const js::Value root(js::Object{{"disk_bus", js::Value("virtio")}, {"boot", js::Value(1)}});
  const Row rows[] = {
      // What is sent: optional, numbered and JSON parameters.
      {"interface by MAC", {ok("CreateNetworkInterface", fields({{"networkInterfaceId", "e-9"}}))},
       [](C& c, Out& o) { return c.create_network_interface("s-1", {}, "52:54", "", o.text); },
       "ok e-9", "", "CreateNetworkInterface(SubnetId=s-1 MacAddress=52:54)"},
      {"root snapshot", {NEW_SNAPSHOT, snapshot("snap-9", "completed")},
       [&root](C& c, Out& o) { return c.create_snapshot("vol-1", "s", root, o.snapshot); },
       "ok snap-9", "",
       R"(CreateSnapshot(VolumeId=vol-1 SnapshotName=s IsRoot=true RootInfo={"boot":1,)"
       R"("disk_bus":"virtio"}) DescribeSnapshots(InstanceSnapshotId.1=snap-9))"},
      // A failed listing keeps the pages before.
      {"page refused", PAGES + Script{refuse("DescribeInstances", "token expired")},
       node_instances, "failed i-1 i-2",
       "Failed to query items by next token:tok-b, for action:DescribeInstances.\n"},
      // A single-record query needs exactly one record, and leaves the caller's otherwise.
      {"two volumes", {volumes({volume_item("x", "available"), volume_item("y", "available")})},
       query_want, "failed before",
       "Failed to query volume want, volumes size not 1, size is 2.\n"},
      // A single cluster, node, storage or instance is found, not found (no record, or
      // the cloud's "...NotFound"), or the query failed, with the cloud's reason.
      {"cluster found", {one("DescribeClusters", "clusterSet", fields({{"clusterId", "c-1"}}))},
       cluster, "ok found", "", "DescribeClusters(clusterId=c-1)"},
      {"cluster not found", {listing("DescribeClusters", "clusterSet", {})}, cluster,
       "failed not found", "Failed to query cluster c-1, clusters size not 1, size is 0.\n"},
      {"node not found",
       {as("DescribeNodes", {400, "<Response><Errors><Error><Code>InvalidNode.NotFound</Code>"
                                  "<Message>no such node</Message></Error></Errors></Response>"})},
       node, "failed not found", "Failed to query node n-1, msg: no such node.\n"},
      {"node failed", {refuse("DescribeNodes", "node service down")}, node,
       "failed failed: node service down", "Failed to query node n-1, msg: node service down.\n",
       "DescribeNodes(NodeId=n-1)"},
      {"storage found",
       {listing("DescribeStorages", "storageSet", {item(fields({{"storageId", "st-9"}})),
                                                   item(fields({{"storageId", "st-1"}}))})},
       storage, "ok found"},
      {"storage not found", {listing("DescribeStorages", "storageSet", {})}, storage,
       "failed not found"},
      {"storage failed", {refuse("DescribeStorages", "storage service down")}, storage,
       "failed failed: storage service down",
       "Failed to query storages, msg: storage service down.\n"},
      {"instance found", {instance("i-1", "running")}, one_instance, "ok found"},
      {"instance unreachable", {as("DescribeInstances", unreachable())}, one_instance,
       "failed failed: the cloud could not be reached",
       "Failed to query instance i-1, msg: the cloud could not be reached.\n",
       "DescribeInstances(Filter.1.Name=instance-id Filter.1.Value.1=i-1)"},
      {"two instances for one id",
       {instances({instance_item("i-1", "running"), instance_item("i-1", "stopped")})},
       one_instance, "failed failed: 2 records for the one id",
       "Failed to query instance i-1, instances size not 1, size is 2.\n"},
      // No instance of a name is no error.
      {"no instance named", {instances({})},
       [](C& c, Out& o) { return c.query_instances_by_name("web", o.list); }, "failed"},
      // A storage's instances are appended.
      {"storage instances",
       repeat(instances({instance_item("i-1", "running", "st-1"),
                         instance_item("i-2", "running", "st-2"),
                         instance_item("i-3", "stopped", "st-1")}), 2),
       storage_instances, "ok already i-1 i-3"},
      // An instance's detail survives a deleted image but stops at the first failed volume.
      {"image gone",
       {detail(fields({{"imageId", "img-gone"}})), TYPE, ok("DescribeImages", "<imagesSet/>")},
       query_detail, "ok i-1 4", "Failed to query tavro image img-gone.\n"},
      {"volume gone",
       {detail("<blockDeviceMapping>" + item("<ebs><volumeId>vol-1</volumeId></ebs>") +
               item("<ebs><volumeId>vol-2</volumeId></ebs>") + "</blockDeviceMapping>"),
        TYPE, volumes({})},
       query_detail, "failed i-1 4", "Failed to query volume vol-1" + NO_VOLUME},
      // A create whose wait fails still hands the new id over, for the caller to clean up.
      {"run unconfirmed", {NEW_INSTANCE, as("DescribeInstances", refused("x", 500))},
       new_instance, "failed new", "Failed to query instance new, msg: x.\n"},
      // A volume moving to another node is waited for until it is there, whatever its state.
      {"moved", {result("ModifyVolumeStorage"), on_node("error", "n-1"), on_node("creating", "n-1"),
                 on_node("in-use", "n-1"), on_node("error", "n-2")},
       [](C& c, Out&) { return c.modify_volume_storage("vol-1", "st-2", "n-2"); },
       "ok slept 2 4 8"},
      // Any status but the target and the one transitional state ends a wait at once.
      {"snapshot complete", {NEW_SNAPSHOT, snapshot("snap-9", "complete")},
       [](C& c, Out& o) { return c.create_snapshot("v", "n", o.snapshot); }, "failed snap-9",
       "Invalid resource status:16.\n"},
      // A new resource the cloud does not list yet, each way a cloud says so, is polled for
      // 30 seconds, then fails with the query's own message.
      {"instance never listed", Script{NEW_INSTANCE} + repeat(instances({}), 5), new_instance,
       "failed new slept 2 4 8 16",
       "Failed to query instance new, instances size not 1, size is 0.\n"},
      {"volume never listed", Script{NEW_VOLUME} + repeat(NOT_FOUND, 5), new_volume,
       "failed vol-9 slept 2 4 8 16", "Failed to query volume vol-9, msg: no such volume.\n"},
      // An attachment to the agent: the device after the instance's last one, then a wait
      // that reads each poll.
      {"agent has no volumes", {volumes({})}, attach, "failed untouched"},
      {"attaching",
       ATTACH + Script{volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attaching"),
                       volume("vol-new", "available", "", "", "attaching"),
                       volume("vol-new", "in-use", "", "", "detached"),
                       volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attached")},
       attach, "ok /dev/vdb accepted slept 2 4 8"},
      {"detached again", ATTACH + Script{volume("vol-new", "available", "", "", "detached")},
       attach, "failed /dev/vdb accepted",
       "Unexpected volume vol-new status 3, attachment status 6.\n"},
      {"attached elsewhere",
       ATTACH + Script{volume("vol-new", "in-use", "i-other", "/dev/vdb", "attached")}, attach,
       "failed /dev/vdb accepted",
       "Volume vol-new is attached to instance i-other, not to i-agent.\n"},
      {"attached volume vanished", ATTACH + Script{volumes({})}, attach, "failed /dev/vdb accepted",
       "Failed to query volume vol-new" + NO_VOLUME},
      // Waits poll at once, then back off from 2 to 60 seconds, the last cut to the deadline.
      {"attach stuck", ATTACH, attach, "failed /dev/vdb accepted slept 2 4 8 16 32 60x28 58",
       "Wait attach volume vol-new be target timeout.\n", "", [](const Sent&) { return STUCK; }},
      // A temporary snapshot refused for a residue of its volume (the id read from the
      // refusal up to the first comma) removes it, detaching it first, and tries again
      // (three times); anything else ends the creation at once.
      {"available residue", REFUSAL + CLEARED + MADE, new_tmp_snapshot, "ok tmpsnap-new slept 1",
       TRY + "1, msg: " + RESIDUE + ".\n"},
      {"attached residue",
       Script{refuse("CreateTmpSnapshots", RESIDUE), OLD_ATTACHED, result("DetachTmpSnapshot"),
              tmp_snapshot("tmpsnap-old", "detaching")} +
           repeat(tmp_snapshot("tmpsnap-old", "available"), 2) + CLEARED + MADE,
       new_tmp_snapshot, "ok tmpsnap-new slept 2 1", TRY + "1, msg: " + RESIDUE + ".\n"},
      // A later attempt without an answer must not act on the earlier refusal's text.
      {"unanswered retry", REFUSAL + CLEARED + Script{as("CreateTmpSnapshots", unreachable())},
       new_tmp_snapshot, "failed slept 1", TRY + "2, msg: the cloud could not be reached.\n"},
      {"three refusals", REFUSAL + CLEARED + REFUSAL + CLEARED + REFUSAL + CLEARED,
       new_tmp_snapshot, "failed slept 1x3", TRY + "3, msg: " + RESIDUE + ".\n"},
      {"busy", {refuse("CreateTmpSnapshots", "Volume vol-1 is busy")}, new_tmp_snapshot, "failed",
       "Failed to create tmp snapshot for volume vol-1, rsp don't contain tmpsnap info, exit.\n"},
      {"no comma", {refuse("CreateTmpSnapshots", RESIDUE.substr(0, RESIDUE.find(',')))},
       new_tmp_snapshot, "failed", "Failed to parse tmp snapshot id from error msg, exit.\n"},
      {"residue not found", {refuse("CreateTmpSnapshots", RESIDUE), NO_TMP}, new_tmp_snapshot,
       "failed",
       "Failed to create tmp snapshot for volume vol-1 due to non-residual tmp snapshot issue, "
       "exit.\n",
       "CreateTmpSnapshots(VolumeId.1=vol-1) DescribeTmpSnapshots(TmpSnapshotId.1=tmpsnap-old)"},
      // A snapshot of another volume is never touched.
      {"residue of another volume",
       {refuse("CreateTmpSnapshots", RESIDUE),
        tmp_snapshot("tmpsnap-old", "attached", "vol-2", "i-db")},
       new_tmp_snapshot, "failed", "belongs to volume vol-2"},
      {"residue will not detach",
       {refuse("CreateTmpSnapshots", RESIDUE), OLD_ATTACHED, refuse("DetachTmpSnapshot")},
       new_tmp_snapshot, "failed",
       "Failed to detach residual tmp snapshot tmpsnap-old for volume vol-1, exit.\n"},
      // Clearing a snapshot the cloud does not list returns at once; one it keeps refusing
      // to delete is given up after six minutes.
      {"clear missing", {NO_TMP}, clear, "ok",
       "Failed to query tmp snapshot t-x, tmp snapshot size not 1, size is 0.\n"},
      {"clear refused", {}, clear, "failed slept 1 2 4 8 16 32 60x4 57",
       "Clear tmp snapshot t-x timeout.\n", "",
       [](const Sent& s) {
         return s.action == "DescribeTmpSnapshots" ? tmp_snapshot("t-x", "deleting")
                                                   : refused("still deleting");
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Sleep_Recorder sleeps;
    log.clear();
    cloud.forget_sent();
    cloud.expect_all(row.script);
    cloud.respond(row.rest);
    Out out;
    const bool ok = row.call(client, out);
    EXPECT_EQ(row.want, show(ok, out) + slept(sleeps.waits()));
    const bool once = log.count(row.logged) == 1 && log.contains(row.logged, LM_ERROR);
    EXPECT_TRUE(row.logged.empty() ? !log.contains("", LM_ERROR) : once) << log.text();
    EXPECT_EQ(row.sent, row.sent.empty() ? "" : cloud.sent_text());
  }
}

// The second attachment, started while the first one waits, must wait for the lock and
// then see the first one's device: vdc and vdd, never vdc twice. The cloud keeps the
// attachments: a new one shows "attaching" at its first poll, "attached" from the second,
// and is listed among the instance's volumes only once a poll saw it attached.
TEST_F(Scripted_Client_Test, Concurrent_Attachments_Choose_Distinct_Devices) {
  std::mutex m;
  std::map<std::string, std::pair<std::string, int>> attached{{"vol-root", {"/dev/vda", 2}},
                                                              {"vol-data", {"/dev/vdb", 2}}};
  cloud.respond([&](const Sent& s) {
    std::lock_guard<std::mutex> lock(m);
    std::map<std::string, std::string> p(s.params.begin(), s.params.end());
    if (s.action == "AttachVolume") attached[p["VolumeId"]] = {p["Device"], 0};
    std::vector<std::string> items;
    for (auto& v : attached) {
      const bool polled = p["Filter.1.Name"] == "volume-id" && v.first == p["Filter.1.Value.1"];
      if (polled) ++v.second.second;
      const bool seen = v.second.second > 1;
      if (polled || (p["Filter.1.Name"] == "attachment.instance-id" && seen)) {
        items.push_back(volume_item(v.first, "in-use", "i-agent", v.second.first,
                                    seen ? "attached" : "attaching"));
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
  std::thread second(
      [&] { ok[1] = second_client.attach_volume_to_agent("i-agent", "vol-b", devices[1]); });
  first.join();
  second.join();
  EXPECT_EQ("ok ok /dev/vdc /dev/vdd",
            say({show(ok[0], {}), show(ok[1], {}), devices[0], devices[1]}));
}

}  // namespace
