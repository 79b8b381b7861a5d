// The cloud client against the simulator and its realistic seed (answers pretty-printed,
// tagged, with nested lists): login, every family of resources created, waited for and
// deleted, a fault injected into each wait, and nothing left behind in the cloud at the
// end of each test. The tests that need no block device run everywhere, the simulator
// linking its agent devices into a folder of the test; those that read temporary
// snapshots and volumes through their local block devices need root and loop devices.
#include "json/json_load.h"
#include "private_dev_disk.h"
#include "runtime/sleep.h"
#include "sim_process.h"
#include "support/log_capture.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/common.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <openssl/evp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;

const char ACCESS_KEY[] = "AKIDTAVROSIMDEMO0001";
const char SECRET_KEY[] = "tavrosim/Demo+Secret/Key0001";
const char AGENT[] = "i-agent001";
const uint64_t GIB = 1ull << 30;
const size_t CHUNK = 64 << 10;

// The waits poll the simulator, whose changes advance per poll, not per second: they are
// counted here and not slept.
std::atomic<unsigned long> slept_secs{0};
void count_sleep(unsigned int secs) { slept_secs += secs; }

// The simulator's content digest (SHA-256 over the size and every 64 KiB block that is
// not all zero, with its offset), computed from a reader of `size` bytes.
std::string content_digest(uint64_t size, const std::function<bool(uint64_t, char*, size_t)>& read) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
  const std::string head = "tavrosim-content-v1 size=" + std::to_string(size) + "\n";
  EVP_DigestUpdate(ctx.get(), head.data(), head.size());
  std::vector<char> block(CHUNK);
  for (uint64_t off = 0; off < size; off += CHUNK) {
    const size_t len = static_cast<size_t>(std::min<uint64_t>(CHUNK, size - off));
    if (!read(off, block.data(), len)) return "read failed at " + std::to_string(off);
    if (std::all_of(block.begin(), block.begin() + len, [](char c) { return c == 0; })) continue;
    unsigned char be[8];
    for (int i = 0; i < 8; ++i) be[i] = static_cast<unsigned char>(off >> (56 - 8 * i));
    EVP_DigestUpdate(ctx.get(), be, sizeof be);
    EVP_DigestUpdate(ctx.get(), block.data(), len);
  }
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int md_len = 0;
  EVP_DigestFinal_ex(ctx.get(), md, &md_len);
  std::string hex;
  char buf[3];
  for (unsigned int i = 0; i < md_len; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", md[i]);
    hex += buf;
  }
  return hex;
}

// The digest of the block device `path`, read through the kernel like an upload does.
std::string device_digest(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "cannot open " + path;
  uint64_t size = 0;
  std::string digest = ::ioctl(fd, BLKGETSIZE64, &size) == 0
                           ? content_digest(size, [fd](uint64_t off, char* buf, size_t len) {
                               return ::pread(fd, buf, len, static_cast<off_t>(off)) ==
                                      static_cast<ssize_t>(len);
                             })
                           : "not a block device: " + path;
  ::close(fd);
  return digest;
}

// Device-free: the simulator links the agent's devices into a folder of its own.
class Cloud_E2E : public ::testing::Test {
 protected:
  void SetUp() override { start(link_options()); }

  void TearDown() override {
    if (sim_ != nullptr && sim_->running()) {
      const std::string left = sim_->get("/leftovers");
      EXPECT_TRUE(json_bool(left, "clean")) << "left behind in the cloud: " << left;
      EXPECT_TRUE(sim_->stop());
    }
    sim_.reset();
    if (!started_) return;
    RESTful_Client::set_product_uuid_path(previous_dmi_);
    set_sleep_hook(previous_sleep_);
    std::error_code ignored;
    if (!dev_root_.empty()) std::filesystem::remove_all(dev_root_, ignored);
  }

