#include "tavrocloud/job/instance_restore_handler.h"
#include "tavrocloud/job/volume_reader.h"

#include "fixtures.h"
#include "host/catalog/sample_sets.h"
#include "host/pool/pool_test_env.h"
#include "module/tavrocloud/common/scripted_cloud.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using tavrocloud::Instance_Restore_Handler;
using tavrocloud::Restore_Params;
using tavrocloud::Volume_Restore_Info;
using test::ok;
using Sets = std::vector<Tavro_Backup_Set>;

// Two sets of an instance with a root volume "v-root" and a data volume "v-data". The
// first set records its block sizes; the last one has no attribute for the root and an
// attribute without a size for the data volume.
Sets two_sets() {
  Sets sets(2);
  const char sized[] = R"({"Quillon3": {"block_set_size": 65536}})";
  const char* const attrs[2][2] = {{sized, sized}, {"{}", R"({"Quillon3": {}})"}};
  for (size_t n = 0; n < 2; ++n) {
    Tavro_Backup_Set& s = sets[n];
    s.uri = "cloud/def-" + std::to_string(n);
    s.storages.emplace_back("pool-h", 0, json_spirit::Object());
    s.instance_info.root_volume_id = "v-root";
    s.instance_info.storage_id = "st-1";
    s.instance_info.schedule_tag = "tag";
    for (const char* id : {"v-root", "v-data"}) {
      s.volumes.emplace_back();
      s.volumes.back().id = id;
      s.volumes.back().device_name = id[2] == 'r' ? "/dev/vda" : "/dev/vdb";
      Backup_Piece p;
      p.object = id;
      p.path = std::string(1, id[2]) + std::to_string(n);
      p.size = 3ULL << 30;
      p.extended_attrs = json_spirit::JSON_Load(attrs[n][id[2] == 'd']).get_obj();
      s.add_piece(p);
    }
  }
  sets[1].image_info.architecture = "aarch64";
  return sets;
}

// An interface of the entry, up to its subnet's id.
const std::string NIC = R"({"vpc_id": "v", "vpc_name": "v", "subnet_name": "s", "subnet_id": )";
const char CREATE_NIC[] = "CreateNetworkInterface";

// The cloud's answer to CreateNetworkInterface, naming the interface `id`.
test::Answer made_nic(const char* id) {
  return ok(CREATE_NIC, test::fields({{"networkInterfaceId", id}}));
}

