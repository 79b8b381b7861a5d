#include "tavrocloud/instance_handler/tavrocloud_instance_handler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

TEST(Tavrocloud_Instance_Handler, OneProxyAlwaysEnabled) {
  Tavrocloud_Instance_Handler handler;
  Instance_Handler::instances_type instances;
  const auto other = std::make_shared<Instance>();
  instances["vm-1"] = other;
  ASSERT_EQ(0, handler.probe_instances(instances));
  const std::shared_ptr<Instance> first = instances.at("Tavrocloud_Proxy");
  ASSERT_EQ(0, handler.probe_instances(instances));
  ASSERT_EQ(2u, instances.size());
  EXPECT_EQ(other, instances.at("vm-1"));
  const Instance& proxy = *instances.at("Tavrocloud_Proxy");
  EXPECT_NE(first.get(), &proxy) << "each probe makes a new proxy";
  EXPECT_EQ("tavrocloud/Tavrocloud_Proxy/", proxy.type + "/" + proxy.name + "/" + proxy.uuid);
  EXPECT_EQ((json_spirit::Object{{"is_proxy", json_spirit::Value(true)}}), proxy.options);

  std::string state = "stale";
  EXPECT_EQ(&state, &handler.get_state("never-probed", state));
  EXPECT_EQ("enabled", state);
  EXPECT_EQ(0, handler.logon(nullptr, nullptr, nullptr, nullptr));
}