  // Options of a simulator that links its agent devices into a new folder of the test.
  test::Sim_Options link_options() {
    if (dev_root_.empty()) {
      std::string pattern = ::testing::TempDir() + "tavro-e2e-dev.XXXXXX";
      if (::mkdtemp(&pattern[0]) != nullptr) dev_root_ = pattern;
    }
    test::Sim_Options options;
    options.loop = "link";
    options.dev_root = dev_root_;
    return options;
  }

  void start(test::Sim_Options options) {
    started_ = true;
    previous_sleep_ = set_sleep_hook(&count_sleep);
    slept_secs = 0;
    // The agent is found by its MAC address on both sides, whatever this machine's DMI.
    missing_dmi_ = ::testing::TempDir() + "no-product-uuid." + std::to_string(::getpid());
    previous_dmi_ = RESTful_Client::set_product_uuid_path(missing_dmi_);
    options.extra_args.insert(options.extra_args.end(), {"--dmi-path", missing_dmi_});
    sim_.reset(new test::Sim_Process(options));
    ASSERT_TRUE(sim_->running()) << sim_->error();
    ASSERT_TRUE(login(client_, *sim_));
  }

  static bool login(RESTful_Client& client, const test::Sim_Process& sim) {
    tavrocloud::Login account("127.0.0.1", sim.port(), false, "", secure_string(ACCESS_KEY),
                              secure_string(SECRET_KEY));
    return client.login(account);
  }

  static bool json_bool(const std::string& text, const char* key) {
    const json_spirit::Value v = JSON_Load(text);
    if (v.type() != json_spirit::obj_type) return false;
    auto it = v.get_obj().find(key);
    return it != v.get_obj().end() && it->second.type() == json_spirit::bool_type &&
           it->second.get_bool();
  }

  static std::string json_str(const std::string& text, const char* key) {
    const json_spirit::Value v = JSON_Load(text);
    if (v.type() != json_spirit::obj_type) return std::string();
    auto it = v.get_obj().find(key);
    return it != v.get_obj().end() && it->second.type() == json_spirit::str_type
               ? it->second.get_str()
               : std::string();
  }

  // The simulator's digest of a volume, snapshot or temporary snapshot.
  std::string sim_digest(const std::string& id) {
    return json_str(sim_->get("/digest?id=" + id), "digest");
  }

  void fault(const std::string& json) { ASSERT_TRUE(sim_->post("/faults", json)) << json; }

  std::unique_ptr<test::Sim_Process> sim_;
  RESTful_Client client_;
  bool started_ = false;
  Sleep_Hook previous_sleep_ = nullptr;
  std::string missing_dmi_;
  std::string previous_dmi_;
  std::string dev_root_;
};

// Reads through real block devices: root, loop devices and a private /dev/disk.
class Cloud_Device_E2E : public Cloud_E2E {
 protected:
  static void SetUpTestSuite() { skip_reason_ = test::enter_private_dev_disk(); }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << "e2e skipped: " << skip_reason_;
    test::Sim_Options options;
    options.loop = "losetup";
    start(options);
  }

  static std::string skip_reason_;
};

std::string Cloud_Device_E2E::skip_reason_;

