#include "tavrocloud/common/tavrocloud_restful_client.h"

#include "runtime/network_interface.h"
#include "scripted_cloud.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using tavrocloud::RESTful_Client;
using test::Answer;
using test::Sent;

const char UNEXPECTED[] = "Unexpected volume %s status %d, attachment status %d.\n";
const char NO_MATCH[] = "Failed to match agent instance by mac address %s.\n";

// A cloud that keeps the attachments of its volumes: an attach request makes an
// attachment that shows "attaching" at the first poll and "attached" from the second;
// listing an instance's volumes shows an attachment only once a poll saw it attached.
class Attachment_Cloud {
 public:
  struct Attachment {
    std::string instance;
    std::string device;
    int polls_left;  // polls that still show "attaching"
    bool seen_attached;
  };

  explicit Attachment_Cloud(test::Scripted_Cloud& cloud) {
    cloud.respond([this](const Sent& s) { return answer(s); });
  }

  void attach(const std::string& volume, const std::string& instance, const std::string& device) {
    std::lock_guard<std::mutex> lock(mutex_);
    volumes_[volume] = {instance, device, 0, true};
  }

 private:
  static std::string param(const Sent& s, const std::string& name) {
    for (const auto& p : s.params) {
      if (p.first == name) return p.second;
    }
    return std::string();
  }

  Answer answer(const Sent& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s.action == "AttachVolume") {
      volumes_[param(s, "VolumeId")] = {param(s, "InstanceId"), param(s, "Device"), 1, false};
      return test::ok("AttachVolume", test::fields({{"status", "attaching"}}));
    }
    if (s.action != "DescribeVolumes") return test::refused("unexpected " + s.action);
    const std::string key = param(s, "Filter.1.Name");
    const std::string value = param(s, "Filter.1.Value.1");
    std::vector<std::string> items;
    for (auto& v : volumes_) {
      Attachment& a = v.second;
      if (key == "attachment.instance-id" && a.instance == value && a.seen_attached) {
        items.push_back(test::volume_item(v.first, "in-use", a.instance, a.device, "attached"));
      } else if (key == "volume-id" && v.first == value) {
        const bool attaching = a.polls_left > 0;
        if (attaching) --a.polls_left;
        a.seen_attached = !attaching;
        items.push_back(test::volume_item(v.first, "in-use", a.instance, a.device,
                                          attaching ? "attaching" : "attached"));
      }
    }
    return test::volumes(items);
  }

  std::mutex mutex_;
  std::map<std::string, Attachment> volumes_;
};

class Agent_Test : public ::testing::Test {
 protected:
  void SetUp() override { cloud.login(client); }

  test::Scripted_Cloud cloud;
  RESTful_Client client;
  test::Log_Capture log;
};

TEST_F(Agent_Test, Attaches_Under_The_Next_Device_Name) {
  test::Sleep_Recorder sleeps;
  Attachment_Cloud attachments(cloud);
  attachments.attach("vol-root", "i-agent", "/dev/vda");
  attachments.attach("vol-data", "i-agent", "/dev/vdb");
  attachments.attach("vol-else", "i-db", "/dev/vdf");
  std::string device;
  bool accepted = false;
  ASSERT_TRUE(client.attach_volume_to_agent("i-agent", "vol-new", device, &accepted));
  EXPECT_EQ("/dev/vdc", device);
  EXPECT_TRUE(accepted);
  const std::vector<Sent> sent = cloud.sent();
  ASSERT_EQ(4u, sent.size());
  EXPECT_EQ((Sent{"AttachVolume", {{"InstanceId", "i-agent"}, {"Device", "/dev/vdc"}, {"VolumeId", "vol-new"}}}),
            sent[1]);
  EXPECT_EQ(std::vector<unsigned int>({2}), sleeps.waits());
  EXPECT_EQ("", log.text());
}

