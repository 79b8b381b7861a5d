// The keys that sign requests to the cloud's query API. Built by the cloud client's login
// from a stored account and handed to `cloud::aws::SDK::make_client`, which keeps its own
// copy; every key lives only in wiping strings and is never written to a log.
#ifndef HOST_CLOUD_CREDENTIALS_H
#define HOST_CLOUD_CREDENTIALS_H

#include "yolt/secure_string.h"

#include <ctime>

namespace cloud {

class Credentials {
 public:
  // Copies the texts; a null pointer is taken as "". `token` is an optional session
  // token (sent and signed as X-Amz-Security-Token when not empty); `expiration` is the
  // time after which the keys are no longer valid, 0 for never.
  Credentials(const char* access_key, const char* secret_key, const char* token,
              std::time_t expiration);
  Credentials(const Credentials&) = default;
  Credentials& operator=(const Credentials&) = default;
  ~Credentials() = default;

  const secure_string& access_key() const { return access_key_; }
  const secure_string& secret_key() const { return secret_key_; }
  const secure_string& token() const { return token_; }
  std::time_t expiration() const { return expiration_; }
  // True when an expiration is set and lies in the past.
  bool expired() const;

 private:
  secure_string access_key_;
  secure_string secret_key_;
  secure_string token_;
  std::time_t expiration_;
};

}  // namespace cloud

#endif  // HOST_CLOUD_CREDENTIALS_H
