// The machine's network interfaces and MAC address text. The cloud client finds the
// agent's own instance by the MAC address of its first non-loopback IPv4 interface.
#ifndef HOST_RUNTIME_NETWORK_INTERFACE_H
#define HOST_RUNTIME_NETWORK_INTERFACE_H

#include <ace/INET_Addr.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// One address of one interface.
struct Network_Interface {
  std::string name;         // "eth0"
  unsigned int flags = 0;   // IFF_UP, IFF_LOOPBACK, ... of the interface
  ACE_INET_Addr address;    // IPv4 (AF_INET) or IPv6 (AF_INET6), port 0
  ACE_INET_Addr netmask;    // same family as address; unset when the system gives none
  ACE_INET_Addr broadcast;  // IPv4 broadcast address; unset otherwise
  std::array<unsigned char, 6> mac{};  // link-layer address, all zero when unknown
  bool has_mac = false;
};

// Walks the interfaces as they were when the enumerator was built: one value per
// IPv4 or IPv6 address, in the system's order; interfaces without an address are left out.
class Network_Interface_Enumerator {
 public:
  Network_Interface_Enumerator();

  // Advances to the next value; false when there is none (also when the system could
  // not be asked; error() then gives errno).
  bool next();
  // The current value; only valid after next() returned true.
  const Network_Interface& value() const { return entries_[pos_ - 1]; }
  int error() const { return error_; }

 private:
  std::vector<Network_Interface> entries_;
  size_t pos_ = 0;
  int error_ = 0;
};

// A 6-byte MAC address as text: two lower-case hex digits per byte joined by `sep`
// ("52:54:00:ab:cd:ef"), or without separator when `sep` is '\0'; empty for a null
// address. The cloud reports instance MAC addresses in this form.
class ACE_MAC_Addr_String {
 public:
  ACE_MAC_Addr_String(const unsigned char* mac, char sep = ':');
  const char* c_str() const { return buf_; }

 private:
  char buf_[18];
};

#endif  // HOST_RUNTIME_NETWORK_INTERFACE_H