// The second attachment, started while the first one waits, must wait for the lock and
// then see the first one's device: vdc and vdd, never vdc twice.
TEST_F(Agent_Test, Concurrent_Attachments_Choose_Distinct_Devices) {
  Attachment_Cloud attachments(cloud);
  attachments.attach("vol-root", "i-agent", "/dev/vda");
  attachments.attach("vol-data", "i-agent", "/dev/vdb");

  std::mutex m;
  std::condition_variable cv;
  bool first_waiting = false;
  std::thread::id first_thread;
  test::Sleep_Recorder sleeps([&](size_t) {
    std::unique_lock<std::mutex> lock(m);
    if (first_waiting || std::this_thread::get_id() != first_thread) return;
    first_waiting = true;
    cv.notify_all();
    // Give the second attachment the chance to run into the first one's choice; with
    // the lock it cannot, and this waits the whole (short) while in vain.
    cv.wait_for(lock, std::chrono::milliseconds(200), [&] {
      const auto actions = cloud.actions();
      return std::count(actions.begin(), actions.end(), "DescribeVolumes") > 3;
    });
  });

  RESTful_Client second_client;
  cloud.login(second_client);
  std::string first_device;
  std::string second_device;
  bool first_ok = false;
  bool second_ok = false;
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
  EXPECT_TRUE(first_ok);
  EXPECT_TRUE(second_ok);
  EXPECT_EQ("/dev/vdc", first_device);
  EXPECT_EQ("/dev/vdd", second_device);
}

TEST_F(Agent_Test, An_Instance_Without_Volumes_Fails_Silently) {
  cloud.expect("DescribeVolumes", test::volumes({}));
  std::string device = "untouched";
  bool accepted = true;
  EXPECT_FALSE(client.attach_volume_to_agent("i-agent", "vol-new", device, &accepted));
  EXPECT_EQ("untouched", device);
  EXPECT_FALSE(accepted);
  EXPECT_EQ("", log.text());
}

TEST_F(Agent_Test, A_Refused_Attach_Leaves_Nothing_To_Undo) {
  cloud.expect("DescribeVolumes", test::volumes({test::volume_item("vol-1", "in-use", "i-agent", "/dev/vda", "attached")}))
      .expect("AttachVolume", test::refused("quota"));
  std::string device;
  bool accepted = true;
  EXPECT_FALSE(client.attach_volume_to_agent("i-agent", "vol-new", device, &accepted));
  EXPECT_EQ("/dev/vdb", device);
  EXPECT_FALSE(accepted);
  EXPECT_EQ(1u, log.count("Failed to attach volume vol-new to instance i-agent, device is /dev/vdb, msg: quota.\n"));
}

