// The cloud client against the simulator and its realistic seed (answers pretty-printed,
// tagged, with nested lists): login, every family of resources created, waited for and
// deleted, a fault injected into each wait, and nothing left behind in the cloud at the
// end of each test. The tests that need no block device run everywhere, the simulator
// linking its agent devices into a folder of the test; those that read temporary
// snapshots and volumes through their local block devices need root and loop devices.
#include "content_digest.h"
#include "private_dev_disk.h"
#include "runtime/sleep.h"
#include "sim_process.h"
#include "support/log_capture.h"
#include "support/temp_home.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/common.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;
namespace tc = tavrocloud;

const char AGENT[] = "i-agent001";
const uint64_t GIB = 1ull << 30;
const size_t CHUNK = test::Digest::CHUNK;

// The waits poll the simulator, whose changes advance per poll, not per second: they are
// counted here and not slept.
std::atomic<unsigned long> slept_secs{0};
void count_sleep(unsigned int secs) { slept_secs += secs; }

// The simulator's content digest of the block device `path`, read through the kernel
// like an upload does.
std::string device_digest(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  uint64_t size = 0;
  if (fd < 0 || ::ioctl(fd, BLKGETSIZE64, &size) != 0) return "cannot read " + path;
  test::Digest digest(size);
  std::vector<char> block(CHUNK);
  for (uint64_t off = 0; off < size; off += CHUNK) {
    const size_t len = static_cast<size_t>(std::min<uint64_t>(CHUNK, size - off));
    if (::pread(fd, block.data(), len, static_cast<off_t>(off)) != static_cast<ssize_t>(len)) break;
    digest.feed(block.data(), len, off);
  }
  ::close(fd);
  return digest.hex();
}

bool login(RESTful_Client& client, const test::Sim_Process& sim) {
  return client.login(tc::Login("127.0.0.1", sim.port(), false, "", secure_string(test::SIM_ACCESS_KEY),
                                secure_string(test::SIM_SECRET_KEY)));
}

// Device-free: the simulator links the agent's devices into a folder of the test.
class Cloud_E2E : public ::testing::Test {
 protected:
  void SetUp() override { start(link_options()); }

  void TearDown() override {
    if (sim_ != nullptr && sim_->running()) {
      EXPECT_TRUE(sim_->clean()) << "left behind in the cloud: " << sim_->get("/leftovers");
      EXPECT_TRUE(sim_->stop());
    }
    sim_.reset();
    if (previous_sleep_ == nullptr) return;
    RESTful_Client::set_product_uuid_path(previous_dmi_);
    set_sleep_hook(previous_sleep_);
  }

  // Options of a simulator that links its agent devices into the test's folder.
  test::Sim_Options link_options() const {
    test::Sim_Options options;
    options.loop = "link";
    options.dev_root = tmp_.path();
    return options;
  }

  void start(test::Sim_Options options) {
    ASSERT_TRUE(tmp_.made());
    previous_sleep_ = set_sleep_hook(&count_sleep);
    slept_secs = 0;
    // The agent is found by its MAC address on both sides, whatever this machine's DMI.
    const std::string missing_dmi = tmp_.path() + "/no-product-uuid";
    previous_dmi_ = RESTful_Client::set_product_uuid_path(missing_dmi);
    options.extra_args.insert(options.extra_args.end(), {"--dmi-path", missing_dmi});
    sim_ = std::make_unique<test::Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
    ASSERT_TRUE(login(client_, *sim_));
  }

  void fault(const std::string& json) { ASSERT_TRUE(sim_->post("/faults", json)) << json; }
  bool new_volume(const char* name, tc::Volume& volume) {
    return client_.create_volume(name, "cluster-a", "st-ceph-01", 1, "", volume);
  }

  test::Temp_Dir tmp_{"tavro-e2e-dev."};
  std::unique_ptr<test::Sim_Process> sim_;
  RESTful_Client client_;
  Sleep_Hook previous_sleep_ = nullptr;
  std::string previous_dmi_;
};

// Reads through real block devices: root, loop devices and a private /dev/disk.
class Cloud_Device_E2E : public Cloud_E2E {
 protected:
  void SetUp() override {
    const std::string& skip = test::enter_private_dev_disk();
    if (!skip.empty()) GTEST_SKIP() << "e2e skipped: " << skip;
    test::Sim_Options options;
    options.loop = "losetup";
    start(options);
  }
};