TEST_F(Cloud_E2E, Login_And_Inventory) {
  EXPECT_EQ("V9.8", client_.version());
  tavrocloud::Cloud cloud;
  ASSERT_TRUE(client_.query_cloud(cloud));
  EXPECT_EQ("cloud-tavro-demo", cloud.id);
  tavrocloud::Clusters clusters;
  ASSERT_TRUE(client_.query_clusters(clusters));
  EXPECT_EQ(2u, clusters.size());
  tavrocloud::Nodes nodes;
  ASSERT_TRUE(client_.query_cluster_nodes("cluster-a", nodes));
  EXPECT_EQ(2u, nodes.size());
  tavrocloud::Storage storage;
  ASSERT_TRUE(client_.query_storage("st-nfs-01", storage));
  EXPECT_EQ("nfs_raw", storage.type);
  tavrocloud::Subnets subnets;
  ASSERT_TRUE(client_.query_subnets("vpc-prod", subnets));
  EXPECT_EQ(2u, subnets.size());
  tavrocloud::Security_Groups groups;
  ASSERT_TRUE(client_.query_security_groups(groups));
  EXPECT_EQ(4u, groups.size());

  tavrocloud::Instance db;
  ASSERT_TRUE(client_.query_instance_detail("i-db01", db));
  EXPECT_EQ(tavrocloud::RUNNING, db.status);
  EXPECT_EQ(4, db.instance_type.cpu);
  EXPECT_EQ("img-centos7-x64", db.image.id);
  ASSERT_EQ(3u, db.volumes.size());
  EXPECT_EQ("/dev/vdc", db.volumes[2].volume_attachment.device);
  EXPECT_EQ(2u, db.network_interfaces.size());

  // The shapes of a real cloud: an interface attached, with a secondary address; two
  // instances in one reservation; tagged images and VPCs with nested lists.
  tavrocloud::Network_Interface nif;
  ASSERT_TRUE(client_.query_network_interface("eni-db01-0", nif));
  EXPECT_EQ(tavrocloud::IN_USE, nif.status);
  EXPECT_EQ("10.10.1.31", nif.private_ip);
  EXPECT_EQ(2u, nif.groups.size());
  tavrocloud::Instances all;
  ASSERT_TRUE(client_.query_instances(all));
  ASSERT_EQ(5u, all.size());
  for (const tavrocloud::Instance& i : all) {
    if (i.id == "i-web01" || i.id == "i-app01") {
      EXPECT_EQ("sg-web", i.security_group.id) << i.id;
    }
  }
  tavrocloud::Vpc vpc;
  ASSERT_TRUE(client_.query_vpc("vpc-prod", vpc));
  EXPECT_EQ("10.10.0.0/16", vpc.cidr_block);
  tavrocloud::Image image;
  ASSERT_TRUE(client_.query_image("img-centos7-x64", image));
  EXPECT_EQ(8589934592, image.size);

  // A login with keys the cloud does not know fails and leaves nothing behind.
  RESTful_Client stranger;
  tavrocloud::Login wrong("127.0.0.1", sim_->port(), false, "", secure_string("AKIDUNKNOWN"),
                          secure_string("nope"));
  test::Log_Capture log;
  EXPECT_FALSE(stranger.login(wrong));
}

TEST_F(Cloud_E2E, Listings_Follow_Every_Page) {
  ASSERT_TRUE(sim_->post("/config", "{\"default_page_size\": 2}"));
  tavrocloud::Instances all;
  ASSERT_TRUE(client_.query_instances(all));
  EXPECT_EQ(5u, all.size());
  tavrocloud::Instances zone;
  ASSERT_TRUE(client_.query_cluster_instances("cluster-a", zone));
  EXPECT_EQ(4u, zone.size());
  tavrocloud::Instances node;
  ASSERT_TRUE(client_.query_node_instances("node-a2", node));
  EXPECT_EQ(2u, node.size());

  test::Log_Capture log;
  fault("{\"action\": \"DescribeInstances\", \"kind\": \"repeat_token\", \"nth\": 2}");
  tavrocloud::Instances looping;
  EXPECT_FALSE(client_.query_instances(looping));
  EXPECT_TRUE(log.contains("the cloud gave this token before", LM_ERROR)) << log.text();
}

TEST_F(Cloud_E2E, Agent_Is_Found_By_Mac_And_By_Product_Identifier) {
  std::string id;
  ASSERT_TRUE(client_.agent_instance_id(id));
  EXPECT_EQ(AGENT, id);

  const std::string dmi = ::testing::TempDir() + "product-uuid." + std::to_string(::getpid());
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
  EXPECT_EQ(id, json_str(other.get("/health"), "agent_id"));
  tavrocloud::Instance agent;
  EXPECT_TRUE(client.query_instance(id, agent));
  std::remove(dmi.c_str());
}

