// The account of one registered cloud: where its query API listens and the two keys that
// sign requests. Loaded by `get_login_info` (utils.h) or filled from the console's login
// params, then copied into each cloud client and into the jobs' shared parameters. The
// keys live only in wiping strings and are never logged.
#ifndef TAVROCLOUD_COMMON_TAVROCLOUD_LOGIN_H
#define TAVROCLOUD_COMMON_TAVROCLOUD_LOGIN_H

#include <cstdint>
#include <string>

#include "json/value.h"
#include "yolt/secure_string.h"

namespace tavrocloud {

struct Login {
  Login();
  Login(const std::string& host, uint16_t port, bool ssl, const std::string& locale,
        const secure_string& access_key, const secure_string& security_key);

  // Fills the record from {"host", "port", "ssl", "locale", "access_key", "security_key"}
  // (every key required; the keys may be plain or secure strings; "port" must lie in
  // 1..65535). On a missing, mistyped or out-of-range member logs "Failed to parse Login:
  // %s\n" and returns false: the members read before it keep their new values, the two
  // keys are only replaced once everything was read.
  bool operator<<(const json_spirit::Object& obj);

  // Writes the same six members into `obj`, replacing members of the same names; the
  // keys as secure-string values.
  void operator>>(json_spirit::Object& obj) const;

  std::string host;
  uint16_t port;
  bool ssl;
  std::string locale;
  secure_string access_key;
  secure_string security_key;  // host-encrypted as stored; plain after decrypt_security_key
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_COMMON_TAVROCLOUD_LOGIN_H