TEST_F(Cloud_E2E, Login_And_Inventory) {
  tc::Cloud cloud;
  tc::Clusters clusters;
  tc::Nodes nodes;
  tc::Storage storage;
  tc::Subnets subnets;
  tc::Security_Groups groups;
  tc::Instance db;
  tc::Network_Interface nif;
  tc::Instances all;
  tc::Vpc vpc;
  tc::Image image;
  ASSERT_TRUE(client_.query_cloud(cloud) && client_.query_clusters(clusters) &&
              client_.query_cluster_nodes("cluster-a", nodes) && client_.query_storage("st-nfs-01", storage) &&
              client_.query_subnets("vpc-prod", subnets) && client_.query_security_groups(groups) &&
              client_.query_instance_detail("i-db01", db) && client_.query_network_interface("eni-db01-0", nif) &&
              client_.query_instances(all) && client_.query_vpc("vpc-prod", vpc) &&
              client_.query_image("img-centos7-x64", image));
  ASSERT_EQ(3u, db.volumes.size());
  // The shapes of a real cloud: an interface attached, with a secondary address; two
  // instances in one reservation; tagged images and VPCs with nested lists.
  std::string web_groups;
  for (const tc::Instance& i : all)
    if (i.id == "i-web01" || i.id == "i-app01") web_groups += i.security_group.id + " ";
  const std::vector<std::string> seen = {
      client_.version(), cloud.id, std::to_string(clusters.size()), std::to_string(nodes.size()), storage.type,
      std::to_string(subnets.size()), std::to_string(groups.size()), tc::status_to_name(db.status),
      std::to_string(db.instance_type.cpu), db.image.id, db.volumes[2].volume_attachment.device,
      std::to_string(db.network_interfaces.size()), tc::status_to_name(nif.status), nif.private_ip,
      std::to_string(nif.groups.size()), std::to_string(all.size()), web_groups, vpc.cidr_block,
      std::to_string(image.size)};
  EXPECT_EQ(seen, (std::vector<std::string>{"V9.8", "cloud-tavro-demo", "2", "2", "nfs_raw", "2", "4", "running",
                                            "4", "img-centos7-x64", "/dev/vdc", "2", "in-use", "10.10.1.31", "2",
                                            "5", "sg-web sg-web ", "10.10.0.0/16", "8589934592"}));

  // A login with keys the cloud does not know fails and leaves nothing behind.
  RESTful_Client stranger;
  test::Log_Capture log;
  EXPECT_FALSE(stranger.login(tc::Login("127.0.0.1", sim_->port(), false, "", secure_string("AKIDUNKNOWN"),
                                        secure_string("nope"))));
}

TEST_F(Cloud_E2E, Listings_Follow_Every_Page) {
  ASSERT_TRUE(sim_->post("/config", "{\"default_page_size\": 2}"));
  tc::Instances all, zone, node;
  ASSERT_TRUE(client_.query_instances(all) && client_.query_cluster_instances("cluster-a", zone) &&
              client_.query_node_instances("node-a2", node));
  EXPECT_EQ((std::vector<size_t>{5, 4, 2}), (std::vector<size_t>{all.size(), zone.size(), node.size()}));

  test::Log_Capture log;
  fault("{\"action\": \"DescribeInstances\", \"kind\": \"repeat_token\", \"nth\": 2}");
  tc::Instances looping;
  EXPECT_FALSE(client_.query_instances(looping));
  EXPECT_TRUE(log.contains("the cloud gave this token before", LM_ERROR)) << log.text();
}

TEST_F(Cloud_E2E, Agent_Is_Found_By_Mac_And_By_Product_Identifier) {
  std::string id;
  ASSERT_TRUE(client_.agent_instance_id(id));
  EXPECT_EQ(AGENT, id);

  const std::string dmi = tmp_.path() + "/product-uuid";
  std::ofstream(dmi) << "6c1f29d3-5be0-4a8e-9f61-0242ac1f4a3b\n";
  test::Sim_Options options = link_options();
  options.extra_args = {"--dmi-path", dmi};
  test::Sim_Process other(options);
  ASSERT_TRUE(other.running()) << other.error();
  RESTful_Client::set_product_uuid_path(dmi);
  RESTful_Client client;
  ASSERT_TRUE(login(client, other));
  ASSERT_TRUE(client.agent_instance_id(id));
  EXPECT_EQ("i-AC1F4A3B", id);
  EXPECT_EQ(id, test::json_str(other.get("/health"), "agent_id"));
  tc::Instance agent;
  EXPECT_TRUE(client.query_instance(id, agent));
}