// Parameters of a restore of "i-src" as "restored" on node-2, with `nics`.
Restore_Params params(bool vm, const std::string& nics = "") {
  Restore_Params p;
  p.restore_vm = vm;
  p.base.agent_instance_id = "i-agent";
  const std::string volume = R"("size": 2, "storage_id": "st-9", "storage_type": "t"})";
  EXPECT_TRUE(p.entry.load(json_spirit::JSON_Load(R"({"catalog_uuid": "c", "backup_start_time": "t",
      "src_instance_id": "i-src", "src_instance_name": "n", "target_instance_name": "restored",
      "target_node_id": "node-2", "owner_id": "owner",
      "flavor": {"type": "m1", "display_name": "M", "cpu": 1, "ram": 1},
      "volumes": [{"id": "v-data", "name": "d", )" + volume +
      R"(, {"id": "v-root", "name": "r", )" + volume + R"(], "nic": [)" + nics + "]}")));
  return p;
}

// A restore of i-src from the set the catalog holds of it (committed here: source
// "res-r", time point 20240501120000), its root volume read from "pool-h", in the job
// "restore-handler".
Restore_Params catalogued(bool vm) {
  EXPECT_TRUE(RESTful_Catalog_Operator("localhost", 0, false, "", -1, 0)
                  .commit(test::sample_set("set-r", "res-r", "i-src", 1714564800), true));
  Restore_Params p = params(vm);
  p.base.def_id = "restore-handler";
  p.base.resource_uuid = "res-r";
  p.base.pool_uuid = "pool-h";
  p.entry.backup_start_time = "20240501120000";
  p.entry.volumes.resize(1);
  p.entry.volumes[0].id = "vol-root";
  return p;
}

// The pages of the file at `path` that its cache holds and its disk does not yet; -1
// where the kernel cannot tell (cachestat came with Linux 6.5).
long long unwritten_pages(const std::string& path) {
  struct {
    uint64_t offset, length;  // 0, 0: the whole file
  } range{0, 0};
  struct {
    uint64_t cached, dirty, writeback, evicted, recently_evicted;
  } stat{};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const long done = fd < 0 ? -1 : ::syscall(451 /* cachestat */, fd, &range, &stat, 0);
  if (fd >= 0) ::close(fd);
  return done == 0 ? static_cast<long long>(stat.dirty + stat.writeback) : -1;
}

// Why unwritten_pages() cannot tell whether a file beside `probe` reached its disk; empty
// when it can, having seen the page a plain write of `probe` left unwritten.
std::string unwritten_pages_unseen(const std::string& probe) {
  std::ofstream(probe, std::ios::binary) << std::string(4096, 'p') << std::flush;
  const long long pages = unwritten_pages(probe);
  ::unlink(probe.c_str());
  if (pages < 0) return "the kernel cannot count a file's unwritten pages (cachestat)";
  if (pages == 0) return "a file just written at " + probe + " shows no unwritten page (tmpfs?)";
  return "";
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
  // The requests sent: each action with all its parameters, or with its last one's value.
  std::string sent(bool all) const {
    std::string out;
    for (const auto& s : cloud_.sent()) {
      out += s.action;
      for (size_t i = all ? 0 : s.params.size() - 1; i < s.params.size(); ++i)
        out += (all ? "," + s.params[i].first + "=" : ":") + s.params[i].second;
      out += " ";
    }
    return out;
  }
  test::Test_Pool pool_{"pool-h"};
  test::Scripted_Cloud cloud_;
  Job_var job_ = test::make_job("restore-handler", JOB_DEFINITION_RESTORE);
};

// The entry takes defaults and the last set's tags; each volume lists the last set's
// piece first, with the block size recorded (0 where none was: the image's own is used).
// A volume or pool the sets lack (an unknown pool named with where it came from: not
// the definition's target pool), a VM restore without its root and a size past the
// volume's are refused.
TEST_F(Handler, CatalogGivesDefaultsVolumesAndPieceListsLastSetFirst) {
  using P = Restore_Params;
  const std::pair<std::function<void(P&, Sets&)>, const char*> cases[] = {
      {[](P&, Sets&) {}, "aarch64virtiombrqemu_rawvmvirtiost-1tag; data /dev/vdb: d1/0 d0/65536; "
                         "root /dev/vda: r1/3221225472 r0/65536; "},
      {[](P& p, Sets&) { p.entry.volumes[0].id = "v-x"; }, "Failed to get volume v-x info"},
      {[](P&, Sets& s) { s[0].storages.clear(); }, "Failed to get storage pool for bset"},
      {[](P&, Sets& s) { s[1].storages[0].pool_uuid = "pool-x"; },
       "Storage pool pool-x is where backup set cloud/def-1 was written: a restore reads its "
       "images there, or from the pool the source's pool_uuid names, never from the "
       "definition's target_pool."},
      {[](P& p, Sets&) { p.base.pool_uuid = "pool-x"; },
       "Storage pool pool-x is the one the source's pool_uuid names: a restore reads its "
       "images there, never from the definition's target_pool."},
      {[](P& p, Sets&) { p.entry.volumes.pop_back(); }, "lacks its root volume v-root"},
      {[](P& p, Sets&) { p.entry.volumes[0].size = 1ULL << 40; }, "Invalid size"},
  };
  for (const auto& [change, want] : cases) {
    SCOPED_TRACE(want);
    Restore_Params p = params(true);
    Sets sets = two_sets();
    change(p, sets);
    test::Log_Capture log;
    Instance_Restore_Handler h(*job_, p);
    if (!h.parse_source_instance(sets)) {
      EXPECT_TRUE(log.contains(want)) << log.text();
      continue;
    }
    const tavrocloud::Restore_Source_Entry& e = h.params().entry;
    std::string got = e.architecture + e.diskbus + e.boot_loader + e.content_mode + e.image_type +
                      e.attach_diskbus + e.storage_id + e.schedule_tag + "; ";
    for (const auto& v : h.restore_volumes_list()) {
      got += (v->is_root ? "root " : "data ") + v->src_dev_name + ":";
      for (const auto& list : v->timepoint_piece_list)
        for (const auto& piece : list) {
          const std::string& path = piece.remote_path;
          got += " " + path + "/" + std::to_string(piece.block_size);
          EXPECT_EQ(piece.pool.url, pool_.url() + "/cloud/def-" + path.substr(1));
        }
      got += "; ";
    }
    EXPECT_EQ(got, want);
  }
}

// A time point, instance or source the catalog holds no set of (one wrong digit, the
// documents' example) fails the check and a line that names all three keys and where
// the sets are listed; the keys of the set it holds read it.
TEST_F(Handler, CatalogMissNamesInstanceTimePointAndSource) {
  const struct {
    std::string instance, timepoint, source;
    bool found;
  } cases[] = {
      {"i-src", "20240501120000", "res-r", true},
      {"i-src", "20240501120001", "res-r", false},
      {"i-db01", "20261207005648", "res-r", false},
      {"i-src", "20240501120000", "prod-cloud", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.instance + " " + c.timepoint + " " + c.source);
    Restore_Params p = catalogued(true);
    p.entry.instance_src_id = c.instance;
    p.entry.backup_start_time = c.timepoint;
    p.base.resource_uuid = c.source;
    test::Log_Capture log;
    Sets sets;
    EXPECT_EQ(Instance_Restore_Handler(*job_, p).load_catalog(sets), c.found) << log.text();
    EXPECT_EQ(sets.size(), c.found ? 1u : 0u);
    EXPECT_EQ(log.contains("val.get_array() is empty array!", LM_EMERGENCY), !c.found);
    const std::string line = "The catalog holds no backup set of tavrocloud instance " +
                             c.instance + " at time point " + c.timepoint + " under the source id " +
                             c.source + "; 'quillon3 catalog list' shows the sets it holds "
                             "(INSTANCE, TIMEPOINT, RESOURCE).";
    EXPECT_EQ(log.contains(line, LM_ERROR), !c.found) << log.text();
  }
}

// Each volume is written list by list, last set first, every block at its offset; a
// block in both lists ends with the later list's bytes, and the device's bytes past the
// images stay, and all of them are on its disk when the restore reports success (the
// test is reported skipped where the page cache cannot tell, after its other checks). The
// image's block size wins over the one recorded. A damaged or cut image, another image
// copied over the one named, a device that cannot be opened or written and a cancellation
// fail it.
TEST_F(Handler, TransferDataWritesEveryListInOrder) {
  const size_t block = 4096;
  const std::string cc(block, 'c'), n2(2 * block, 'N');
  const std::string abc = std::string(block, 'a') + std::string(block, 'b') + cc;
  pool_.write_image("old", abc, block);
  pool_.write_image("new", n2, 2 * block);
  pool_.write_image("bad", abc, block);
  std::string damaged = pool_test::read_file(pool_.path("bad"));
  damaged[damaged.size() * 3 / 4] ^= 0x20;
  std::ofstream(pool_.path("bad"), std::ios::binary) << damaged;
  std::ofstream(pool_.path("short"), std::ios::binary) << damaged.substr(0, 100);
  std::ofstream(pool_.path("copied"), std::ios::binary) << pool_test::read_file(pool_.path("new"));
  const std::string device = pool_.path("device"), gone = pool_.path("gone"), x(block, 'x');
  const std::string unseen = unwritten_pages_unseen(pool_.path("probe"));
  auto list = [this](const char* path, uint64_t recorded = 4096) {
    Volume_Restore_Info::Piece piece;
    piece.pool.url = pool_.url();
    piece.remote_path = path;
    piece.block_size = recorded;
    return Volume_Restore_Info::Pieces{piece};
  };
  const struct {
    Volume_Restore_Info::Timepoint_Piece_List lists;
    std::string want;  // the device's bytes; or the failure logged
    std::string device = "";
  } cases[] = {
      {{list("new", 1ULL << 30), list("old", 65536)}, abc + x},
      {{list("old"), list("new", 8192)}, n2 + cc + x},
      {{}, "Timepoint piece list of volume v-1 is emtpy."},
      {{list("old", 0)}, "Piece old of volume v-1 has block size 0."},
      {{list("gone")}, "Failed to open storage pool " + pool_.url() + " remote file gone"},
      {{list("bad")}, "block data checksum mismatch"},
      {{list("copied")}, "the image at \"copied\" was written as \"new\""},
      {{list("short")}, "truncated image (in the superblock)"},
      {{list("old")}, "Failed to open device " + gone, gone},
      {{list("old")}, "Failed to write 4096 bytes at 0 to /dev/full", "/dev/full"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want.substr(0, 60));
    std::ofstream(device, std::ios::binary) << std::string(4 * block, 'x');
    Volume_Restore_Info vol;
    vol.src_vol_id = "v-1";
    vol.attached_dev_name = c.device.empty() ? device : c.device;
    vol.timepoint_piece_list = c.lists;
    test::Log_Capture log;
    const bool written = Instance_Restore_Handler(*job_, params(false)).transfer_data(vol);
    const bool as_wanted = written ? pool_test::read_file(device) == c.want : log.contains(c.want);
    EXPECT_TRUE(as_wanted) << log.text();
    EXPECT_EQ(written && unseen.empty() ? unwritten_pages(device) : 0, 0)
        << "left in the device's cache";
    EXPECT_EQ(written, c.want.size() == 4 * block);
  }
  EXPECT_NE(::access(gone.c_str(), F_OK), 0);
  // A cancellation: the reader's callback refuses the first block.
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(pool_.url(), {}) && io.open("old", Client_IO_Base::MODE_READ, 0, 0));
  const auto refuse = [](const char*, size_t, int64_t) { return 0; };
  EXPECT_FALSE(tavrocloud::Volume_Reader(device, block, "old").read_all(io, refuse));
  if (!unseen.empty()) GTEST_SKIP() << "the device's flush was not checked: " << unseen;
}

