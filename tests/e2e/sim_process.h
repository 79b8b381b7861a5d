// Starts the cloud simulator (sim/tavrosim.py) for a test and drives its control
// interface (JSON under /_sim/ on the query API's port); also builds the seeds the e2e
// tests start it from. Destroying a Sim_Process stops the simulator, which detaches every
// loop device it made, and removes its backing files (kept in /dev/shm where there is one).
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
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "json/json_dump.h"
#include "json/json_load.h"

extern char** environ;

namespace test {

constexpr char SIM_ACCESS_KEY[] = "AKIDTAVROSIMDEMO0001";
constexpr char SIM_SECRET_KEY[] = "tavrosim/Demo+Secret/Key0001";

struct Sim_Options {
  std::string seed;  // empty: sim/seed.json
  std::string accounts = std::string(SIM_ACCESS_KEY) + ":" + SIM_SECRET_KEY;
  std::string dev_root = "/dev";
  std::string loop = "auto";  // auto | losetup | link
  std::string version;        // empty: the seed's
  std::vector<std::string> extra_args;
};

inline json_spirit::Object object_of(const std::string& json) {
  const json_spirit::Value v = JSON_Load(json);
  return v.type() == json_spirit::obj_type ? v.get_obj() : json_spirit::Object();
}

// The string member `key` of a JSON object text; "" when there is none.
inline std::string json_str(const std::string& json, const char* key) {
  const json_spirit::Object o = object_of(json);
  const auto it = o.find(key);
  return it != o.end() && it->second.type() == json_spirit::str_type ? it->second.get_str() : "";
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The source tree (QUILLON3_SOURCE_DIR, else the working directory).
inline std::string source_dir() {
  const char* dir = std::getenv("QUILLON3_SOURCE_DIR");
  return dir != nullptr && *dir != '\0' ? dir : ".";
}

// An instance of a seed on node-a1 with a root and a data volume of `gib` GiB.
inline json_spirit::Value seed_instance(const std::string& id, const std::string& name,
                                        const std::string& status, const std::string& ip,
                                        const std::string& root, const std::string& data,
                                        int gib = 1) {
  const std::string vol = R"(", "size": )" + std::to_string(gib) + R"(, "storage": "st-ceph-01", )";
  return JSON_Load(R"({"id": ")" + id + R"(", "name": ")" + name + R"(", "status": ")" + status +
                   R"(", "type": "ts.small", "image": "img-centos7-x64", "node": "node-a1",
      "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"], "ip": ")" + ip + R"("}],
      "volumes": [{"id": ")" + root + vol + R"("device": "/dev/vda", "root": true},
                  {"id": ")" + data + vol + R"("device": "/dev/vdb"}]})");
}

// Writes to `path` the seed of sim/seed.json with its agent, `instances` and no other
// instances or volumes; returns `path`.
inline std::string write_seed(const std::string& path, const json_spirit::Array& instances) {
  json_spirit::Object seed = object_of(read_file(source_dir() + "/sim/seed.json"));
  json_spirit::Array all{seed["instances"].get_array().at(0)};
  all.insert(all.end(), instances.begin(), instances.end());
  seed["instances"] = all;
  seed["volumes"] = json_spirit::Array();
  std::ofstream(path) << JSON_Dump(seed);
  return path;
}

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

  // One control request (path below /_sim, e.g. "/leftovers"); the HTTP status (0 when
  // no answer came), the answer in `body` (when given).
  int control(const std::string& method, const std::string& path, const std::string& json,
              std::string* body = nullptr) const {
    std::string reply;
    if (!exchange(method + " /_sim" + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                      "Content-Type: application/json\r\nContent-Length: " +
                      std::to_string(json.size()) + "\r\nConnection: close\r\n\r\n" + json,
                  reply) ||
        reply.compare(0, 7, "HTTP/1.") != 0 || reply.size() < 12)
      return 0;
    const size_t head_end = reply.find("\r\n\r\n");
    if (body != nullptr) *body = head_end == std::string::npos ? "" : reply.substr(head_end + 4);
    return std::atoi(reply.c_str() + 9);
  }

  // The answer of a GET, or "" when it did not answer 200.
  std::string get(const std::string& path) const {
    std::string body;
    return control("GET", path, "", &body) == 200 ? body : std::string();
  }

  // True when a POST answered 200; `body` (optional) receives the answer.
  bool post(const std::string& path, const std::string& json, std::string* body = nullptr) const {
    return control("POST", path, json, body) == 200;
  }

  void clear_faults() const { control("DELETE", "/faults", ""); }
  // The simulator's content digest of a volume or (tmp) snapshot; "" when unknown.
  std::string digest(const std::string& id) const { return json_str(get("/digest?id=" + id), "digest"); }
  // True when no temporary resource of the cloud is left.
  bool clean() const { return object_of(get("/leftovers"))["clean"] == json_spirit::Value(true); }

  // The status of the instance with the id or name `key` that is not terminated; "" when
  // there is none.
  std::string instance_status(const std::string& key) const {
    const json_spirit::Object i = instance(object_of(get("/state")), key);
    return i.empty() ? "" : i.at("status").get_str();
  }

  // The digests of the volumes attached to that instance in device order, but those whose
  // id starts with `skip` (its own).
  std::vector<std::string> instance_digests(const std::string& key, const std::string& skip = "-") const {
    json_spirit::Object state = object_of(get("/state"));
    const json_spirit::Object i = instance(state, key);
    std::map<std::string, std::string> by_device;
    for (const json_spirit::Value& v : state["volumes"].get_array()) {
      const json_spirit::Object& vol = v.get_obj();
      const auto att = vol.find("attachment");
      if (!i.empty() && att != vol.end() && att->second.type() == json_spirit::obj_type &&
          att->second.get_obj().at("instance_id") == i.at("id") &&
          vol.at("id").get_str().compare(0, skip.size(), skip) != 0)
        by_device[att->second.get_obj().at("device").get_str()] = digest(vol.at("id").get_str());
    }
    std::vector<std::string> out;
    for (const auto& d : by_device) out.push_back(d.second);
    return out;
  }

  // Stops the simulator (SIGTERM) and waits for it; true when it exited with 0.
  bool stop() {
    int status = 0;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
    }
    const bool stopped = pid_ > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    pid_ = -1;
    port_ = 0;
    if (out_fd_ >= 0) ::close(out_fd_);
    out_fd_ = -1;
    std::error_code ignored;
    if (!data_dir_.empty()) std::filesystem::remove_all(data_dir_, ignored);
    data_dir_.clear();
    return stopped;
  }

 private:
  static json_spirit::Object instance(json_spirit::Object state, const std::string& key) {
    for (const json_spirit::Value& v : state["instances"].get_array()) {
      const json_spirit::Object& i = v.get_obj();
      if ((i.at("id").get_str() == key || i.at("name").get_str() == key) && i.at("status").get_str() != "terminated")
        return i;
    }
    return json_spirit::Object();
  }

  std::vector<std::string> command(const Sim_Options& o) {
    const std::string src = source_dir();
    std::vector<std::string> argv = {"python3", src + "/sim/tavrosim.py", "--port", "0",
                                     "--seed", o.seed.empty() ? src + "/sim/seed.json" : o.seed,
                                     "--accounts", o.accounts, "--dev-root", o.dev_root,
                                     "--loop", o.loop, "--exit-with-parent"};
    if (!o.version.empty()) argv.insert(argv.end(), {"--cloud-version", o.version});
    // The volumes' backing files in memory: the tests read them many times.
    char shm[] = "/dev/shm/tavrosim-XXXXXX";
    if (::mkdtemp(shm) != nullptr) {
      data_dir_ = shm;
      argv.insert(argv.end(), {"--data-dir", data_dir_});
    }
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
    const int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    out_fd_ = fds[0];
    if (rc != 0) {
      pid_ = -1;
      error_ = std::string("cannot run python3: ") + std::strerror(rc);
      return;
    }
    // The first line names the port; a generous guard against a simulator that hangs.
    std::string line;
    char c = 0;
    while (wait_readable(out_fd_, 120000) && ::read(out_fd_, &c, 1) == 1 && c != '\n') line += c;
    const size_t at = line.find("port ");
    port_ = at == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(line.c_str() + at + 5));
    if (port_ == 0) error_ = "the simulator did not report its port: " + line;
  }

  static bool wait_readable(int fd, int timeout_ms) {
    pollfd p = {fd, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&p, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    return ready > 0;
  }

  bool exchange(const std::string& request, std::string& reply) const {
    if (!running()) return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    for (size_t done = 0; ok && done < request.size();) {
      const ssize_t n = ::send(fd, request.data() + done, request.size() - done, MSG_NOSIGNAL);
      ok = n > 0 || (n < 0 && errno == EINTR);
      if (n > 0) done += static_cast<size_t>(n);
    }
    char buf[8192];
    for (ssize_t n = 1; ok && n != 0;) {
      ok = wait_readable(fd, 600000);
      n = ok ? ::recv(fd, buf, sizeof buf, 0) : 0;
      if (n > 0) reply.append(buf, static_cast<size_t>(n));
      ok = ok && (n >= 0 || errno == EINTR);
    }
    ::close(fd);
    return ok;
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  uint16_t port_ = 0;
  std::string data_dir_;
  std::string error_;
};

}  // namespace test

#endif  // TESTS_E2E_SIM_PROCESS_H