TEST_F(Cloud_Device_E2E, Volume_Attached_To_The_Agent_Is_Written_Through_Its_Device) {
  tavrocloud::Volume volume;
  ASSERT_TRUE(client_.create_volume("e2e-restore", "cluster-a", "st-ceph-01", 1, "", volume));
  EXPECT_EQ(tavrocloud::AVAILABLE, volume.status);

  std::string device;
  bool accepted = false;
  ASSERT_TRUE(client_.attach_volume_to_agent(AGENT, volume.id, device, &accepted));
  EXPECT_TRUE(accepted);
  EXPECT_EQ("/dev/vdb", device);
  std::string local;
  ASSERT_TRUE(tavrocloud::get_local_device(volume.id, local));
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
  const std::string expected = content_digest(GIB, [&](uint64_t off, char* buf, size_t len) {
    if (off == 16 * CHUNK) {
      std::copy(data.begin(), data.end(), buf);
    } else {
      std::fill(buf, buf + len, 0);
    }
    return true;
  });
  EXPECT_EQ(expected, sim_digest(volume.id));
  EXPECT_TRUE(client_.delete_volume(volume.id));
}

TEST_F(Cloud_Device_E2E, Tmp_Snapshot_Is_Read_Through_Its_Device) {
  tavrocloud::Tmp_Snapshot snap;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-db01-data", snap));
  EXPECT_EQ(tavrocloud::AVAILABLE, snap.status);
  ASSERT_TRUE(client_.attach_tmp_snapshot(snap.id, AGENT));
  std::string local;
  ASSERT_TRUE(tavrocloud::get_local_device(snap.id, local));
  const std::string volume_digest = sim_digest("vol-db01-data");
  EXPECT_FALSE(volume_digest.empty());
  EXPECT_EQ(volume_digest, device_digest(local));
  ASSERT_TRUE(client_.detach_tmp_snapshot(snap.id));
  EXPECT_TRUE(client_.clear_tmp_snapshot(snap.id));
}

TEST_F(Cloud_Device_E2E, Snapshot_Made_Volume_Is_Read_Through_Its_Device) {
  tavrocloud::Snapshot snapshot;
  ASSERT_TRUE(client_.create_snapshot("vol-db01-data", "e2e-snap", snapshot));
  EXPECT_EQ(tavrocloud::COMPLETED, snapshot.status);
  tavrocloud::Volume volume;
  ASSERT_TRUE(client_.create_volume_by_snapshot(snapshot.id, "cluster-a", "e2e-from-snap", volume));
  std::string device;
  ASSERT_TRUE(client_.attach_volume_to_agent(AGENT, volume.id, device));
  std::string local;
  ASSERT_TRUE(tavrocloud::get_local_device(volume.id, local));
  EXPECT_EQ(sim_digest("vol-db01-data"), device_digest(local));
  ASSERT_TRUE(client_.detach_volume(AGENT, device, volume.id));
  EXPECT_TRUE(client_.delete_volume(volume.id));
  EXPECT_TRUE(client_.delete_snapshot(snapshot.id));
}

TEST_F(Cloud_E2E, Instance_Backup_Root_Snapshot_Network_Interface_And_Instance) {
  tavrocloud::Instance_Backup backup;
  ASSERT_TRUE(client_.create_instance_backup("i-db01", backup));
  EXPECT_EQ(tavrocloud::COMPLETE, backup.status);
  EXPECT_EQ(3u, backup.block_device_mappings.size());
  EXPECT_TRUE(client_.delete_instance_backup(backup.id));

  json_spirit::Object root_info;
  root_info["platform"] = "linux";
  tavrocloud::Snapshot root;
  ASSERT_TRUE(client_.create_snapshot("vol-web01-root", "e2e-root", json_spirit::Value(root_info), root));

  std::string nif;
  ASSERT_TRUE(client_.create_network_interface("subnet-prod-a", {"sg-default", "sg-web"}, "", "", nif));
  tavrocloud::Network_Interface made;
  ASSERT_TRUE(client_.query_network_interface(nif, made));
  EXPECT_EQ(2u, made.groups.size());

  tavrocloud::Instance instance;
  ASSERT_TRUE(client_.create_instance({{"ImageId", root.id},
                                       {"instanceType", "ts.small"},
                                       {"instanceName", "e2e-restored"},
                                       {"NetworkInterface.1.NetworkInterfaceId", nif}},
                                      instance));
  EXPECT_EQ(tavrocloud::RUNNING, instance.status);
  ASSERT_TRUE(client_.stop_instance(instance.id));
  ASSERT_TRUE(client_.start_instance(instance.id));
  ASSERT_TRUE(client_.delete_instance(instance.id));
  tavrocloud::Instance gone;
  for (int i = 0; i < 5 && gone.status != tavrocloud::TERMINATED; ++i) {
    ASSERT_TRUE(client_.query_instance(instance.id, gone));
  }
  EXPECT_TRUE(client_.delete_network_interface(nif));
  EXPECT_TRUE(client_.delete_snapshot(root.id));
}