// The main interface is made first; an address is sent only where it is reserved or
// specified and given.
TEST_F(Handler, InstanceParametersAndNetworkInterfaceOrder) {
  auto h = handler(params(true, NIC + R"("sub-e", "type": "extend", "mac_op": "specify",
      "ip_op": "auto", "ip_address": "10.0.0.9"}, )" + NIC + R"("sub-m", "type": "main",
      "mac_op": "reserve", "ip_op": "reserve", "mac_address": "52:54:00:00:00:01",
      "ip_address": "10.0.0.5", "security_groups": [
      {"security_group_id": "sg-1", "security_group_name": "a"},
      {"security_group_id": "sg-2", "security_group_name": "b"}]})"));
  cloud_.expect(CREATE_NIC, made_nic("eni-m")).expect(CREATE_NIC, made_nic("eni-e"));
  test::Params out;
  ASSERT_TRUE(h->build_instance_params("vol-r", 20, "st-1", "/dev/vda", out));
  EXPECT_EQ(sent(true), std::string(CREATE_NIC) + ",SubnetId=sub-m,SecurityGroupId.1=sg-1,"
            "SecurityGroupId.2=sg-2,MacAddress=52:54:00:00:00:01,privateIpAddress=10.0.0.5 " +
            CREATE_NIC + ",SubnetId=sub-e ");
  std::string interfaces;  // NetworkInterface.N.* parameters, without that prefix
  for (const auto& p : out) {
    if (p.first.rfind("NetworkInterface.", 0) != 0) continue;
    interfaces += p.first.substr(17) + "=" + p.second + " ";
  }
  EXPECT_EQ(interfaces, "1.NetworkInterfaceId=eni-m 1.AssociatePublicIpAddress=true "
                        "2.NetworkInterfaceId=eni-e 2.AssociatePublicIpAddress=true ");
}

