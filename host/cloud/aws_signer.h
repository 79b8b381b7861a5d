// AWS Signature Version 4 (header signing): builds the canonical request, the string to
// sign and the Authorization header value. Used by the AWS client for every request and
// exposed for the tests that check it against the published test suite.
#ifndef HOST_CLOUD_AWS_SIGNER_H
#define HOST_CLOUD_AWS_SIGNER_H

#include "cloud/credentials.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace cloud {
namespace aws {

struct Signable_Request {
  std::string method;  // "GET", "POST"
  // The request path, not encoded ("/example space/"); encoded while signing.
  std::string path = "/";
  // Remove "." and ".." segments and empty segments from the path before encoding.
  bool normalize_path = true;
  // Query parameters, not encoded, in any order (sorted while signing).
  std::vector<std::pair<std::string, std::string>> query;
  // Headers as they are sent, names in any case, duplicates allowed; every one is signed.
  // A header that must not be signed is simply added after signing.
  std::vector<std::pair<std::string, std::string>> headers;
  // Lower-case hex SHA-256 of the body.
  std::string payload_hash;
};

struct Signature_V4 {
  std::string canonical_request;
  std::string string_to_sign;
  std::string signed_headers;  // "host;x-amz-date"
  std::string signature;       // lower-case hex
  std::string authorization;   // the Authorization header's value
};

// Signs `request` for `region` and `service` at `amz_date` ("20150830T123600Z"). The
// session token of `credentials` is NOT added here; callers that use one add the
// X-Amz-Security-Token header to `request.headers` first. Never logs.
Signature_V4 sign_v4(const Signable_Request& request, const Credentials& credentials,
                     const std::string& region, const std::string& service,
                     const std::string& amz_date);

// "YYYYMMDDTHHMMSSZ" of `when` in UTC.
std::string amz_date(std::time_t when);

// Lower-case hex SHA-256 of the bytes.
std::string sha256_hex(const void* data, size_t length);

}  // namespace aws
}  // namespace cloud

#endif  // HOST_CLOUD_AWS_SIGNER_H
