#include "cloud/aws_signer.h"

#include "cloud/percent_encoding.h"
#include "runtime/secure_memset.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace cloud {
namespace aws {

namespace {

const char ALGORITHM[] = "AWS4-HMAC-SHA256";

std::string to_hex(const unsigned char* data, size_t length) {
  static const char HEX[] = "0123456789abcdef";
  std::string out;
  out.reserve(length * 2);
  for (size_t i = 0; i < length; ++i) {
    out += HEX[data[i] >> 4];
    out += HEX[data[i] & 0x0f];
  }
  return out;
}

std::string to_lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Leading and trailing white space removed, every inner run of it made one space.
std::string trim_all(const std::string& value) {
  std::string out;
  bool pending_space = false;
  for (char c : value) {
    if (is_blank(c)) {
      pending_space = !out.empty();
      continue;
    }
    if (pending_space) out += ' ';
    pending_space = false;
    out += c;
  }
  return out;
}

// Drops empty, "." and ".." segments ("/a//b/../c/" -> "/a/c/").
std::string normalized_path(const std::string& path) {
  std::vector<std::string> segments;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    std::string segment = path.substr(pos, slash - pos);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    pos = slash + 1;
  }
  std::string out;
  for (const auto& s : segments) out += "/" + s;
  bool trailing = !path.empty() && path.back() == '/';
  bool ends_in_dots =
      path.size() >= 2 && (path.compare(path.size() - 2, 2, "/.") == 0 ||
                           (path.size() >= 3 && path.compare(path.size() - 3, 3, "/..") == 0));
  if (out.empty() || trailing || ends_in_dots) out += "/";
  return out;
}

std::string canonical_uri(const Signable_Request& request) {
  std::string path = request.path.empty() ? "/" : request.path;
  if (request.normalize_path) path = normalized_path(path);
  return percent_encode(path, true);
}

std::string canonical_query(const Signable_Request& request) {
  std::vector<std::pair<std::string, std::string>> encoded;
  encoded.reserve(request.query.size());
  for (const auto& q : request.query)
    encoded.emplace_back(percent_encode(q.first), percent_encode(q.second));
  std::sort(encoded.begin(), encoded.end());
  std::string out;
  for (const auto& q : encoded) {
    if (!out.empty()) out += '&';
    out += q.first + "=" + q.second;
  }
  return out;
}

struct Canonical_Headers {
  std::string block;  // "name:value\n" per header
  std::string signed_names;
};

Canonical_Headers canonical_headers(const Signable_Request& request) {
  // Stable sort keeps the values of a repeated header in sending order.
  std::vector<std::pair<std::string, std::string>> headers;
  for (const auto& h : request.headers) headers.emplace_back(to_lower(h.first), trim_all(h.second));
  std::stable_sort(headers.begin(), headers.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  Canonical_Headers out;
  for (size_t i = 0; i < headers.size(); ++i) {
    if (i > 0 && headers[i].first == headers[i - 1].first) {
      out.block.pop_back();  // the '\n' of the same header's previous line
      out.block += "," + headers[i].second + "\n";
      continue;
    }
    if (!out.signed_names.empty()) out.signed_names += ';';
    out.signed_names += headers[i].first;
    out.block += headers[i].first + ":" + headers[i].second + "\n";
  }
  return out;
}

// HMAC-SHA256 of `data` under `key`, into `out` (32 bytes).
void hmac_sha256(const void* key, size_t key_length, const std::string& data,
                 unsigned char out[32]) {
  unsigned int out_length = 32;
  HMAC(EVP_sha256(), key, static_cast<int>(key_length),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), out, &out_length);
}

// The signature of `string_to_sign` with the key derived from the secret; every
// intermediate key is wiped.
std::string sign_string(const Credentials& credentials, const std::string& date,
                        const std::string& region, const std::string& service,
                        const std::string& string_to_sign) {
  secure_string seed = "AWS4";
  seed += credentials.secret_key();
  unsigned char k1[32], k2[32];
  hmac_sha256(seed.data(), seed.size(), date, k1);
  hmac_sha256(k1, sizeof k1, region, k2);
  hmac_sha256(k2, sizeof k2, service, k1);
  hmac_sha256(k1, sizeof k1, "aws4_request", k2);
  hmac_sha256(k2, sizeof k2, string_to_sign, k1);
  std::string signature = to_hex(k1, sizeof k1);
  secure_memset(k1, 0, sizeof k1);
  secure_memset(k2, 0, sizeof k2);
  return signature;
}

}  // namespace

std::string sha256_hex(const void* data, size_t length) {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(static_cast<const unsigned char*>(data), length, digest);
  return to_hex(digest, sizeof digest);
}

std::string amz_date(std::time_t when) {
  struct tm utc;
  gmtime_r(&when, &utc);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &utc);
  return buf;
}

Signature_V4 sign_v4(const Signable_Request& request, const Credentials& credentials,
                     const std::string& region, const std::string& service,
                     const std::string& amz_date) {
  Signature_V4 out;
  Canonical_Headers headers = canonical_headers(request);
  out.signed_headers = headers.signed_names;
  out.canonical_request = request.method + "\n" + canonical_uri(request) + "\n" +
                          canonical_query(request) + "\n" + headers.block + "\n" +
                          headers.signed_names + "\n" + request.payload_hash;
  const std::string date = amz_date.substr(0, 8);
  const std::string scope = date + "/" + region + "/" + service + "/aws4_request";
  out.string_to_sign = std::string(ALGORITHM) + "\n" + amz_date + "\n" + scope + "\n" +
                       sha256_hex(out.canonical_request.data(), out.canonical_request.size());
  out.signature = sign_string(credentials, date, region, service, out.string_to_sign);
  out.authorization = std::string(ALGORITHM) +
                      " Credential=" + std::string(credentials.access_key().c_str()) + "/" + scope +
                      ", SignedHeaders=" + out.signed_headers + ", Signature=" + out.signature;
  return out;
}

}  // namespace aws
}  // namespace cloud