// Clean-up after a failed run: an instance it created is terminated and waited for
// before the data volume (detached from the agent first) and the interface go, and the
// consumed root volume goes with the instance. An instance it did not create (a
// RunInstances answer naming the agent or the entry's target) is never terminated, and
// a refused deletion is tried again without stopping the rest.
TEST_F(Handler, FailureCleanUpUndoesOnlyWhatItMadeInOrder) {
  // The first deletion is refused and tried again.
  const std::string data = "DetachVolume:vol-d DescribeVolumes:vol-d "
                           "DeleteVolume:vol-d DeleteVolume:vol-d ";
  const std::string eni = "DeleteNetworkInterface:eni-1 ";
  const std::string ours = data + "DeleteVolume:vol-r " + eni;
  const std::pair<const char*, std::string> cases[] = {
      // the RunInstances answer (empty: no instance was asked for), the clean-up's requests
      {"i-new", "TerminateInstances:i-new DescribeInstances:i-new " + data + eni},
      {"i-agent", ours},
      {"i-target", ours},
      {"", data + "DeleteVolume:vol-r "},
  };
  for (const auto& [created, actions] : cases) {
    SCOPED_TRACE(created);
    Restore_Params p = params(*created != '\0', NIC + R"("s"})");
    p.base.support_tmp_snapshot = true;
    p.entry.instance_tgt_id = "i-target";
    auto h = handler(p);
    ASSERT_TRUE(h->parse_source_instance(two_sets()));
    Volume_Restore_Info& data = *h->restore_volumes_list()[0];
    Volume_Restore_Info& root = *h->restore_volumes_list()[1];
    data.created_vol_id = "vol-d";
    data.attached_instance_id = "i-agent";
    data.dev_name = "/dev/vdc";
    root.created_vol_id = "vol-r";
    bool terminated = false, busy = true;
    cloud_.respond([&, created = created](const test::Sent& s) {
      const std::string& a = s.action;
      if (a == CREATE_NIC) return made_nic("eni-1");
      if (a == "RunInstances") return ok(a, test::fields({{"instanceId", created}}));
      if (a == "DescribeInstances") {
        return test::instance(created, terminated ? "terminated" : "error");
      }
      if (a == "TerminateInstances") {
        terminated = true;
        return ok(a, "<currentState><name>shutting-down</name></currentState>");
      }
      if (a == "DetachVolume") return ok(a, test::fields({{"status", "detaching"}}));
      if (a == "DescribeVolumes") return test::volume("vol-d", "available");
      if (a == "DeleteVolume" && std::exchange(busy, false)) return test::refused("busy");
      return test::result(a);
    });
    if (*created != '\0') {
      EXPECT_FALSE(h->create_instance(root));
      EXPECT_EQ(h->params().entry.instance_tgt_id, "i-target");
    }
    cloud_.forget_sent();
    test::Sleep_Recorder sleeps;
    EXPECT_TRUE(h->clean_up_when_failed());
    EXPECT_EQ(sent(false), actions);
  }
}

