// The cloud's query API on loopback for the cloud client's tests: every POST is recorded
// with its form parameters decoded and answered by the test's handler. The HTTP side is
// the shared loopback server of support/loopback_http.h.
#ifndef TESTS_MODULE_TAVROCLOUD_COMMON_LOOPBACK_CLOUD_H
#define TESTS_MODULE_TAVROCLOUD_COMMON_LOOPBACK_CLOUD_H

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cloud/percent_encoding.h"
#include "support/loopback_http.h"

namespace test {

struct Cloud_Request : Http_Request {
  std::vector<std::pair<std::string, std::string>> params;  // decoded, in body order

  // The value of the first parameter `name`; "" when absent.
  std::string param(const std::string& name) const {
    for (const auto& p : params) {
      if (p.first == name) return p.second;
    }
    return std::string();
  }
};

struct Cloud_Reply {
  int status = 200;
  std::string body;
};

class Loopback_Cloud {
 public:
  using Handler = std::function<Cloud_Reply(const Cloud_Request&)>;

  explicit Loopback_Cloud(Handler handler)
      : http_([handler = std::move(handler)](const Http_Request& request, Http_Stream& stream) {
          const Cloud_Reply reply = handler(with_params(request));
          stream.write(Loopback_Http_Server::reply_text(reply.status, reply.body));
        }) {}

  uint16_t port() const { return http_.port(); }

  std::vector<Cloud_Request> requests() const {
    std::vector<Cloud_Request> out;
    for (const Http_Request& r : http_.requests()) out.push_back(with_params(r));
    return out;
  }

  // A port on which nothing listens.
  static uint16_t closed_port() { return Loopback_Http_Server::closed_port(); }

 private:
  static Cloud_Request with_params(const Http_Request& request) {
    Cloud_Request out;
    static_cast<Http_Request&>(out) = request;
    std::istringstream form(request.body);
    std::string pair;
    while (std::getline(form, pair, '&')) {
      const size_t eq = pair.find('=');
      out.params.emplace_back(
          cloud::percent_decode(pair.substr(0, eq)),
          eq == std::string::npos ? std::string() : cloud::percent_decode(pair.substr(eq + 1)));
    }
    return out;
  }

  Loopback_Http_Server http_;
};

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_COMMON_LOOPBACK_CLOUD_H
