// RFC 3986 percent-encoding as the query API and its signature need it: the form body,
// the canonical query and the canonical path of a request. Used by the AWS client and
// its signer.
#ifndef HOST_CLOUD_PERCENT_ENCODING_H
#define HOST_CLOUD_PERCENT_ENCODING_H

#include "cloud/api_request.h"

#include <string>

namespace cloud {

// Every byte but the unreserved A-Z a-z 0-9 - . _ ~ becomes %XX (upper-case hex);
// with `keep_slash`, '/' is kept as well (paths).
std::string percent_encode(const std::string& text, bool keep_slash = false);

// Turns each valid %XX into its byte; anything else (also a malformed '%') is kept.
std::string percent_decode(const std::string& text);

// "n1=v1&n2=v2..." with every name and value percent-encoded, in the given order.
std::string form_encode(const API_Request_Base::Parameters& parameters);

}  // namespace cloud

#endif  // HOST_CLOUD_PERCENT_ENCODING_H