TEST_F(Cloud_E2E, New_Resources_Are_Waited_For_Until_The_Cloud_Lists_Them) {
  ASSERT_TRUE(sim_->post("/config", "{\"unlisted_describes\": 2}"));
  test::Log_Capture log;
  tavrocloud::Volume volume;
  ASSERT_TRUE(client_.create_volume("e2e-late", "cluster-a", "st-ceph-01", 1, "", volume));
  tavrocloud::Snapshot snapshot;
  ASSERT_TRUE(client_.create_snapshot("vol-db01-data", "e2e-late", snapshot));
  tavrocloud::Tmp_Snapshot tmp;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-web01-root", tmp));
  tavrocloud::Instance_Backup backup;
  ASSERT_TRUE(client_.create_instance_backup("i-web01", backup));
  EXPECT_FALSE(log.contains("", LM_ERROR)) << log.text();
  EXPECT_TRUE(client_.delete_instance_backup(backup.id));
  EXPECT_TRUE(client_.clear_tmp_snapshot(tmp.id));
  EXPECT_TRUE(client_.delete_snapshot(snapshot.id));
  EXPECT_TRUE(client_.delete_volume(volume.id));
}

TEST_F(Cloud_E2E, A_Volume_And_A_Tmp_Snapshot_Attached_To_The_Agent_Take_Their_Own_Devices) {
  tavrocloud::Tmp_Snapshot tmp;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-db01-data", tmp));
  ASSERT_TRUE(client_.attach_tmp_snapshot(tmp.id, AGENT));
  tavrocloud::Volume volume;
  ASSERT_TRUE(client_.create_volume("e2e-beside", "cluster-a", "st-ceph-01", 1, "", volume));
  std::string device;
  ASSERT_TRUE(client_.attach_volume_to_agent(AGENT, volume.id, device));
  EXPECT_EQ("/dev/vdc", device);  // the agent's root is on vda, the tmp snapshot on vdb
  ASSERT_TRUE(client_.detach_volume(AGENT, device, volume.id));
  EXPECT_TRUE(client_.delete_volume(volume.id));
  ASSERT_TRUE(client_.detach_tmp_snapshot(tmp.id));
  EXPECT_TRUE(client_.clear_tmp_snapshot(tmp.id));
}

TEST_F(Cloud_E2E, A_Result_Answered_False_Is_A_Failure) {
  tavrocloud::Volume volume;
  ASSERT_TRUE(client_.create_volume("e2e-kept", "cluster-a", "st-ceph-01", 1, "", volume));
  fault(R"({"action": "DeleteVolume", "kind": "return_false"})");
  test::Log_Capture log;
  EXPECT_FALSE(client_.delete_volume(volume.id));
  EXPECT_TRUE(log.contains("Failed to delete volume " + volume.id, LM_ERROR)) << log.text();
  tavrocloud::Volume kept;
  EXPECT_TRUE(client_.query_volume(volume.id, kept));
  EXPECT_TRUE(client_.delete_volume(volume.id));
}