TEST_F(Cloud_Device_E2E, Volume_Attached_To_The_Agent_Is_Written_Through_Its_Device) {
  tc::Volume volume;
  ASSERT_TRUE(new_volume("e2e-restore", volume));
  EXPECT_EQ(tc::AVAILABLE, volume.status);
  std::string device, local;
  bool accepted = false;
  ASSERT_TRUE(client_.attach_volume_to_agent(AGENT, volume.id, device, &accepted));
  EXPECT_TRUE(accepted);
  EXPECT_EQ("/dev/vdb", device);
  ASSERT_TRUE(tc::get_local_device(volume.id, local));
  EXPECT_EQ(0u, local.find("/dev/loop")) << local;

  // Write a block the way a restore does, then compare with what the cloud holds.
  std::vector<char> data(CHUNK);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 1);
  const int fd = ::open(local.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(static_cast<ssize_t>(CHUNK), ::pwrite(fd, data.data(), CHUNK, 16 * CHUNK));
  EXPECT_EQ(0, ::fsync(fd));
  ::close(fd);

  ASSERT_TRUE(client_.detach_volume(AGENT, device, volume.id));
  test::Digest expected(GIB);
  expected.feed(data.data(), CHUNK, 16 * CHUNK);
  EXPECT_EQ(expected.hex(), sim_->digest(volume.id));
  EXPECT_TRUE(client_.delete_volume(volume.id));
}

TEST_F(Cloud_Device_E2E, Tmp_Snapshot_And_Snapshot_Made_Volume_Are_Read_Through_Their_Devices) {
  const std::string want = sim_->digest("vol-db01-data");
  EXPECT_NE("", want);
  tc::Tmp_Snapshot tmp;
  std::string local;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-db01-data", tmp));
  EXPECT_EQ(tc::AVAILABLE, tmp.status);
  ASSERT_TRUE(client_.attach_tmp_snapshot(tmp.id, AGENT) && tc::get_local_device(tmp.id, local));
  EXPECT_EQ(want, device_digest(local));
  EXPECT_TRUE(client_.detach_tmp_snapshot(tmp.id) && client_.clear_tmp_snapshot(tmp.id));

  tc::Snapshot snapshot;
  ASSERT_TRUE(client_.create_snapshot("vol-db01-data", "e2e-snap", snapshot));
  EXPECT_EQ(tc::COMPLETED, snapshot.status);
  tc::Volume volume;
  std::string device;
  ASSERT_TRUE(client_.create_volume_by_snapshot(snapshot.id, "cluster-a", "e2e-from-snap", volume) &&
              client_.attach_volume_to_agent(AGENT, volume.id, device) && tc::get_local_device(volume.id, local));
  EXPECT_EQ(want, device_digest(local));
  EXPECT_TRUE(client_.detach_volume(AGENT, device, volume.id) && client_.delete_volume(volume.id) &&
              client_.delete_snapshot(snapshot.id));
}

TEST_F(Cloud_E2E, Instance_Backup_Root_Snapshot_Network_Interface_And_Instance) {
  tc::Instance_Backup backup;
  ASSERT_TRUE(client_.create_instance_backup("i-db01", backup));
  EXPECT_EQ(tc::COMPLETE, backup.status);
  EXPECT_EQ(3u, backup.block_device_mappings.size());
  EXPECT_TRUE(client_.delete_instance_backup(backup.id));

  json_spirit::Object root_info;
  root_info["platform"] = "linux";
  tc::Snapshot root;
  ASSERT_TRUE(client_.create_snapshot("vol-web01-root", "e2e-root", json_spirit::Value(root_info), root));
  std::string nif;
  ASSERT_TRUE(client_.create_network_interface("subnet-prod-a", {"sg-default", "sg-web"}, "", "", nif));
  tc::Network_Interface made;
  ASSERT_TRUE(client_.query_network_interface(nif, made));
  EXPECT_EQ(2u, made.groups.size());

  tc::Instance instance;
  ASSERT_TRUE(client_.create_instance({{"ImageId", root.id}, {"instanceType", "ts.small"},
                                       {"instanceName", "e2e-restored"},
                                       {"NetworkInterface.1.NetworkInterfaceId", nif}},
                                      instance));
  EXPECT_EQ(tc::RUNNING, instance.status);
  ASSERT_TRUE(client_.stop_instance(instance.id));
  ASSERT_TRUE(client_.start_instance(instance.id));
  ASSERT_TRUE(client_.delete_instance(instance.id));
  tc::Instance gone;
  for (int i = 0; i < 5 && gone.status != tc::TERMINATED; ++i) ASSERT_TRUE(client_.query_instance(instance.id, gone));
  EXPECT_TRUE(client_.delete_network_interface(nif));
  EXPECT_TRUE(client_.delete_snapshot(root.id));
}

