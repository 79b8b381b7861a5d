#include "tavrocloud/job/instance_restore_handler.h"

#include "json/json_load.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"
#include "test_pool.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavrocloud::Instance_Restore_Handler;
using tavrocloud::Restore_Params;
using tavrocloud::Restore_Source_Entry;
using tavrocloud::Volume_Restore_Info;
using test::ok;

Job_var make_job() {
  Job_Definition_var def(new Job_Definition);
  def->set_id("restore-handler");
  def->set_type(JOB_DEFINITION_RESTORE);
  return Job_var(new Job(def));
}

Backup_Piece piece(const std::string& vol, const std::string& path, const std::string& attrs) {
  Backup_Piece p;
  p.object = vol;
  p.path = path;
  p.size = 3ULL << 30;
  p.extended_attrs = JSON_Load(attrs).get_obj();
  return p;
}

// Two sets of an instance with a root volume "v-root" and a data volume "v-data".
std::vector<Tavro_Backup_Set> two_sets(const std::string& pool) {
  std::vector<Tavro_Backup_Set> sets(2);
  for (size_t n = 0; n < 2; ++n) {
    Tavro_Backup_Set& s = sets[n];
    s.uri = "cloud/def-" + std::to_string(n);
    if (!pool.empty()) s.storages.emplace_back(pool, 0, json_spirit::Object());
    s.instance_info.root_volume_id = "v-root";
    s.instance_info.storage_id = "st-1";
    s.instance_info.schedule_tag = "tag";
    for (const char* id : {"v-root", "v-data"}) {
      Tavro_Backup_Set::Volume v;
      v.id = id;
      v.device_name = std::string("/dev/") + (v.id == "v-root" ? "vda" : "vdb");
      s.volumes.push_back(v);
    }
  }
  // The first set records its block sizes; the last one has no attribute for the root
  // and an attribute without a size for the data volume.
  const char sized[] = R"({"Quillon3": {"block_set_size": 65536}})";
  sets[0].add_piece(piece("v-root", "r0", sized));
  sets[0].add_piece(piece("v-data", "d0", sized));
  sets[1].add_piece(piece("v-root", "r1", "{}"));
  sets[1].add_piece(piece("v-data", "d1", R"({"Quillon3": {}})"));
  sets[1].image_info.architecture = "aarch64";
  return sets;
}

Restore_Params params(bool vm) {
  Restore_Params p;
  p.restore_vm = vm;
  p.base.agent_instance_id = "i-agent";
  p.entry.instance_src_id = "i-src";
  p.entry.instance_tgt_name = "restored";
  p.entry.flavor.type = "m1";
  p.entry.target_node_id = "node-2";
  for (const char* id : {"v-data", "v-root"}) {
    Restore_Source_Entry::Volume v;
    v.id = id;
    v.size = 2;
    v.storage_id = "st-9";
    p.entry.volumes.push_back(v);
  }
  return p;
}

class Handler : public ::testing::Test {
 protected:
  // A handler on `p` whose steps talk to `cloud_`.
  std::unique_ptr<Instance_Restore_Handler> handler(const Restore_Params& p) {
    auto h = std::make_unique<Instance_Restore_Handler>(*job_, p);
    auto client = std::make_unique<tavrocloud::RESTful_Client>();
    cloud_.login(*client);
    h->set_client(std::move(client));
    return h;
  }
  test::Test_Pool pool_{"pool-h"};
  test::Scripted_Cloud cloud_;
  Job_var job_ = make_job();
};

// The entry takes defaults and the last set's tags; each volume lists the last set's
// piece first, with the block size recorded (0 where none was: the image's own is used).
TEST_F(Handler, CatalogGivesDefaultsVolumesAndPieceListsLastSetFirst) {
  Instance_Restore_Handler h(*job_, params(true));
  ASSERT_TRUE(h.parse_source_instance(two_sets("pool-h")));
  const Restore_Source_Entry& e = h.params().entry;
  EXPECT_EQ(e.architecture + e.diskbus + e.boot_loader + e.content_mode + e.image_type +
                e.attach_diskbus + e.storage_id + e.schedule_tag,
            "aarch64virtiombrqemu_rawvmvirtiost-1tag");
  std::string got;
  for (const auto& v : h.restore_volumes_list()) {
    got += (v->is_root ? "root " : "data ") + v->src_dev_name + ":";
    for (const auto& list : v->timepoint_piece_list)
      for (const auto& p : list) {
        got += " " + p.remote_path + "/" + std::to_string(p.block_size);
        EXPECT_EQ(p.pool.url, pool_.url() + "/cloud/def-" + p.remote_path.substr(1));
      }
    got += "; ";
  }
  EXPECT_EQ(got, "data /dev/vdb: d1/0 d0/65536; root /dev/vda: r1/3221225472 r0/65536; ");
}

