#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scripted_cloud.h"

namespace {

using tavrocloud::RESTful_Client;
using namespace test;

using Agent_Test = Scripted_Client_Test;

std::string param(const Sent& s, const std::string& name) {
  for (const auto& p : s.params) {
    if (p.first == name) return p.second;
  }
  return std::string();
}

// The second attachment, started while the first one waits, must wait for the lock and
// then see the first one's device: vdc and vdd, never vdc twice. The cloud keeps the
// attachments: a new one shows "attaching" at its first poll, "attached" from the second,
// and is listed among the instance's volumes only once a poll saw it attached.
TEST_F(Agent_Test, Concurrent_Attachments_Choose_Distinct_Devices) {
  std::mutex m;
  std::map<std::string, std::pair<std::string, int>> attached{{"vol-root", {"/dev/vda", 2}},
                                                               {"vol-data", {"/dev/vdb", 2}}};
  cloud.respond([&](const Sent& s) {
    std::lock_guard<std::mutex> lock(m);
    if (s.action == "AttachVolume") attached[param(s, "VolumeId")] = {param(s, "Device"), 0};
    std::vector<std::string> items;
    for (auto& v : attached) {
      if (param(s, "Filter.1.Name") == "volume-id" && v.first == param(s, "Filter.1.Value.1")) {
        ++v.second.second;
        items.push_back(volume_item(v.first, "in-use", "i-agent", v.second.first,
                                    v.second.second > 1 ? "attached" : "attaching"));
      } else if (param(s, "Filter.1.Name") == "attachment.instance-id" && v.second.second > 1) {
        items.push_back(volume_item(v.first, "in-use", "i-agent", v.second.first, "attached"));
      }
    }
    return s.action == "AttachVolume" ? ok("AttachVolume") : volumes(items);
  });
  std::condition_variable cv;
  bool first_waiting = false;
  std::thread::id first_thread;
  Sleep_Recorder held([&](size_t) {
    std::unique_lock<std::mutex> lock(m);
    if (first_waiting || std::this_thread::get_id() != first_thread) return;
    first_waiting = true;
    cv.notify_all();
    // Give the second attachment the chance to run into the first one's choice; with
    // the lock it cannot, and this waits the whole (short) while in vain.
    cv.wait_for(lock, std::chrono::milliseconds(200));
  });
  RESTful_Client second_client;
  cloud.login(second_client);
  std::string first_device, second_device;
  bool first_ok = false, second_ok = false;
  std::thread first([&] {
    {
      std::lock_guard<std::mutex> lock(m);
      first_thread = std::this_thread::get_id();
    }
    first_ok = client.attach_volume_to_agent("i-agent", "vol-a", first_device);
  });
  {
    std::unique_lock<std::mutex> lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return first_waiting; }));
  }
  std::thread second([&] { second_ok = second_client.attach_volume_to_agent("i-agent", "vol-b", second_device); });
  first.join();
  second.join();
  EXPECT_TRUE(first_ok && second_ok);
  EXPECT_EQ("/dev/vdc", first_device);
  EXPECT_EQ("/dev/vdd", second_device);
}

