// Where the backup server listens (host, port, TLS flag). The jobs hand it to the catalog
// and pool connections; the value comes from the host identity (Host_Manager,
// identity.json "backupd").
#ifndef HOST_IDENTITY_WEBSOCKET_OPTIONS_H
#define HOST_IDENTITY_WEBSOCKET_OPTIONS_H

#include <cstdint>
#include <string>
#include <utility>

class WebSocket_Options {
 public:
  // An empty endpoint (empty host, port 0, no TLS).
  WebSocket_Options() = default;
  WebSocket_Options(std::string host, uint16_t port, bool ssl)
      : host_(std::move(host)), port_(port), ssl_(ssl) {}

  // The endpoint configured for this host (Host_Manager::instance()).
  static const WebSocket_Options& instance();

  const std::string& host() const { return host_; }
  uint16_t port() const { return port_; }
  bool ssl() const { return ssl_; }

 private:
  std::string host_;
  uint16_t port_ = 0;
  bool ssl_ = false;
};

#endif  // HOST_IDENTITY_WEBSOCKET_OPTIONS_H
