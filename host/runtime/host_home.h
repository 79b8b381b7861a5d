// The host's home directory: where its identity, keys, cloud accounts, pool registry,
// catalog and memory-mapped activity records live. Every host component that builds a
// path under "/var/opt/telquin/quillon3" asks here, so one variable moves them all.
#ifndef HOST_RUNTIME_HOST_HOME_H
#define HOST_RUNTIME_HOST_HOME_H

#include <string>

// The built-in home, used when QUILLON3_ROOT is unset or empty.
constexpr const char HOST_HOME_DEFAULT[] = "/var/opt/telquin/quillon3";

// The value of QUILLON3_ROOT when it is set and not empty, else HOST_HOME_DEFAULT.
// Read on every call, so tests may point it at a temporary directory at any time.
std::string host_home();

#endif  // HOST_RUNTIME_HOST_HOME_H