TEST_F(Cloud_E2E, Volume_Moves_To_Another_Node) {
  tavrocloud::Volume volume;
  ASSERT_TRUE(client_.create_volume("e2e-local", "cluster-a", "st-ceph-01", 1, "", volume));
  ASSERT_TRUE(client_.modify_volume_storage(volume.id, "st-localvg-a2", "node-a2"));
  tavrocloud::Volume moved;
  ASSERT_TRUE(client_.query_volume(volume.id, moved));
  EXPECT_EQ("node-a2", moved.node_id);
  EXPECT_TRUE(client_.delete_volume(volume.id));
}

TEST_F(Cloud_Device_E2E, A_Residual_Tmp_Snapshot_On_The_Agent_Is_Recovered) {
  std::string residue;
  ASSERT_TRUE(sim_->post("/residue", std::string("{\"volume_id\": \"vol-db01-data\", \"attach_to\": \"") +
                                         AGENT + "\"}",
                         &residue));
  const std::string residue_id = json_str(residue, "id");
  ASSERT_FALSE(residue_id.empty()) << residue;
  std::string local;
  ASSERT_TRUE(tavrocloud::get_local_device(residue_id, local));

  test::Log_Capture log;
  tavrocloud::Tmp_Snapshot snap;
  ASSERT_TRUE(client_.create_tmp_snapshot("vol-db01-data", snap));
  EXPECT_NE(residue_id, snap.id);
  EXPECT_EQ(1u, log.count("try count 1"));
  EXPECT_TRUE(log.contains("The tmp snapshot " + residue_id + " did not exist", LM_DEBUG));
  EXPECT_TRUE(client_.clear_tmp_snapshot(snap.id));
}

// A fault in each wait: the operation fails with the wait's message, hands over what it
// made, and the clean-up that a job would run leaves nothing behind.
struct Wait_Fault {
  const char* name;
  const char* fault;
  const char* message;
  std::function<void(RESTful_Client&, test::Sim_Process&)> run;
};

