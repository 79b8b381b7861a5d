#include "tavrocloud/instance_handler/tavrocloud_instance_handler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// A probe, repeated, keeps one proxy beside the other instances; the state is always enabled.
TEST(Tavrocloud_Instance_Handler, OneProxyAlwaysEnabled) {
  Tavrocloud_Instance_Handler handler;
  const auto other = std::make_shared<Instance>();
  Instance_Handler::instances_type instances{{"vm-1", other}};
  ASSERT_EQ(0, handler.probe_instances(instances));
  ASSERT_EQ(0, handler.probe_instances(instances));
  const Instance& proxy = *instances.at("Tavrocloud_Proxy");
  EXPECT_EQ(2u, instances.size());
  EXPECT_EQ(other, instances.at("vm-1"));
  EXPECT_EQ("tavrocloud/Tavrocloud_Proxy/", proxy.type + "/" + proxy.name + "/" + proxy.uuid);
  EXPECT_EQ((json_spirit::Object{{"is_proxy", json_spirit::Value(true)}}), proxy.options);
  std::string state = "stale";
  EXPECT_EQ("enabled", handler.get_state("never-probed", state));
}
