// A small HTTP/1.1 server on 127.0.0.1 that stands in for the cloud's query API in the
// cloud client's tests: every POST is recorded (headers and decoded form parameters) and
// answered by the test's handler. One thread per connection, so concurrent requests are
// served concurrently; every thread is joined when the server is destroyed.
#ifndef TESTS_MODULE_TAVROCLOUD_COMMON_LOOPBACK_CLOUD_H
#define TESTS_MODULE_TAVROCLOUD_COMMON_LOOPBACK_CLOUD_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cloud/percent_encoding.h"

namespace test {

struct Cloud_Request {
  std::string method;
  std::map<std::string, std::string> headers;  // lower-case names
  std::string body;
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

  explicit Loopback_Cloud(Handler handler) : handler_(std::move(handler)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0) {
      std::abort();
    }
    socklen_t len = sizeof addr;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
  }

  ~Loopback_Cloud() {
    ::shutdown(listen_fd_, SHUT_RDWR);
    acceptor_.join();
    ::close(listen_fd_);
    for (std::thread& t : workers_) t.join();
  }

  Loopback_Cloud(const Loopback_Cloud&) = delete;
  Loopback_Cloud& operator=(const Loopback_Cloud&) = delete;

  uint16_t port() const { return port_; }

  std::vector<Cloud_Request> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // A port on which nothing listens (bound, then released).
  static uint16_t closed_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
  }

 private:
  void accept_loop() {
    for (;;) {
      const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;  // shut down
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.emplace_back([this, fd] { serve(fd); });
    }
  }

  static std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }

  static bool read_more(int fd, std::string& data) {
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) return false;
    data.append(buf, static_cast<size_t>(n));
    return true;
  }

  static bool read_request(int fd, Cloud_Request& out) {
    std::string data;
    size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
      if (!read_more(fd, data)) return false;
    }
    std::istringstream head(data.substr(0, head_end));
    std::string line;
    std::getline(head, line);
    out.method = line.substr(0, line.find(' '));
    size_t content_length = 0;
    while (std::getline(head, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t colon = line.find(':');
      if (colon == std::string::npos) continue;
      std::string value = line.substr(colon + 1);
      value.erase(0, value.find_first_not_of(' '));
      const std::string name = lower(line.substr(0, colon));
      out.headers[name] = value;
      if (name == "content-length") content_length = std::stoul(value);
    }
    if (lower(out.headers["expect"]) == "100-continue") {
      static const char CONTINUE[] = "HTTP/1.1 100 Continue\r\n\r\n";
      if (::send(fd, CONTINUE, sizeof CONTINUE - 1, MSG_NOSIGNAL) < 0) return false;
    }
    out.body = data.substr(head_end + 4);
    while (out.body.size() < content_length) {
      if (!read_more(fd, out.body)) return false;
    }
    std::istringstream form(out.body);
    std::string pair;
    while (std::getline(form, pair, '&')) {
      const size_t eq = pair.find('=');
      out.params.emplace_back(
          cloud::percent_decode(pair.substr(0, eq)),
          eq == std::string::npos ? std::string() : cloud::percent_decode(pair.substr(eq + 1)));
    }
    return true;
  }

  void serve(int fd) {
    Cloud_Request request;
    if (read_request(fd, request)) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      const Cloud_Reply reply = handler_(request);
      const std::string text = "HTTP/1.1 " + std::to_string(reply.status) +
                               " X\r\nContent-Type: text/xml\r\nConnection: close\r\n"
                               "Content-Length: " +
                               std::to_string(reply.body.size()) + "\r\n\r\n" + reply.body;
      size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
    }
    ::close(fd);
  }

  Handler handler_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::vector<Cloud_Request> requests_;
};

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_COMMON_LOOPBACK_CLOUD_H