TEST_F(Handler, CatalogRefusals) {
  using Sets = std::vector<Tavro_Backup_Set>;
  const struct {
    std::function<void(Restore_Params&, Sets&)> change;
    const char* log;
  } cases[] = {
      {[](Restore_Params& p, Sets&) { p.entry.volumes[0].id = "v-x"; }, "Failed to get volume v-x info from bset cloud/def-1"},
      {[](Restore_Params&, Sets& s) { s[0].storages.clear(); }, "Failed to get storage pool for bset cloud/def-0"},
      {[](Restore_Params& p, Sets&) { p.entry.volumes.pop_back(); }, "lacks its root volume v-root"},  // VM restore
      {[](Restore_Params& p, Sets&) { p.entry.volumes[0].size = 1ULL << 40; }, "Invalid size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    Restore_Params p = params(true);
    auto sets = two_sets("pool-h");
    c.change(p, sets);
    test::Log_Capture log;
    EXPECT_FALSE(Instance_Restore_Handler(*job_, p).parse_source_instance(sets));
    EXPECT_TRUE(log.contains(c.log)) << log.text();
  }
}

// Each volume is written list by list, last set first; a block in both lists ends with
// the later list's bytes. The image's block size wins over the one recorded.
TEST_F(Handler, TransferDataWritesEveryListInOrder) {
  const size_t block = 4096;
  pool_.write_image("old", std::string(3 * block, 'o'), block);
  pool_.write_image("new", std::string(2 * block, 'n'), 2 * block);
  const std::string device = pool_.path("device");
  auto list = [this](const char* path, uint64_t recorded) {
    Volume_Restore_Info::Piece piece;
    piece.pool.url = pool_.url();
    piece.remote_path = path;
    piece.block_size = recorded;
    return Volume_Restore_Info::Pieces{piece};
  };
  const struct {
    Volume_Restore_Info::Timepoint_Piece_List lists;
    std::string log;  // empty: the device ends as `want`
    std::string want;
  } cases[] = {
      {{list("new", 1ULL << 30), list("old", 65536)}, "", std::string(3 * block, 'o')},
      {{list("old", 4096), list("new", 8192)}, "", std::string(2 * block, 'n') + std::string(block, 'o')},
      {{}, "Timepoint piece list of volume v-1 is emtpy.", ""},
      {{list("old", 0)}, "Piece old of volume v-1 has block size 0.", ""},
      {{list("gone", 4096)}, "Failed to open storage pool " + pool_.url() + " remote file gone", ""},
  };
  for (const auto& c : cases) {
    std::ofstream(device, std::ios::binary) << std::string(3 * block, 'x');
    Volume_Restore_Info vol;
    vol.src_vol_id = "v-1";
    vol.attached_dev_name = device;
    vol.timepoint_piece_list = c.lists;
    test::Log_Capture log;
    Instance_Restore_Handler h(*job_, params(false));
    EXPECT_EQ(h.transfer_data(vol), c.log.empty()) << c.log << log.text();
    EXPECT_TRUE(c.log.empty() ? test::Test_Pool::read_file(device) == c.want : log.contains(c.log))
        << c.log << log.text();
  }
}

TEST_F(Handler, InstanceParametersAndNetworkInterfaceOrder) {
  Restore_Params p = params(true);
  p.entry.owner_id = "owner";
  p.entry.schedule_tag = "s";
  Restore_Source_Entry::NIC extend, main;
  extend.type = "extend";
  extend.subnet_id = "sub-e";
  extend.mac_op = tavrocloud::Net_Operation::SPECIFY;  // no address given: none sent
  extend.ip_op = tavrocloud::Net_Operation::AUTO;
  extend.ip_address = "10.0.0.9";                      // automatic: not sent
  main.type = "main";
  main.subnet_id = "sub-m";
  main.groups = {{"sg-1", "a"}, {"sg-2", "b"}};
  main.mac_op = main.ip_op = tavrocloud::Net_Operation::RESERVE;
  main.mac_address = "52:54:00:00:00:01";
  main.ip_address = "10.0.0.5";
  p.entry.nics = {extend, main};
  auto h = handler(p);
  auto nif = [](const std::string& id) {
    return ok("CreateNetworkInterface", test::fields({{"networkInterfaceId", id}}));
  };
  cloud_.expect("CreateNetworkInterface", nif("eni-m")).expect("CreateNetworkInterface", nif("eni-e"));
  test::Params out;
  ASSERT_TRUE(h->build_instance_params("vol-r", 20, "st-1", "/dev/vda", out));

  const auto sent = cloud_.sent();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].params, (test::Params{{"SubnetId", "sub-m"}, {"SecurityGroupId.1", "sg-1"},
                                          {"SecurityGroupId.2", "sg-2"},
                                          {"MacAddress", "52:54:00:00:00:01"},
                                          {"privateIpAddress", "10.0.0.5"}}));
  EXPECT_EQ(sent[1].params, (test::Params{{"SubnetId", "sub-e"}}));
  EXPECT_EQ(test::Params(out.begin() + 10, out.begin() + 14),
            (test::Params{{"NetworkInterface.1.NetworkInterfaceId", "eni-m"},
                          {"NetworkInterface.1.AssociatePublicIpAddress", "true"},
                          {"NetworkInterface.2.NetworkInterfaceId", "eni-e"},
                          {"NetworkInterface.2.AssociatePublicIpAddress", "true"}}));
}

