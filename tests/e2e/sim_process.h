// Starts the cloud simulator (sim/tavrosim.py) for a test and drives its control
// interface (JSON under /_sim/ on the query API's port); also builds the seeds the e2e
// tests start it from, and spawns and reaps the processes they run. Destroying a
// Sim_Process stops the simulator, which detaches every loop device it made, and removes
// its backing files (kept in /dev/shm where there is one).
#ifndef TESTS_E2E_SIM_PROCESS_H
#define TESTS_E2E_SIM_PROCESS_H

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
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
#include "support/test_data.h"

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

// The source tree (QUILLON3_SOURCE_DIR, else the tree the build was made from).
inline std::string source_dir() { return test::tests_dir() + "/.."; }

// For spawn(): the standard descriptor is closed in the child.
constexpr int CLOSED_FD = -2;

// Starts `args` (the program looked up in PATH) in this process's environment with
// `fds` as its stdin, stdout and stderr (-1: this process's own; CLOSED_FD: none); its
// pid, or -1 with the reason in `error`.
inline pid_t spawn(const std::vector<std::string>& args, const std::array<int, 3>& fds,
                   std::string& error) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int i = 0; i < 3; ++i) {
    if (fds[i] >= 0) posix_spawn_file_actions_adddup2(&actions, fds[i], i);
    if (fds[i] == CLOSED_FD) posix_spawn_file_actions_addclose(&actions, i);
  }
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) error = "cannot run " + args[0] + ": " + std::strerror(rc);
  return rc == 0 ? pid : -1;
}

// Waits for the child `pid`, killed after ten minutes (a guard against a hung child, not
// a measure of its speed); its exit code, or 128 + the signal that ended it.
inline int reap(pid_t pid) {
  int status = 0;
  for (int ms = 0; ::waitpid(pid, &status, WNOHANG) == 0; ms += 2) {
    if (ms == 600000) ::kill(pid, SIGKILL);
    ::usleep(2000);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The instance "i-<x>" ("vm-<x>") of a seed on node-a1 at `ip`, with a root and a data
// volume ("vol-<x>-root", "vol-<x>-data") of `gib` GiB.
inline json_spirit::Value seed_instance(const std::string& x, const std::string& ip,
                                        const std::string& status = "running", int gib = 1) {
  const std::string vol = R"(", "size": )" + std::to_string(gib) + R"(, "storage": "st-ceph-01", )";
  return JSON_Load(R"({"id": "i-)" + x + R"(", "name": "vm-)" + x + R"(", "status": ")" + status +
                   R"(", "type": "ts.small", "image": "img-centos7-x64", "node": "node-a1",
      "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"], "ip": ")" + ip + R"("}],
      "volumes": [{"id": "vol-)" + x + R"(-root)" + vol + R"("device": "/dev/vda", "root": true},
                  {"id": "vol-)" + x + R"(-data)" + vol + R"("device": "/dev/vdb"}]})");
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
  explicit Sim_Process(const Sim_Options& o = Sim_Options()) {
    const std::string src = source_dir();
    std::vector<std::string> argv = {"python3", src + "/sim/tavrosim.py", "--port", "0",
                                     "--seed", o.seed.empty() ? src + "/sim/seed.json" : o.seed,
                                     "--accounts", o.accounts, "--dev-root", o.dev_root,
                                     "--loop", o.loop, "--exit-with-parent"};
    if (!o.version.empty()) argv.insert(argv.end(), {"--cloud-version", o.version});
    // The volumes' backing files in memory: the tests read them many times.
    char shm[] = "/dev/shm/tavrosim-XXXXXX";
    if (::mkdtemp(shm) != nullptr) argv.insert(argv.end(), {"--data-dir", data_dir_ = shm});
    argv.insert(argv.end(), o.extra_args.begin(), o.extra_args.end());
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      error_ = "pipe failed";
      return;
    }
    pid_ = spawn(argv, {-1, fds[1], -1}, error_);
    ::close(fds[1]);
    out_fd_ = fds[0];
    // The first line names the port; a generous guard against a simulator that hangs.
    std::string line;
    pollfd p = {out_fd_, POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && ::poll(&p, 1, 120000) > 0 && ::read(out_fd_, &c, 1) == 1 && c != '\n')
      line += c;
    const size_t at = line.find("port ");
    port_ = at == std::string::npos ? 0 : static_cast<uint16_t>(std::atoi(line.c_str() + at + 5));
    if (port_ == 0 && error_.empty()) error_ = "the simulator did not report its port: " + line;
  }
  ~Sim_Process() { stop(); }
  Sim_Process(const Sim_Process&) = delete;
  Sim_Process& operator=(const Sim_Process&) = delete;

  // True once the simulator reported its port; error() says why not otherwise.
  bool running() const { return pid_ > 0 && port_ != 0; }
  uint16_t port() const { return port_; }
  const std::string& error() const { return error_; }

  // One control request (path below /_sim, e.g. "/leftovers"); true when it answered 200,
  // the answer in `body` (when given).
  bool control(const std::string& method, const std::string& path, const std::string& json,
               std::string* body = nullptr) const {
    const std::string request = method + " /_sim" + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
        "Content-Type: application/json\r\nContent-Length: " + std::to_string(json.size()) +
        "\r\nConnection: close\r\n\r\n" + json;
    const int fd = running() ? ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const timeval guard{600, 0};  // against a simulator that never answers
    std::string reply;
    char buf[8192];
    if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard) == 0 &&
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
      for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
        reply.append(buf, static_cast<size_t>(n));
    }
    if (fd >= 0) ::close(fd);
    const size_t head_end = reply.find("\r\n\r\n");
    if (body != nullptr) *body = head_end == std::string::npos ? "" : reply.substr(head_end + 4);
    return reply.compare(0, 5, "HTTP/") == 0 && reply.compare(8, 5, " 200 ") == 0;
  }

  // The answer of a GET, or "" when it did not answer 200.
  std::string get(const std::string& path) const {
    std::string body;
    return control("GET", path, "", &body) ? body : std::string();
  }
  // True when a POST answered 200; `body` (optional) receives the answer.
  bool post(const std::string& path, const std::string& json, std::string* body = nullptr) const {
    return control("POST", path, json, body);
  }
  void clear_faults() const { control("DELETE", "/faults", ""); }
  // The simulator's content digest of a volume or (tmp) snapshot; "" when unknown.
  std::string digest(const std::string& id) const {
    return json_str(get("/digest?id=" + id), "digest");
  }
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
  std::vector<std::string> instance_digests(const std::string& key,
                                            const std::string& skip = "-") const {
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
    if (pid_ > 0) ::kill(pid_, SIGTERM);
    const bool stopped = pid_ > 0 && reap(pid_) == 0;
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
      const bool named = i.at("id").get_str() == key || i.at("name").get_str() == key;
      if (named && i.at("status").get_str() != "terminated")
        return i;
    }
    return json_spirit::Object();
  }

  pid_t pid_ = -1;
  int out_fd_ = -1;
  uint16_t port_ = 0;
  std::string data_dir_;
  std::string error_;
};

}  // namespace test

#endif  // TESTS_E2E_SIM_PROCESS_H
