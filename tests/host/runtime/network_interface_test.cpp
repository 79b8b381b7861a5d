#include "runtime/network_interface.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <sys/socket.h>

#include <string>

namespace {

TEST(ACE_MAC_Addr_String, FormatsLowerCaseWithSeparator) {
  const unsigned char mac[6] = {0x52, 0x54, 0x00, 0xAB, 0xCD, 0x0F};
  EXPECT_EQ(std::string(ACE_MAC_Addr_String(mac).c_str()) + " " + ACE_MAC_Addr_String(mac, '-').c_str() + " " +
                ACE_MAC_Addr_String(mac, '\0').c_str() + ACE_MAC_Addr_String(nullptr).c_str(),
            "52:54:00:ab:cd:0f 52-54-00-ab-cd-0f 525400abcd0f");
}

// Every machine, containers included, has the IPv4 loopback interface.
TEST(Network_Interface_Enumerator, ListsTheLoopbackAddress) {
  Network_Interface_Enumerator e;
  ASSERT_EQ(e.error(), 0);
  bool loopback = false;
  while (e.next()) {
    const Network_Interface& itf = e.value();
    EXPECT_FALSE(itf.name.empty());
    const int type = itf.address.get_type();
    EXPECT_TRUE(type == AF_INET || type == AF_INET6) << itf.name;
    if (type == AF_INET && itf.address.is_loopback()) {
      loopback = true;
      EXPECT_NE(itf.flags & IFF_LOOPBACK, 0u);
      char text[INET6_ADDRSTRLEN] = {};
      itf.netmask.get_host_addr(text, sizeof text);
      EXPECT_STREQ(text, "255.0.0.0");
    }
  }
  EXPECT_TRUE(loopback);
  EXPECT_FALSE(e.next());
}

}  // namespace
