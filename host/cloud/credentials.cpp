#include "cloud/credentials.h"

namespace cloud {

namespace {
secure_string copy_text(const char* text) {
  return text != nullptr ? secure_string(text) : secure_string();
}
}  // namespace

Credentials::Credentials(const char* access_key, const char* secret_key, const char* token,
                         std::time_t expiration)
    : access_key_(copy_text(access_key)),
      secret_key_(copy_text(secret_key)),
      token_(copy_text(token)),
      expiration_(expiration) {}

bool Credentials::expired() const { return expiration_ != 0 && expiration_ < std::time(nullptr); }

}  // namespace cloud