// A restore onto an instance it must not touch, or cannot lock, fails with a message and
// touches nothing: not the cloud, though the catalog holds the set to restore, nor the
// instance's progress record. The instance is one another job holds (backing it up or
// restoring it), one whose lock cannot be made (a file where the lock folder goes), the
// agent's own.
TEST_F(Handler, RestoreOntoAnInstanceItCannotHoldTouchesNothing) {
  namespace fs = std::filesystem;
  const struct {
    std::string why, target;
    bool held_by_another_job, file_as_lock_folder;
    std::string message;
  } cases[] = {
      {"another job holds it", "i-target", true, false,
       "Skipped tavrocloud instance i-target in this restore: another job on this host is "
       "backing it up or restoring it."},
      {"no lock can be made", "i-target", false, true,
       "Failed to lock tavrocloud instance i-target for its restore."},
      {"the agent's instance", "i-agent", false, false,
       "Refused to restore onto tavrocloud instance i-agent: it is the backup agent's own "
       "instance."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Restore_Params p = catalogued(false);
    p.entry.instance_tgt_id = c.target;
    tavrocloud::Instance_Mem_Map_Handle record;
    ASSERT_EQ(tavrocloud::open_progress_record(record, p.base.def_id, "i-src", true), 0);
    record->set_state(VM_Job_Progress::STATE_PENDING);
    tavrocloud::Instance_Lock other_job;
    if (c.held_by_another_job) {
      ASSERT_EQ(other_job.try_lock(c.target), other_job.TAKEN);
    }
    const std::string folder = test::Temp_Home_Environment::dir() + "/lock/instance";
    if (c.file_as_lock_folder) {
      fs::create_directories(folder);
      fs::rename(folder, folder + ".kept");
      std::ofstream{folder};
    }
    const auto h = handler(p);
    const std::string before = sent(true);
    test::Log_Capture log;
    json_spirit::Object result;
    EXPECT_FALSE(h->restore(result));
    EXPECT_EQ(sent(true), before);
    EXPECT_EQ(result["succeed"], json_spirit::Value(false));
    EXPECT_EQ(record->get_state(), VM_Job_Progress::STATE_PENDING);
    EXPECT_TRUE(log.contains(c.message, LM_ERROR)) << log.text();
    if (c.file_as_lock_folder) {
      fs::remove(folder);
      fs::rename(folder + ".kept", folder);
    }
  }
  tavrocloud::Instance_Lock probe;
  EXPECT_EQ(probe.try_lock("i-target"), probe.TAKEN);  // went with the other job
}

}  // namespace
