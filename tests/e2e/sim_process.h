// Starts the cloud simulator (sim/tavrosim.py) for an end-to-end test and drives its
// control interface (JSON under /_sim/ on the query API's port). Each e2e test owns one
// Sim_Process; destroying it stops the simulator, which detaches every loop device it made.
#ifndef TESTS_E2E_SIM_PROCESS_H
#define TESTS_E2E_SIM_PROCESS_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace test {

struct Sim_Options {
  std::string seed;  // empty: sim/seed.json
  std::string accounts = "AKIDTAVROSIMDEMO0001:tavrosim/Demo+Secret/Key0001";
  std::string dev_root = "/dev";
  std::string loop = "auto";  // auto | losetup | link
  std::string version;        // empty: the seed's
  int transition_polls = -1;  // negative: the seed's
  std::vector<std::string> extra_args;
  int start_timeout_ms = 120000;
};

class Sim_Process {
 public:
  explicit Sim_Process(const Sim_Options& options = Sim_Options()) { start(options); }
  ~Sim_Process() { stop(); }
  Sim_Process(const Sim_Process&) = delete;
  Sim_Process& operator=(const Sim_Process&) = delete;

  // True once the simulator reported its port; error() says why not otherwise.
  bool running() const { return pid_ > 0 && port_ != 0; }
  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }

  // One control request (path below /_sim, e.g. "/leftovers"); returns the HTTP status,
  // 0 when no answer came, and puts the JSON answer in `body`.
  int control(const std::string& method, const std::string& path, const std::string& json,
              std::string& body) const {
    body.clear();
    std::string reply;
    if (!exchange(request_text(method, path, json), reply)) return 0;
    size_t head_end = reply.find("\r\n\r\n");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 && reply.compare(0, 9, "HTTP/1.0 ") != 0)
      return 0;
    if (head_end != std::string::npos) body = reply.substr(head_end + 4);
    return std::atoi(reply.c_str() + 9);
  }

  // The answer of a GET, or an empty text when it did not answer 200.
  std::string get(const std::string& path) const {
    std::string body;
    return control("GET", path, "", body) == 200 ? body : std::string();
  }

  // True when a POST answered 200; `body` (optional) receives the answer.
  bool post(const std::string& path, const std::string& json,
            std::string* body = nullptr) const {
    std::string local;
    bool ok = control("POST", path, json, local) == 200;
    if (body != nullptr) *body = local;
    return ok;
  }

  // Stops the simulator (SIGTERM) and waits for it; true when it exited with 0.
  bool stop() {
    if (pid_ <= 0) return false;
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    port_ = 0;
    if (out_fd_ >= 0) ::close(out_fd_);
    out_fd_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  // The source tree (QUILLON3_SOURCE_DIR, else the working directory).
  static std::string source_dir() {
    const char* dir = std::getenv("QUILLON3_SOURCE_DIR");
    return dir != nullptr && *dir != '\0' ? dir : ".";
  }

 private:

  std::vector<std::string> command(const Sim_Options& o) const {
    std::string src = source_dir();
    std::vector<std::string> argv = {"python3", src + "/sim/tavrosim.py", "--port", "0",
                                     "--seed", o.seed.empty() ? src + "/sim/seed.json" : o.seed,
                                     "--accounts", o.accounts, "--dev-root", o.dev_root,
                                     "--loop", o.loop, "--exit-with-parent"};
    if (!o.version.empty()) argv.insert(argv.end(), {"--cloud-version", o.version});
    if (o.transition_polls >= 0)
      argv.insert(argv.end(), {"--transition-polls", std::to_string(o.transition_polls)});
    argv.insert(argv.end(), o.extra_args.begin(), o.extra_args.end());
    return argv;
  }

  void start(const Sim_Options& options) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      error_ = std::string("pipe: ") + std::strerror(errno);
      return;
    }
    std::vector<std::string> args = command(options);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_fd_ = fds[0];
    if (rc != 0) {
      error_ = std::string("cannot run python3: ") + std::strerror(rc);
      return;
    }
    pid_ = pid;
    std::string line;
    if (!read_line(options.start_timeout_ms, line)) {
      error_ = "the simulator did not report its port: " + line;
      return;
    }
    size_t at = line.find("port ");
    port_ = at == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(line.c_str() + at + 5));
    if (port_ == 0) error_ = "unexpected first line: " + line;
  }

  // Reads the simulator's first output line, waiting at most `timeout_ms`.
  bool read_line(int timeout_ms, std::string& line) const {
    char c;
    while (true) {
      pollfd p = {out_fd_, POLLIN, 0};
      int ready = ::poll(&p, 1, timeout_ms);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      ssize_t n = ::read(out_fd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      if (c == '\n') return true;
      line.push_back(c);
    }
  }

  static std::string request_text(const std::string& method, const std::string& path,
                                  const std::string& json) {
    return method + " /_sim" + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(json.size()) +
           "\r\nConnection: close\r\n\r\n" + json;
  }

  bool exchange(const std::string& request, std::string& reply) const {
    if (!running()) return false;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
              send_all(fd, request) && receive_all(fd, reply);
    ::close(fd);
    return ok;
  }

  static bool send_all(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  static bool receive_all(int fd, std::string& out) {
    char buf[8192];
    while (true) {
      pollfd p = {fd, POLLIN, 0};
      int ready = ::poll(&p, 1, 600000);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) return true;
      out.append(buf, static_cast<size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  uint16_t port_ = 0;
  std::string error_;
};

}  // namespace test

#endif  // TESTS_E2E_SIM_PROCESS_H
