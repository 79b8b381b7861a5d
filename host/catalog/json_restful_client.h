// A connection to the backup server's JSON REST interface, as the restore holds one for
// storage-pool look-ups (pool/pool_info.h get_pool_info). This host answers those
// look-ups from its own registries, so the client only keeps the endpoint and the
// request headers (the access key among them) that a request to the server would carry;
// it sends nothing itself.
#ifndef CATALOG_JSON_RESTFUL_CLIENT_H
#define CATALOG_JSON_RESTFUL_CLIENT_H

#include "yolt/secure_string.h"

#include <cstdint>
#include <map>
#include <string>

class JSON_RESTful_Client {
 public:
  // No endpoint yet; `keep_alive` asks for one connection reused by every request.
  explicit JSON_RESTful_Client(bool keep_alive = true);
  ~JSON_RESTful_Client();
  JSON_RESTful_Client(const JSON_RESTful_Client&) = delete;
  JSON_RESTful_Client& operator=(const JSON_RESTful_Client&) = delete;

  // Points the client at `host`:`port` (TLS when `ssl`) and forgets every header, so
  // that no credential meant for one server reaches another.
  void reset(const std::string& host, uint16_t port, bool ssl);

  // Sets header `head` (an Http_Head id of runtime/http_head.h) to `value`, replacing an
  // earlier value. False, nothing set, for an id the host has no name for.
  bool set_http_head(int head, const std::string& value);
  // The value of header `head`; null when it is not set.
  const secure_string* http_head(int head) const;

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  bool ssl() const { return ssl_; }
  bool keep_alive() const { return keep_alive_; }
  // "http://host:port" or "https://host:port"; "" before the first reset().
  std::string url() const;

 private:
  bool keep_alive_;
  std::string host_;
  uint16_t port_ = 0;
  bool ssl_ = false;
  std::map<int, secure_string> heads_;  // header values may be credentials
};

#endif  // CATALOG_JSON_RESTFUL_CLIENT_H
