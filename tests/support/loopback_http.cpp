#include "support/loopback_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace test {

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A socket bound to a free loopback port; -1 when none could be had.
int bound_socket(sockaddr_in& addr) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  addr = sockaddr_in{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class Socket_Stream : public Http_Stream {
 public:
  explicit Socket_Stream(int fd) : fd_(fd) {}
  ~Socket_Stream() override { ::close(fd_); }
  long read(char* buffer, size_t size) override { return ::recv(fd_, buffer, size, 0); }
  bool write(const std::string& data) override {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

bool read_more(Http_Stream& stream, std::string& data) {
  char buffer[4096];
  const long n = stream.read(buffer, sizeof buffer);
  if (n > 0) data.append(buffer, static_cast<size_t>(n));
  return n > 0;
}

// Reads the head and the body (as long as "Content-Length" says) of one request; a
// client that expects "100 Continue" before it sends the body gets it.
bool read_request(Http_Stream& stream, Http_Request& out) {
  std::string data, line;
  size_t head_end, content_length = 0;
  while ((head_end = data.find("\r\n\r\n")) == std::string::npos)
    if (!read_more(stream, data)) return false;
  std::istringstream head(data.substr(0, head_end));
  std::getline(head, line);
  std::istringstream(line) >> out.method >> out.target;
  while (std::getline(head, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const size_t start = line.find_first_not_of(' ', colon + 1);
    const size_t end = line.find_last_not_of('\r');
    const std::string value = start > end ? "" : line.substr(start, end + 1 - start);
    out.headers.emplace_back(lower(line.substr(0, colon)), value);
    if (out.headers.back().first == "content-length") content_length = std::stoul(value);
  }
  const bool expects_continue = lower(out.header("expect")) == "100-continue";
  if (expects_continue && !stream.write("HTTP/1.1 100 Continue\r\n\r\n")) return false;
  for (out.body = data.substr(head_end + 4); out.body.size() < content_length;)
    if (!read_more(stream, out.body)) return false;
  return true;
}

}  // namespace

std::string Http_Request::header(const std::string& name) const {
  for (const auto& h : headers)
    if (h.first == name) return h.second;
  return std::string();
}

Loopback_Http_Server::Loopback_Http_Server(Handler handler, Stream_Maker make_stream)
    : handler_(std::move(handler)), make_stream_(std::move(make_stream)) {
  sockaddr_in addr;
  listen_fd_ = bound_socket(addr);
  if (listen_fd_ < 0 || ::listen(listen_fd_, 64) != 0) std::abort();
  port_ = ntohs(addr.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

Loopback_Http_Server::~Loopback_Http_Server() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_all();
  ::shutdown(listen_fd_, SHUT_RDWR);
  acceptor_.join();
  ::close(listen_fd_);
  for (std::thread& t : workers_) t.join();
}

std::vector<Http_Request> Loopback_Http_Server::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void Loopback_Http_Server::wait_for_stop(std::chrono::seconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  stopped_.wait_for(lock, limit, [this] { return stopping_; });
}

std::string Loopback_Http_Server::reply_text(int status, const std::string& body,
                                             long content_length) {
  const long length = content_length < 0 ? static_cast<long>(body.size()) : content_length;
  return "HTTP/1.1 " + std::to_string(status) +
         " X\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
         std::to_string(length) + "\r\n\r\n" + body;
}

uint16_t Loopback_Http_Server::closed_port() {
  sockaddr_in addr;
  const int fd = bound_socket(addr);
  if (fd < 0) return 0;
  ::close(fd);
  return ntohs(addr.sin_port);
}

void Loopback_Http_Server::accept_loop() {
  for (;;) {
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;  // shut down
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      ::close(fd);
      return;
    }
    workers_.emplace_back([this, fd] { serve(fd); });
  }
}

void Loopback_Http_Server::serve(int fd) {
  const std::unique_ptr<Http_Stream> stream =
      make_stream_ ? make_stream_(fd) : std::make_unique<Socket_Stream>(fd);
  if (!stream) return;
  Http_Request request;
  if (!read_request(*stream, request)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
  }
  handler_(request, *stream);
}

}  // namespace test
