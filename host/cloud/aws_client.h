// The client of an EC2-style query API: signs each request with AWS Signature Version 4
// and sends it as a form POST over HTTP or HTTPS (libcurl), then feeds the XML answer to
// the response parser. The module's cloud client gets one from `SDK::make_client` at
// login and shares it between the threads of a job. Keys and the Authorization header
// are never logged.
//
// On the wire (what a server must accept): POST / with the body
// "Action=<action>&Version=<version>&<name>=<value>..." (every name and value
// percent-encoded per RFC 3986, parameters in call order) and the headers Content-Type
// "application/x-www-form-urlencoded; charset=utf-8", Host ("host" or "host:port" when
// the port is not the scheme's default), X-Amz-Date, X-Amz-Security-Token (only with a
// session token) and Authorization: AWS4-HMAC-SHA256 over exactly those headers
// (SignedHeaders "content-type;host;x-amz-date[;x-amz-security-token]"), the canonical
// path "/", an empty query and the SHA-256 of the body; the scope is
// <date>/<region>/<service>/aws4_request. Redirects are not followed.
#ifndef HOST_CLOUD_AWS_CLIENT_H
#define HOST_CLOUD_AWS_CLIENT_H

#include "cloud/api_client.h"
#include "cloud/credentials.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace cloud {
namespace aws {

// The region that signs requests when the account names none.
extern const char* const DEFAULT_REGION;  // "us-east-1"

// Where a client sends its requests.
struct Endpoint {
  std::string host;  // name, IPv4 address or IPv6 address (with or without brackets)
  uint16_t port = 0;
  bool ssl = false;
  std::string region;  // empty: DEFAULT_REGION
};

// Transport limits; the defaults are the production values.
struct Client_Config {
  long connect_timeout_seconds = 15;
  // A transfer that moves fewer than `low_speed_bytes` in some window of
  // `low_speed_seconds` fails: a cloud that trickles its answer does not hold a command
  // for the whole total time-out.
  long low_speed_bytes = 1024;
  long low_speed_seconds = 60;
  // Upper bound of one whole transfer; 0 for none.
  long total_timeout_seconds = 600;
  // Larger answers fail the send (the body is not fed).
  size_t max_response_bytes = 64u << 20;
  // TLS: the peer's certificate and name are verified unless this is false.
  bool verify_peer = true;
  // A CA bundle to trust instead of the system's, when not empty.
  std::string ca_file;
};

class AWS_Client : public API_Client {
 public:
  AWS_Client(Endpoint endpoint, Credentials credentials, Client_Config config = {});
  ~AWS_Client() override;

  // See API_Client::send. Each call uses its own transfer handle, so concurrent calls
  // share nothing but the immutable endpoint, keys and limits. A transport failure says
  // why in `response.failure()`: the cloud could not be reached (with the system's own
  // text of an error number), the answer broke off, was larger than the limit or made
  // no real progress.
  bool send(const API_Request_Base& request, API_Response_Base& response) override;

  const Endpoint& endpoint() const { return endpoint_; }
  // "http://host:port/" or "https://host:port/".
  std::string url() const;

 private:
  Endpoint endpoint_;
  Credentials credentials_;
  Client_Config config_;
};

class SDK {
 public:
  using Make_Client_Hook = std::function<std::unique_ptr<API_Client>(
      const std::string& host, uint16_t port, bool ssl, const std::string& locale,
      const Credentials& credentials)>;

  // Makes a client for the query API at host:port (HTTPS when `ssl`), signing for the
  // region `locale` (DEFAULT_REGION when empty). Returns an owned client, or null when
  // none can be made: empty or malformed host, port 0, empty access key, or libcurl
  // unusable. Nothing is sent. When a hook is installed, the hook makes the client.
  static std::unique_ptr<API_Client> make_client(const std::string& host, uint16_t port, bool ssl,
                                                 const std::string& locale,
                                                 const Credentials& credentials);
  // The same without hook, with explicit transport limits.
  static std::unique_ptr<API_Client> make_client(const std::string& host, uint16_t port, bool ssl,
                                                 const std::string& locale,
                                                 const Credentials& credentials,
                                                 const Client_Config& config);

  // Test seam: replaces the factory (an empty hook restores the real one) and returns
  // the previous hook. Install before clients are made.
  static Make_Client_Hook set_make_client_hook(Make_Client_Hook hook);

  // Installs a hook for its lifetime and restores the previous one afterwards.
  class Hook_Guard {
   public:
    explicit Hook_Guard(Make_Client_Hook hook);
    ~Hook_Guard();
    Hook_Guard(const Hook_Guard&) = delete;
    Hook_Guard& operator=(const Hook_Guard&) = delete;

   private:
    Make_Client_Hook previous_;
  };
};

}  // namespace aws
}  // namespace cloud

#endif  // HOST_CLOUD_AWS_CLIENT_H
