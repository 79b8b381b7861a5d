#include "runtime/network_interface.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The interfaces themselves are listed end to end, where the agent instance is found by
// this machine's MAC address.
TEST(ACE_MAC_Addr_String, FormatsLowerCaseWithSeparator) {
  const unsigned char mac[6] = {0x52, 0x54, 0x00, 0xAB, 0xCD, 0x0F};
  EXPECT_STREQ(ACE_MAC_Addr_String(mac).c_str(), "52:54:00:ab:cd:0f");
  EXPECT_STREQ(ACE_MAC_Addr_String(mac, '-').c_str(), "52-54-00-ab-cd-0f");
  EXPECT_STREQ(ACE_MAC_Addr_String(mac, '\0').c_str(), "525400abcd0f");
  EXPECT_STREQ(ACE_MAC_Addr_String(nullptr).c_str(), "");
}

}  // namespace