// Clean-up after a failed run: an instance it created is terminated and waited for
// before the data volume (detached from the agent first) and the interface go, and the
// consumed root volume goes with the instance. An instance it did not create (a
// RunInstances answer naming the agent or the entry's target) is never terminated, and
// a refused deletion is tried again without stopping the rest.
TEST_F(Handler, FailureCleanUpUndoesOnlyWhatItMadeInOrder) {
  // The first deletion is refused and tried again.
  const std::string data =
      "DetachVolume:vol-d DescribeVolumes:vol-d DeleteVolume:vol-d DeleteVolume:vol-d ";
  const std::string ours = data + "DeleteVolume:vol-r DeleteNetworkInterface:eni-1 ";
  const struct {
    const char* created;  // the RunInstances answer; empty: no instance was asked for
    std::string actions;
  } cases[] = {
      {"i-new", "TerminateInstances:i-new DescribeInstances:i-new " + data + "DeleteNetworkInterface:eni-1 "},
      {"i-agent", ours},
      {"i-target", ours},
      {"", data + "DeleteVolume:vol-r "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.created);
    Restore_Params p = params(*c.created != '\0');
    p.base.support_tmp_snapshot = true;
    p.entry.instance_tgt_id = "i-target";
    p.entry.nics.resize(1);
    auto h = handler(p);
    ASSERT_TRUE(h->parse_source_instance(two_sets("pool-h")));
    Volume_Restore_Info& data = *h->restore_volumes_list()[0];
    Volume_Restore_Info& root = *h->restore_volumes_list()[1];
    data.created_vol_id = "vol-d";
    data.attached_instance_id = "i-agent";
    data.dev_name = "/dev/vdc";
    root.created_vol_id = "vol-r";
    bool terminated = false, busy = true;
    cloud_.respond([&](const test::Sent& s) {
      const std::string& a = s.action;
      if (a == "CreateNetworkInterface") return ok(a, test::fields({{"networkInterfaceId", "eni-1"}}));
      if (a == "RunInstances") return ok(a, test::fields({{"instanceId", c.created}}));
      if (a == "DescribeInstances") return test::instance(c.created, terminated ? "terminated" : "error");
      if (a == "TerminateInstances" && (terminated = true))
        return ok(a, "<currentState><name>shutting-down</name></currentState>");
      if (a == "DetachVolume") return ok(a, test::fields({{"status", "detaching"}}));
      if (a == "DescribeVolumes") return test::volume("vol-d", "available");
      if (a == "DeleteVolume" && std::exchange(busy, false)) return test::refused("busy");
      return test::result(a);
    });
    if (*c.created != '\0') {
      EXPECT_FALSE(h->create_instance(root));
      EXPECT_EQ(h->params().entry.instance_tgt_id, "i-target");
    }
    cloud_.forget_sent();
    test::Sleep_Recorder sleeps;
    EXPECT_TRUE(h->clean_up_when_failed());
    std::string actions;
    for (const auto& s : cloud_.sent()) actions += s.action + ":" + s.params.back().second + " ";
    EXPECT_EQ(actions, c.actions);
  }
}

}  // namespace
