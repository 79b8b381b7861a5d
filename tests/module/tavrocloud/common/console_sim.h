// The cloud simulator with the console tests' own small cloud, started once per test
// binary: a terminated instance, a disabled storage, nodes whose names differ only in
// case, networks and security groups of several owners, an instance whose volumes are
// 1500 and 1023 GiB. The agent's identity comes from a product-id file that the client
// reads too, so the agent is known on both sides wherever the test runs.
#ifndef TESTS_MODULE_TAVROCLOUD_COMMON_CONSOLE_SIM_H
#define TESTS_MODULE_TAVROCLOUD_COMMON_CONSOLE_SIM_H

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "e2e/sim_process.h"
#include "support/temp_home.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"

namespace test {

constexpr char CONSOLE_AK[] = "AKIDCONSOLETEST00001";
constexpr char CONSOLE_SK[] = "console/Test+Secret/Key01";

constexpr char CONSOLE_SEED[] = R"({
 "config": {"version": "V9.8", "owner_id": "owner-1"},
 "cloud": {"id": "cloud-1", "name": "Cloud One", "status": "available"},
 "clusters": [{"id": "cl-a", "name": "Zone A"}, {"id": "cl-b", "name": "Zone B"}],
 "nodes": [
  {"id": "n-1", "name": "WEB-01", "cluster": "cl-a", "cpu_max": 32, "cpu_sockets": 2,
   "cpu_used": 3, "memory_max": 65536, "memory_used": 1024},
  {"id": "n-2", "name": "myweb", "cluster": "cl-b"},
  {"id": "n-3", "name": "db-01", "cluster": "cl-a"}],
 "storages": [{"id": "st-1", "name": "ceph-1", "type": "ceph", "space_max": 2048},
              {"id": "st-2", "name": "old-nfs", "type": "nfs_raw", "disabled": true}],
 "instance_types": [{"id": "t.small", "display_name": "Small"}],
 "images": [{"id": "img-1", "name": "base"}],
 "vpcs": [{"id": "vpc-own", "name": "mine", "cidr": "10.0.0.0/16"},
          {"id": "vpc-shared", "name": "public", "cidr": "10.1.0.0/16", "shared": true,
           "owner_id": "owner-2"},
          {"id": "vpc-free", "name": "ownerless", "cidr": "10.2.0.0/16", "owner_id": ""}],
 "subnets": [{"id": "sn-1", "name": "Front", "vpc": "vpc-own", "cidr": "10.0.1.0/24"},
             {"id": "sn-2", "name": "back", "vpc": "vpc-shared", "cidr": "10.1.1.0/24"}],
 "security_groups": [{"id": "sg-own", "name": "web-sg"},
                     {"id": "sg-other", "name": "other-sg", "owner_id": "owner-2"},
                     {"id": "sg-shared", "name": "shared-sg", "owner_id": "owner-2",
                      "shared": true}],
 "instances": [
  {"id": "i-agent", "name": "agent", "agent": true, "type": "t.small", "image": "img-1",
   "node": "n-1", "volumes": [{"id": "vol-agent", "size": 1, "storage": "st-1",
                               "device": "/dev/vda", "root": true, "data": false}]},
  {"id": "i-big", "name": "BigVM", "type": "t.small", "image": "img-1", "node": "n-1",
   "volumes": [{"id": "vol-big-0", "name": "big-root", "size": 1500, "storage": "st-1",
                "device": "/dev/vda", "root": true, "data": false},
               {"id": "vol-big-1", "name": "big-data", "size": 1023, "storage": "st-1",
                "device": "/dev/vdb", "data": false}]},
  {"id": "i-gone", "name": "gonevm", "type": "t.small", "image": "img-1", "node": "n-1",
   "status": "terminated",
   "volumes": [{"id": "vol-gone", "size": 1, "storage": "st-1", "device": "/dev/vda",
                "root": true, "data": false}]},
  {"id": "i-stop", "name": "stopvm", "type": "t.small", "image": "img-1", "node": "n-3",
   "status": "stopped",
   "volumes": [{"id": "vol-stop", "size": 1, "storage": "st-1", "device": "/dev/vda",
                "root": true, "data": false}]}]
})";

// The agent's id as both the simulator and the client derive it from the product id.
constexpr char CONSOLE_AGENT_ID[] = "i-AGENT001";

class Console_Sim : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<Temp_Dir>("quillon3-console-sim-");
    ASSERT_TRUE(dir_->made());
    const std::string seed = dir_->path() + "/seed.json";
    const std::string dmi = dir_->path() + "/product_uuid";
    std::ofstream(seed) << CONSOLE_SEED;
    std::ofstream(dmi) << "5e1f0c3a-0000-0000-0000-0000agent001\n";
    previous_dmi_ = tavrocloud::RESTful_Client::set_product_uuid_path(dmi);
    Sim_Options options;
    options.seed = seed;
    options.accounts = std::string(CONSOLE_AK) + ":" + CONSOLE_SK;
    options.dev_root = dir_->path();
    options.loop = "link";
    options.extra_args = {"--dmi-path", dmi};
    sim_ = std::make_unique<Sim_Process>(options);
    if (!sim_->running()) error_ = sim_->error();
    port_ = sim_->running() ? sim_->port() : 0;
    current_ = sim_.get();
  }
  void TearDown() override {
    current_ = nullptr;
    sim_.reset();
    tavrocloud::RESTful_Client::set_product_uuid_path(previous_dmi_);
    dir_.reset();
  }

  // The simulator's port; 0 (and error() says why) when it did not start.
  static uint16_t port() { return port_; }
  static const std::string& error() { return error_; }
  // The running simulator (for faults); null before SetUp.
  static Sim_Process* sim() { return current_; }

 private:
  std::unique_ptr<Temp_Dir> dir_;
  std::unique_ptr<Sim_Process> sim_;
  std::string previous_dmi_;
  static inline uint16_t port_ = 0;
  static inline std::string error_;
  static inline Sim_Process* current_ = nullptr;
};

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_COMMON_CONSOLE_SIM_H
