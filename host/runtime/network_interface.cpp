#include "runtime/network_interface.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>

namespace {

bool is_inet(const sockaddr* sa) {
  return sa != nullptr && (sa->sa_family == AF_INET || sa->sa_family == AF_INET6);
}

void set_inet(ACE_INET_Addr& out, const sockaddr* sa) {
  if (!is_inet(sa)) return;
  const int len = sa->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
  out.set(reinterpret_cast<const sockaddr_in*>(sa), len);
}

// Link-layer addresses by interface name, from the AF_PACKET entries.
std::map<std::string, std::array<unsigned char, 6>> macs_by_name(const ifaddrs* list) {
  std::map<std::string, std::array<unsigned char, 6>> macs;
  for (const ifaddrs* ifa = list; ifa != nullptr; ifa = ifa->ifa_next) {
    if (ifa->ifa_addr == nullptr || ifa->ifa_addr->sa_family != AF_PACKET) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
    if (ll->sll_halen != 6) continue;
    std::array<unsigned char, 6> mac;
    std::memcpy(mac.data(), ll->sll_addr, mac.size());
    macs[ifa->ifa_name] = mac;
  }
  return macs;
}

}  // namespace

Network_Interface_Enumerator::Network_Interface_Enumerator() {
  ifaddrs* raw = nullptr;
  if (::getifaddrs(&raw) != 0) {
    error_ = errno;
    return;
  }
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> list(raw, &::freeifaddrs);
  const auto macs = macs_by_name(list.get());
  for (const ifaddrs* ifa = list.get(); ifa != nullptr; ifa = ifa->ifa_next) {
    if (!is_inet(ifa->ifa_addr)) continue;
    Network_Interface entry;
    entry.name = ifa->ifa_name;
    entry.flags = ifa->ifa_flags;
    set_inet(entry.address, ifa->ifa_addr);
    set_inet(entry.netmask, ifa->ifa_netmask);
    if ((ifa->ifa_flags & IFF_BROADCAST) != 0) set_inet(entry.broadcast, ifa->ifa_broadaddr);
    const auto mac = macs.find(entry.name);
    if (mac != macs.end()) {
      entry.mac = mac->second;
      entry.has_mac = true;
    }
    entries_.push_back(entry);
  }
}

bool Network_Interface_Enumerator::next() {
  if (pos_ >= entries_.size()) return false;
  ++pos_;
  return true;
}

ACE_MAC_Addr_String::ACE_MAC_Addr_String(const unsigned char* mac, char sep) {
  static const char digits[] = "0123456789abcdef";
  char* p = buf_;
  *p = '\0';
  if (mac == nullptr) return;
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && sep != '\0') *p++ = sep;
    *p++ = digits[mac[i] >> 4];
    *p++ = digits[mac[i] & 0x0F];
  }
  *p = '\0';
}