// How an attachment to the agent goes: the device after the instance's last one, the
// attach request, then a wait that reads each poll.
TEST_F(Agent_Test, Attachment_Outcomes) {
  const Answer listed = volumes({volume_item("vol-1", "in-use", "i-agent", "/dev/vda", "attached")});
  const struct {
    const char* name;
    Script script;
    bool result;
    bool accepted;
    std::string logged;
    std::vector<unsigned int> waits;
  } cases[] = {
      {"no volumes", {{"DescribeVolumes", volumes({})}}, false, false, "", {}},
      {"attach refused", {{"DescribeVolumes", listed}, {"AttachVolume", refused("quota")}}, false, false,
       "Failed to attach volume vol-new to instance i-agent, device is /dev/vdb, msg: quota.\n", {}},
      {"in use while attaching",
       {{"DescribeVolumes", listed}, {"AttachVolume", ok("AttachVolume")},
        {"DescribeVolumes", volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attaching")},
        {"DescribeVolumes", volume("vol-new", "available", "", "", "attaching")},
        {"DescribeVolumes", volume("vol-new", "in-use", "", "", "detached")},
        {"DescribeVolumes", volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attached")}},
       true, true, "", {2, 4, 8}},
      {"detached again",
       {{"DescribeVolumes", listed}, {"AttachVolume", ok("AttachVolume")},
        {"DescribeVolumes", volume("vol-new", "available", "", "", "detached")}},
       false, true, "Unexpected volume vol-new status 3, attachment status 6.\n", {}},
      {"attached elsewhere",
       {{"DescribeVolumes", listed}, {"AttachVolume", ok("AttachVolume")},
        {"DescribeVolumes", volume("vol-new", "in-use", "i-other", "/dev/vdb", "attached")}},
       false, true, "Volume vol-new is attached to instance i-other, not to i-agent.\n", {}},
      {"vanished",
       {{"DescribeVolumes", listed}, {"AttachVolume", ok("AttachVolume")}, {"DescribeVolumes", volumes({})}},
       false, true, "Failed to query volume vol-new, volumes size not 1, size is 0.\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sleep_Recorder sleeps;
    log.clear();
    cloud.forget_sent();
    cloud.expect_all(c.script);
    std::string device = "untouched";
    bool accepted = !c.accepted;
    EXPECT_EQ(c.result, client.attach_volume_to_agent("i-agent", "vol-new", device, &accepted));
    EXPECT_EQ(c.accepted, accepted);
    EXPECT_EQ(c.script.size() > 1 ? "/dev/vdb" : "untouched", device);
    EXPECT_EQ(c.waits, sleeps.waits());
    EXPECT_EQ(c.logged.empty() ? 0u : 1u, log.entries().size()) << log.text();
    EXPECT_EQ(c.logged.empty() ? 0u : 1u, log.count(c.logged)) << log.text();
    EXPECT_EQ((Sent{"DescribeVolumes", {{"Filter.1.Name", "attachment.instance-id"}, {"Filter.1.Value.1", "i-agent"}}}),
              cloud.sent().front());
    if (c.script.size() > 1) {
      EXPECT_EQ((Sent{"AttachVolume", {{"InstanceId", "i-agent"}, {"Device", "/dev/vdb"}, {"VolumeId", "vol-new"}}}),
                cloud.sent()[1]);
    }
  }
  Sleep_Recorder sleeps;
  cloud.expect_all({{"DescribeVolumes", listed}, {"AttachVolume", ok("AttachVolume")}});
  cloud.respond([](const Sent&) { return volume("vol-new", "available", "i-agent", "/dev/vdb", "attaching"); });
  std::string device;
  EXPECT_FALSE(client.attach_volume_to_agent("i-agent", "vol-new", device));
  EXPECT_EQ(1u, log.count("Wait attach volume vol-new be target timeout.\n"));
  EXPECT_EQ(static_cast<unsigned long>(RESTful_Client::WAIT_CHANGE_TIMEOUT), sleeps.total());
}

// ---- discovery of the agent's own instance --------------------------------------------------

class Product_Uuid_File {
 public:
  explicit Product_Uuid_File(const std::string* content) {
    path_ = ::testing::TempDir() + "product_uuid." + std::to_string(::getpid());
    std::remove(path_.c_str());
    if (content != nullptr) std::ofstream(path_) << *content;
    previous_ = RESTful_Client::set_product_uuid_path(path_);
  }
  ~Product_Uuid_File() {
    RESTful_Client::set_product_uuid_path(previous_);
    std::remove(path_.c_str());
  }

 private:
  std::string path_;
  std::string previous_;
};

// From the product identifier's last eight digits, without asking the cloud (the MAC
// address way is checked end to end).
TEST_F(Agent_Test, Instance_Id_From_The_Product_Identifier) {
  for (const std::string content : {"3f2b8c1e-9d7a-4e55-b0c1-aa5f4f4a3732  \t\n", "4f4a3732"}) {
    Product_Uuid_File file(&content);
    std::string id;
    ASSERT_TRUE(client.agent_instance_id(id));
    EXPECT_EQ("i-4F4A3732", id);
  }
  EXPECT_TRUE(cloud.sent().empty());

}

}  // namespace