// How the attachment wait reads each poll: which states keep it going and which end it.
TEST_F(Agent_Test, Attachment_Wait_Outcomes) {
  struct Case {
    const char* name;
    std::vector<Answer> polls;
    bool result;
    std::string logged;
    std::vector<unsigned int> waits;
  };
  const std::vector<Case> cases = {
      {"in use while attaching",
       {test::volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attaching"),
        test::volume("vol-new", "available", "", "", "attaching"),
        test::volume("vol-new", "in-use", "", "", "detached"),
        test::volume("vol-new", "in-use", "i-agent", "/dev/vdb", "attached")},
       true, "", {2, 4, 8}},
      {"detached again",
       {test::volume("vol-new", "available", "", "", "detached")},
       false, test::line(UNEXPECTED, {"vol-new", "3", "6"}), {}},
      {"attached elsewhere",
       {test::volume("vol-new", "in-use", "i-other", "/dev/vdb", "attached")},
       false, "Volume vol-new is attached to instance i-other, not to i-agent.\n", {}},
      {"vanished",
       {test::volumes({})},
       false, "Failed to query volume vol-new, volumes size not 1, size is 0.\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::Sleep_Recorder sleeps;
    log.clear();
    cloud.expect("DescribeVolumes", test::volumes({test::volume_item("vol-1", "in-use", "i-agent", "/dev/vda", "attached")}))
        .expect("AttachVolume", test::ok("AttachVolume"));
    for (const Answer& a : c.polls) cloud.expect("DescribeVolumes", a);
    std::string device;
    bool accepted = false;
    EXPECT_EQ(c.result, client.attach_volume_to_agent("i-agent", "vol-new", device, &accepted));
    EXPECT_TRUE(accepted);
    EXPECT_EQ("/dev/vdb", device);
    EXPECT_EQ(c.waits, sleeps.waits());
    if (c.logged.empty()) {
      EXPECT_EQ("", log.text());
    } else {
      EXPECT_EQ(1u, log.count(c.logged)) << log.text();
    }
  }
}

TEST_F(Agent_Test, A_Stuck_Attachment_Times_Out) {
  test::Sleep_Recorder sleeps;
  cloud.expect("DescribeVolumes", test::volumes({test::volume_item("vol-1", "in-use", "i-agent", "/dev/vda", "attached")}))
      .expect("AttachVolume", test::ok("AttachVolume"));
  cloud.respond([](const Sent&) { return test::volume("vol-new", "available", "i-agent", "/dev/vdb", "attaching"); });
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

TEST_F(Agent_Test, Instance_Id_From_The_Product_Identifier) {
  struct Case {
    std::string content;
    std::string id;
  };
  const Case cases[] = {
      {"3f2b8c1e-9d7a-4e55-b0c1-aa5f4f4a3732  \t\n", "i-4F4A3732"},
      {"4f4a3732", "i-4F4A3732"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    Product_Uuid_File file(&c.content);
    std::string id;
    ASSERT_TRUE(client.agent_instance_id(id));
    EXPECT_EQ(c.id, id);
  }
  EXPECT_TRUE(cloud.sent().empty());
}

// This machine's MAC text as the cloud would report it (empty when it has no
// non-loopback IPv4 interface).
std::string machine_mac() {
  Network_Interface_Enumerator interfaces;
  while (interfaces.next()) {
    const Network_Interface& nif = interfaces.value();
    if (!nif.address.is_loopback() && nif.address.get_type() == AF_INET) {
      return ACE_MAC_Addr_String(nif.mac.data(), ':').c_str();
    }
  }
  return std::string();
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(Agent_Test, Instance_Id_From_The_Mac_Address) {
  const std::string mac = machine_mac();
  if (mac.empty()) GTEST_SKIP() << "this machine has no non-loopback IPv4 interface";
  const std::string short_line = "4a3732";
  for (const std::string* content : {static_cast<const std::string*>(nullptr), &short_line}) {
    SCOPED_TRACE(content ? "short identifier" : "no identifier file");
    Product_Uuid_File file(content);
    log.clear();
    cloud.forget_sent();
    cloud.expect("DescribeInstances",
                 test::instances({test::instance_item("i-other", "running", "52:54:00:00:00:01"),
                                  test::instance_item("i-agent", "running", upper(mac)),
                                  test::instance_item("i-twin", "running", mac)}));
    std::string id;
    ASSERT_TRUE(client.agent_instance_id(id));
    EXPECT_EQ("i-agent", id);
    EXPECT_EQ(std::vector<Sent>({{"DescribeInstances", {}}}), cloud.sent());
    EXPECT_TRUE(log.contains("Get instance i-agent by mac address " + upper(mac) + " succeeded.\n", LM_DEBUG));
  }

  Product_Uuid_File file(nullptr);
  log.clear();
  cloud.expect("DescribeInstances", test::instances({test::instance_item("i-other", "running", "52:54:00:00:00:01")}));
  std::string id = "untouched";
  EXPECT_FALSE(client.agent_instance_id(id));
  EXPECT_EQ("untouched", id);
  EXPECT_TRUE(log.contains(test::line(NO_MATCH, {mac}), LM_DEBUG));

  log.clear();
  cloud.expect("DescribeInstances", test::refused("denied"));
  EXPECT_FALSE(client.agent_instance_id(id));
  EXPECT_TRUE(log.contains(test::line(NO_MATCH, {mac}), LM_DEBUG));
}

}  // namespace