TEST_F(Cloud_E2E, A_Fault_In_Each_Wait_Is_Reported_And_Cleaned_Up) {
  const std::vector<Wait_Fault> cases = {
      {"volume ends in error", R"({"action": "CreateVolume", "kind": "end_status", "status": "error"})",
       "Invalid resource status:18.\n",
       [](RESTful_Client& c, test::Sim_Process&) {
         tavrocloud::Volume v;
         EXPECT_FALSE(c.create_volume("e2e-bad", "cluster-a", "st-ceph-01", 1, "", v));
         ASSERT_FALSE(v.id.empty());
         EXPECT_TRUE(c.delete_volume(v.id));
       }},
      {"attachment ends in error", R"({"action": "AttachVolume", "kind": "end_status", "status": "error"})",
       "Unexpected volume",
       [](RESTful_Client& c, test::Sim_Process&) {
         tavrocloud::Volume v;
         ASSERT_TRUE(c.create_volume("e2e-att", "cluster-a", "st-ceph-01", 1, "", v));
         std::string device;
         bool accepted = false;
         EXPECT_FALSE(c.attach_volume_to_agent(AGENT, v.id, device, &accepted));
         ASSERT_TRUE(accepted);
         EXPECT_TRUE(c.detach_volume(AGENT, device, v.id));
         EXPECT_TRUE(c.delete_volume(v.id));
       }},
      {"detach never ends", R"({"action": "DetachVolume", "kind": "stuck"})", "Wait for resource timeout.\n",
       [](RESTful_Client& c, test::Sim_Process& sim) {
         tavrocloud::Volume v;
         ASSERT_TRUE(c.create_volume("e2e-det", "cluster-a", "st-ceph-01", 1, "", v));
         std::string device;
         ASSERT_TRUE(c.attach_volume_to_agent(AGENT, v.id, device));
         slept_secs = 0;
         EXPECT_FALSE(c.detach_volume(AGENT, device, v.id));
         EXPECT_EQ(static_cast<unsigned long>(RESTful_Client::WAIT_CHANGE_TIMEOUT), slept_secs.load());
         ASSERT_TRUE(sim.post("/settle", "{}"));
         EXPECT_TRUE(c.delete_volume(v.id));
       }},
      {"tmp snapshot ends in error", R"({"action": "CreateTmpSnapshots", "kind": "end_status", "status": "error"})",
       "Invalid resource status:18.\n",
       [](RESTful_Client& c, test::Sim_Process&) {
         tavrocloud::Tmp_Snapshot t;
         EXPECT_FALSE(c.create_tmp_snapshot("vol-web01-root", t));
         ASSERT_FALSE(t.id.empty());
         EXPECT_TRUE(c.clear_tmp_snapshot(t.id));
       }},
      {"tmp snapshot attachment ends in error",
       R"({"action": "AttachTmpSnapshot", "kind": "end_status", "status": "error"})",
       "Invalid resource status:18.\n",
       [](RESTful_Client& c, test::Sim_Process&) {
         tavrocloud::Tmp_Snapshot t;
         ASSERT_TRUE(c.create_tmp_snapshot("vol-web01-root", t));
         EXPECT_FALSE(c.attach_tmp_snapshot(t.id, AGENT));
         EXPECT_TRUE(c.detach_tmp_snapshot(t.id));
         EXPECT_TRUE(c.clear_tmp_snapshot(t.id));
       }},
      {"snapshot never completes", R"({"action": "CreateSnapshot", "kind": "stuck"})",
       "Wait for resource timeout.\n",
       [](RESTful_Client& c, test::Sim_Process& sim) {
         tavrocloud::Snapshot s;
         slept_secs = 0;
         EXPECT_FALSE(c.create_snapshot("vol-web01-root", "e2e-stuck", s));
         ASSERT_FALSE(s.id.empty());
         EXPECT_EQ(static_cast<unsigned long>(RESTful_Client::WAIT_CREATE_TIMEOUT), slept_secs.load());
         ASSERT_TRUE(sim.post("/settle", "{}"));
         EXPECT_TRUE(c.delete_snapshot(s.id));
       }},
      {"instance backup ends in error", R"({"action": "BackupInstance", "kind": "end_status", "status": "error"})",
       "Invalid resource status:18.\n",
       [](RESTful_Client& c, test::Sim_Process&) {
         tavrocloud::Instance_Backup b;
         EXPECT_FALSE(c.create_instance_backup("i-web01", b));
         ASSERT_FALSE(b.id.empty());
         EXPECT_TRUE(c.delete_instance_backup(b.id));
       }},
      {"stop never ends", R"({"action": "StopInstances", "kind": "stuck"})", "Wait for resource timeout.\n",
       [](RESTful_Client& c, test::Sim_Process& sim) {
         EXPECT_FALSE(c.stop_instance("i-web01"));
         ASSERT_TRUE(sim.post("/settle", "{}"));
         EXPECT_TRUE(c.start_instance("i-web01"));
       }},
      {"move never ends", R"({"action": "ModifyVolumeStorage", "kind": "stuck"})",
       "Wait modify volume",
       [](RESTful_Client& c, test::Sim_Process& sim) {
         tavrocloud::Volume v;
         ASSERT_TRUE(c.create_volume("e2e-move", "cluster-a", "st-ceph-01", 1, "", v));
         EXPECT_FALSE(c.modify_volume_storage(v.id, "st-localvg-a2", "node-a2"));
         ASSERT_TRUE(sim.post("/settle", "{}"));
         EXPECT_TRUE(c.delete_volume(v.id));
       }},
  };
  for (const Wait_Fault& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(sim_->post("/faults", c.fault)) << c.fault;
    test::Log_Capture log;
    c.run(client_, *sim_);
    EXPECT_TRUE(log.contains(c.message, LM_ERROR)) << log.text();
    const std::string left = sim_->get("/leftovers");
    EXPECT_TRUE(json_bool(left, "clean")) << left;
    std::string body;
    sim_->control("DELETE", "/faults", "", body);
  }
}

}  // namespace
