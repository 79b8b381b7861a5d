#include "catalog/json_restful_client.h"

#include "runtime/http_head.h"

JSON_RESTful_Client::JSON_RESTful_Client(bool keep_alive) : keep_alive_(keep_alive) {}

JSON_RESTful_Client::~JSON_RESTful_Client() = default;

void JSON_RESTful_Client::reset(const std::string& host, uint16_t port, bool ssl) {
  host_ = host;
  port_ = port;
  ssl_ = ssl;
  heads_.clear();
}

bool JSON_RESTful_Client::set_http_head(int head, const std::string& value) {
  if (http_head_string(head) == nullptr) return false;
  heads_[head] = secure_string(value.begin(), value.end());
  return true;
}

const secure_string* JSON_RESTful_Client::http_head(int head) const {
  auto it = heads_.find(head);
  return it == heads_.end() ? nullptr : &it->second;
}

std::string JSON_RESTful_Client::url() const {
  if (host_.empty()) return std::string();
  return (ssl_ ? "https://" : "http://") + host_ + ":" + std::to_string(port_);
}