TEST_F(Cloud_E2E, New_Resources_Are_Waited_For_Until_The_Cloud_Lists_Them) {
  ASSERT_TRUE(sim_->post("/config", "{\"unlisted_describes\": 2}"));
  test::Log_Capture log;
  tc::Volume volume;
  tc::Snapshot snapshot;
  tc::Tmp_Snapshot tmp;
  tc::Instance_Backup backup;
  ASSERT_TRUE(new_volume("e2e-late", volume));
  ASSERT_TRUE(client_.create_snapshot("vol-db01-data", "e2e-late", snapshot));
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-web01-root", tmp));
  ASSERT_TRUE(client_.create_instance_backup("i-web01", backup));
  EXPECT_FALSE(log.contains("", LM_ERROR)) << log.text();
  EXPECT_TRUE(client_.delete_instance_backup(backup.id) && client_.clear_tmp_snapshot(tmp.id) &&
              client_.delete_snapshot(snapshot.id) && client_.delete_volume(volume.id));
}

TEST_F(Cloud_E2E, A_Volume_And_A_Tmp_Snapshot_Attached_To_The_Agent_Take_Their_Own_Devices) {
  tc::Tmp_Snapshot tmp;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-db01-data", tmp));
  ASSERT_TRUE(client_.attach_tmp_snapshot(tmp.id, AGENT));
  tc::Volume volume;
  ASSERT_TRUE(new_volume("e2e-beside", volume));
  std::string device;
  ASSERT_TRUE(client_.attach_volume_to_agent(AGENT, volume.id, device));
  EXPECT_EQ("/dev/vdc", device);  // the agent's root is on vda, the tmp snapshot on vdb
  ASSERT_TRUE(client_.detach_volume(AGENT, device, volume.id));
  EXPECT_TRUE(client_.delete_volume(volume.id));
  ASSERT_TRUE(client_.detach_tmp_snapshot(tmp.id));
  EXPECT_TRUE(client_.clear_tmp_snapshot(tmp.id));
}

TEST_F(Cloud_E2E, A_Result_Answered_False_Is_A_Failure_And_A_Volume_Moves_To_Another_Node) {
  tc::Volume volume, kept;
  ASSERT_TRUE(new_volume("e2e-kept", volume));
  fault(R"({"action": "DeleteVolume", "kind": "return_false"})");
  test::Log_Capture log;
  EXPECT_FALSE(client_.delete_volume(volume.id));
  EXPECT_TRUE(log.contains("Failed to delete volume " + volume.id, LM_ERROR)) << log.text();
  EXPECT_TRUE(client_.query_volume(volume.id, kept));

  ASSERT_TRUE(client_.modify_volume_storage(volume.id, "st-localvg-a2", "node-a2"));
  tc::Volume moved;
  ASSERT_TRUE(client_.query_volume(volume.id, moved));
  EXPECT_EQ("node-a2", moved.node_id);
  EXPECT_TRUE(client_.delete_volume(volume.id));
}

TEST_F(Cloud_Device_E2E, A_Residual_Tmp_Snapshot_On_The_Agent_Is_Recovered) {
  std::string residue;
  ASSERT_TRUE(sim_->post("/residue", std::string(R"({"volume_id": "vol-db01-data", "attach_to": ")") + AGENT + "\"}",
                         &residue));
  const std::string residue_id = test::json_str(residue, "id");
  ASSERT_FALSE(residue_id.empty()) << residue;
  std::string local;
  ASSERT_TRUE(tc::get_local_device(residue_id, local));

  test::Log_Capture log;
  tc::Tmp_Snapshot snap;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-db01-data", snap));
  EXPECT_NE(residue_id, snap.id);
  EXPECT_EQ(1u, log.count("try count 1"));
  EXPECT_TRUE(log.contains("The tmp snapshot " + residue_id + " did not exist", LM_DEBUG));
  EXPECT_TRUE(client_.clear_tmp_snapshot(snap.id));
}

