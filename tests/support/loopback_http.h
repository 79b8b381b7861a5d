// A small HTTP/1.1 server on 127.0.0.1 for the tests of code that talks HTTP (the cloud
// request library, the cloud client): it reads one request per connection, records it and
// lets the test's handler answer. Each connection is served on a thread of its own, so
// concurrent requests are served concurrently; every thread is joined when the server goes.
#ifndef TESTS_SUPPORT_LOOPBACK_HTTP_H
#define TESTS_SUPPORT_LOOPBACK_HTTP_H

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace test {

struct Http_Request {
  std::string method;
  std::string target;
  std::vector<std::pair<std::string, std::string>> headers;  // lower-case names, in order
  std::string body;

  // The value of the first header `name` (lower-case); "" when absent.
  std::string header(const std::string& name) const;
};

// The byte stream of one connection: the socket itself or a layer over it (TLS). It owns
// the socket and closes it at its end.
class Http_Stream {
 public:
  virtual ~Http_Stream() = default;
  // Bytes read into `buffer`; 0 or less at the end of the stream or on failure.
  virtual long read(char* buffer, size_t size) = 0;
  // Sends all of `data`; false when the peer is gone.
  virtual bool write(const std::string& data) = 0;
};

class Loopback_Http_Server {
 public:
  // Answers `request` on `stream`, on the connection's thread; the connection is closed
  // when it returns.
  using Handler = std::function<void(const Http_Request& request, Http_Stream& stream)>;
  // Wraps an accepted socket in a stream, taking ownership of the socket also when it
  // fails (null: the connection is dropped unread).
  using Stream_Maker = std::function<std::unique_ptr<Http_Stream>(int fd)>;

  // Listens on a free loopback port at once; aborts the test binary when it cannot.
  // Without `make_stream` the connections are plain sockets.
  explicit Loopback_Http_Server(Handler handler, Stream_Maker make_stream = nullptr);
  // Stops accepting, ends every wait_for_stop() and joins every thread.
  ~Loopback_Http_Server();
  Loopback_Http_Server(const Loopback_Http_Server&) = delete;
  Loopback_Http_Server& operator=(const Loopback_Http_Server&) = delete;

  uint16_t port() const { return port_; }

  // Every request read so far, in the order they were read.
  std::vector<Http_Request> requests() const;

  // For a handler that keeps its connection open: returns when the server is being
  // destroyed, or after `limit`.
  void wait_for_stop(std::chrono::seconds limit);

  // An answer with HTTP `status` and a text/xml `body` that closes the connection; it
  // announces `content_length` bytes (the body's size when negative).
  static std::string reply_text(int status, const std::string& body, long content_length = -1);

  // A loopback port on which nothing listens (bound, then released); 0 when none could
  // be bound.
  static uint16_t closed_port();

 private:
  void accept_loop();
  void serve(int fd);

  Handler handler_;
  Stream_Maker make_stream_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
  std::vector<Http_Request> requests_;
};

}  // namespace test

#endif  // TESTS_SUPPORT_LOOPBACK_HTTP_H