// A fault in each wait: the operation fails with the wait's message, hands over what it
// made, and the clean-up that a job would run leaves nothing behind; a wait that never
// ends gives up after its whole time, counted in (unslept) seconds.
TEST_F(Cloud_E2E, A_Fault_In_Each_Wait_Is_Reported_And_Cleaned_Up) {
  RESTful_Client& c = client_;
  const auto settle = [this] { return sim_->post("/settle", "{}"); };
  const auto slept = [](unsigned long want) { EXPECT_EQ(want, slept_secs.exchange(0)); };
  const std::string error = R"(", "kind": "end_status", "status": "error"})";
  const struct {
    std::string fault;  // the action and the kind of its fault
    const char* message;
    std::function<void()> run;
  } cases[] = {
      {R"({"action": "CreateVolume)" + error, "Invalid resource status:18.\n", [&] {
         tc::Volume v;
         EXPECT_FALSE(new_volume("e2e-bad", v));
         EXPECT_TRUE(!v.id.empty() && c.delete_volume(v.id));
       }},
      {R"({"action": "AttachVolume)" + error, "Unexpected volume", [&] {
         tc::Volume v;
         std::string device;
         bool accepted = false;
         ASSERT_TRUE(new_volume("e2e-att", v));
         EXPECT_FALSE(c.attach_volume_to_agent(AGENT, v.id, device, &accepted));
         EXPECT_TRUE(accepted && c.detach_volume(AGENT, device, v.id) && c.delete_volume(v.id));
       }},
      {R"({"action": "DetachVolume", "kind": "stuck"})", "Wait for resource timeout.\n", [&] {
         tc::Volume v;
         std::string device;
         ASSERT_TRUE(new_volume("e2e-det", v) && c.attach_volume_to_agent(AGENT, v.id, device));
         slept_secs = 0;
         EXPECT_FALSE(c.detach_volume(AGENT, device, v.id));
         slept(RESTful_Client::WAIT_CHANGE_TIMEOUT);
         EXPECT_TRUE(settle() && c.delete_volume(v.id));
       }},
      {R"({"action": "CreateTmpSnapshots)" + error, "Invalid resource status:18.\n", [&] {
         tc::Tmp_Snapshot t;
         EXPECT_FALSE(c.create_tmp_snapshot("vol-web01-root", t));
         EXPECT_TRUE(!t.id.empty() && c.clear_tmp_snapshot(t.id));
       }},
      {R"({"action": "AttachTmpSnapshot)" + error, "Invalid resource status:18.\n", [&] {
         tc::Tmp_Snapshot t;
         ASSERT_TRUE(c.create_tmp_snapshot("vol-web01-root", t));
         EXPECT_FALSE(c.attach_tmp_snapshot(t.id, AGENT));
         EXPECT_TRUE(c.detach_tmp_snapshot(t.id) && c.clear_tmp_snapshot(t.id));
       }},
      {R"({"action": "CreateSnapshot", "kind": "stuck"})", "Wait for resource timeout.\n", [&] {
         tc::Snapshot s;
         slept_secs = 0;
         EXPECT_FALSE(c.create_snapshot("vol-web01-root", "e2e-stuck", s));
         slept(RESTful_Client::WAIT_CREATE_TIMEOUT);
         EXPECT_TRUE(!s.id.empty() && settle() && c.delete_snapshot(s.id));
       }},
      {R"({"action": "BackupInstance)" + error, "Invalid resource status:18.\n", [&] {
         tc::Instance_Backup b;
         EXPECT_FALSE(c.create_instance_backup("i-web01", b));
         EXPECT_TRUE(!b.id.empty() && c.delete_instance_backup(b.id));
       }},
      {R"({"action": "StopInstances", "kind": "stuck"})", "Wait for resource timeout.\n", [&] {
         EXPECT_FALSE(c.stop_instance("i-web01"));
         EXPECT_TRUE(settle() && c.start_instance("i-web01"));
       }},
      {R"({"action": "ModifyVolumeStorage", "kind": "stuck"})", "Wait modify volume", [&] {
         tc::Volume v;
         ASSERT_TRUE(new_volume("e2e-move", v));
         EXPECT_FALSE(c.modify_volume_storage(v.id, "st-localvg-a2", "node-a2"));
         EXPECT_TRUE(settle() && c.delete_volume(v.id));
       }},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.fault);
    fault(one.fault);
    test::Log_Capture log;
    one.run();
    EXPECT_TRUE(log.contains(one.message, LM_ERROR)) << log.text();
    EXPECT_TRUE(sim_->clean()) << sim_->get("/leftovers");
    sim_->clear_faults();
  }
}

}  // namespace
