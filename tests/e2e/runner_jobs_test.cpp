// The runner's backup and restore commands, black box: quillon3 loads the module, runs
// the jobs against the simulator with real loop devices and prints their history. A
// restored instance must hold the source's bytes; a broken definition gets one line and
// exit 1; Ctrl-C, a kill or a hang-up in the middle of a backup, or output nobody reads
// any more, must leave nothing half-done in the cloud or the pool; a backup in which an
// instance failed or an entry was not found exits 1, its bars showing only this run; a
// stop that comes too late is told with what the job kept; the third stop's line waits
// for a stderr that is read late.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <zstd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalog/restful_catalog_operator.h"
#include "e2e/job_driver.h"
#include "e2e/job_fixture.h"
#include "e2e/private_dev_disk.h"
#include "e2e/runner_process.h"
#include "e2e/sim_process.h"
#include "job/job_event.h"
#include "job_engine/job_activity.h"
#include "runtime/uuid.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "yolt/lock_file.h"
#include "yolt/scoped_deleter.h"

namespace {

using json_spirit::Object;

class Runner_Jobs : public test::Runner_Test {
 protected:
  // The identity, the account "c1" of a cloud on `port` and the pool "p1".
  void prepare_home(uint16_t port) {
    ASSERT_NO_FATAL_FAILURE(init());
    ASSERT_NO_FATAL_FAILURE(add_account("c1", port));
    ASSERT_EQ(0, run("pool add --uuid p1 --name pool-one --dir " + tmp_.path() + "/pool").code);
  }

  // The agent and the instances i-a and i-b, each with a root and a data volume of
  // `gib` GiB, and the instances `more`; then the home for it.
  void start_cloud(int gib, const json_spirit::Array& more = {}) {
    const std::string& skip = test::enter_private_dev_disk();
    if (!skip.empty()) GTEST_SKIP() << "e2e skipped: " << skip;
    test::Sim_Options options;
    json_spirit::Array instances = {test::seed_instance("a", "10.10.1.31", "running", gib),
                                    test::seed_instance("b", "10.10.1.32", "running", gib)};
    instances.insert(instances.end(), more.begin(), more.end());
    options.seed = test::write_seed(tmp_.path() + "/seed.json", instances);
    options.loop = "losetup";
    sim_ = std::make_unique<test::Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
    prepare_home(sim_->port());
  }

  // A backup of the instances i-<x> for each x of `xs` (default i-a and i-b), with
  // `members` (each followed by a comma) before the source.
  static std::string backup_definition(const std::string& options, const std::string& id = "b1",
                                       const std::vector<std::string>& xs = {"a", "b"},
                                       const std::string& members = "") {
    std::string entries;
    for (const std::string& x : xs)
      entries += std::string(entries.empty() ? "" : ", ") + R"({"id": "i-)" + x +
                 R"(", "name": "vm-)" + x + R"(", "type": "Instance"})";
    return R"({"type": "backup", "id": ")" + id + R"(", "host_id": "c1", "target_pool": "p1", )" +
           members + R"("source": {"id": "cloud-1", "name": "cloud", "entries": [)" + entries +
           R"(]}, "options": )" + options + "}";
  }

  // Polls `done` every 50 ms for up to a minute; its last answer.
  template <class Done>
  static bool eventually(Done done) {
    for (int i = 0; i < 1200 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return done();
  }

  // "<uuid>:<state>" of each instance of a printed history, in uuid order.
  static std::string states(const std::string& history) {
    const json_spirit::Value h = JSON_Load(history);
    if (h.type() != json_spirit::array_type) return "not a history: " + history;
    std::map<std::string, std::string> by_uuid;
    for (const json_spirit::Value& i : h.get_array())
      by_uuid[i.get_obj().at("uuid").get_str()] = i.get_obj().at("state").get_str();
    std::string out;
    for (const auto& i : by_uuid) out += (out.empty() ? "" : " ") + i.first + ":" + i.second;
    return out;
  }

  // `err` without the line a completed restore gives for what it made (its new
  // instance's id is the cloud's); `told` says whether that line was there.
  static std::string without_restored_line(std::string err, bool& told) {
    const size_t at = err.find("quillon3: restored i-a as the new instance ");
    told = at != std::string::npos;
    if (told) err.erase(at, err.find('\n', at) + 1 - at);
    return err;
  }

  void expect_nothing_left() const {
    EXPECT_TRUE(sim_->clean()) << sim_->get("/leftovers");
    // No unfinished file (a leading dot) and no empty folder in the pool.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tmp_.path() + "/pool")) {
      EXPECT_NE('.', entry.path().filename().string().front()) << entry.path();
      EXPECT_FALSE(entry.is_directory() && std::filesystem::is_empty(entry.path())) << entry.path();
    }
  }

  // Runs quillon3 with the words of `line`, its stderr a terminal (so that it draws
  // bars); the result's err is what the terminal showed. `watch`, when given, is shown
  // all the terminal showed so far after each read, on the reading thread.
  test::Run_Result run_on_terminal(
      const std::string& line,
      const std::function<void(const std::string&)>& watch = nullptr) const {
    test::Run_Result r;
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int shown = terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0
                          ? ::open(::ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC)
                          : -1;
    if (shown < 0) {
      ADD_FAILURE() << "no terminal: " << std::strerror(errno);
      return r;
    }
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::memfd_create("stdout", MFD_CLOEXEC);
    std::istringstream words(line);
    std::vector<std::string> argv(std::istream_iterator<std::string>(words), {});
    argv.insert(argv.begin(), test::runner_path());
    const pid_t pid = test::spawn(argv, {in, out, shown}, r.err);
    ::close(shown);  // the terminal reads its end once the runner closed its side
    std::thread reader([&r, &watch, terminal] {
      char buf[4096];
      for (ssize_t n; (n = ::read(terminal, buf, sizeof buf)) > 0;) {
        r.err.append(buf, n);
        if (watch) watch(r.err);
      }
    });
    r.code = pid > 0 ? test::reap(pid) : -1;
    reader.join();
    r.out = test::read_file("/proc/self/fd/" + std::to_string(out));
    for (int fd : {terminal, in, out}) ::close(fd);
    return r;
  }

  // Runs quillon3 with the words of `line`, its output `fd` (stdout or stderr) a pipe whose
  // reader goes away as soon as `gone` says so; the result holds the other outputs.
  template <class Gone>
  test::Run_Result run_into_closed_pipe(const std::string& line, int fd, Gone gone) const {
    test::Run_Result r;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "no pipe: " << std::strerror(errno);
      return r;
    }
    ::fcntl(pipe_fds[0], F_SETPIPE_SZ, 1 << 20);  // what is written before `gone` fits
    const std::array<int, 3> kept = {::open("/dev/null", O_RDONLY | O_CLOEXEC),
                                     ::memfd_create("stdout", MFD_CLOEXEC),
                                     ::memfd_create("stderr", MFD_CLOEXEC)};
    std::array<int, 3> fds = kept;
    fds[fd] = pipe_fds[1];
    std::istringstream words(line);
    std::vector<std::string> argv(std::istream_iterator<std::string>(words), {});
    argv.insert(argv.begin(), test::runner_path());
    const pid_t pid = test::spawn(argv, fds, r.err);
    ::close(pipe_fds[1]);
    EXPECT_TRUE(eventually(gone)) << "the reader never went";
    ::close(pipe_fds[0]);
    r.code = pid > 0 ? test::reap(pid) : -1;
    r.out = test::read_file("/proc/self/fd/" + std::to_string(kept[STDOUT_FILENO]));
    r.err += test::read_file("/proc/self/fd/" + std::to_string(kept[STDERR_FILENO]));
    for (int f : kept) ::close(f);
    return r;
  }

  // The line of a first stop: it must hold whether the job then cancels or, past the
  // point where it could stop, completes; the run's last line says which.
  static std::string first_stop_line(const std::string& said, const std::string& verb) {
    return "\nquillon3: " + said + ": asking the " + verb +
           " to stop; it removes what it can still undo and keeps what is past undoing\n";
  }

  // Runs quillon3 with the words of `line`, its stderr a pipe that is full and never read
  // (a stopped pager, a stalled log shipper); once `ready` says so, sends it three
  // SIGINTs 300 ms apart. Its exit code; 128 + SIGKILL when it still ran 20 s after the
  // third, and was killed.
  template <class Ready>
  int stopped_with_stderr_full(const std::string& line, Ready ready) const {
    int full[2];
    if (::pipe2(full, O_CLOEXEC | O_NONBLOCK) != 0) {
      ADD_FAILURE() << "no pipe: " << std::strerror(errno);
      return -1;
    }
    const std::string fill(4096, 'x');
    while (::write(full[1], fill.data(), fill.size()) > 0) {
    }
    ::fcntl(full[1], F_SETFL, 0);  // the runner's writes wait, as on any full pipe
    const std::array<int, 3> fds = {::open("/dev/null", O_RDONLY | O_CLOEXEC),
                                    ::memfd_create("stdout", MFD_CLOEXEC), full[1]};
    std::istringstream words(line);
    std::vector<std::string> argv(std::istream_iterator<std::string>(words), {});
    argv.insert(argv.begin(), test::runner_path());
    std::string error;
    const pid_t pid = test::spawn(argv, fds, error);
    for (int fd : {fds[0], fds[1], full[1]}) ::close(fd);
    EXPECT_LT(0, pid) << error;
    EXPECT_TRUE(eventually(ready)) << "the job never got there";
    for (int i = 0; i < 3 && pid > 0; ++i) {
      ::kill(pid, SIGINT);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    int status = 0;
    for (int ms = 0; pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0; ms += 50) {
      if (ms == 20000) ::kill(pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(full[0]);
    return pid <= 0 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // True once no fault added to the cloud waits for its call any more.
  bool faults_fired() const { return fault_fired(""); }

  // True once no fault added for `action` (for any action when empty) is pending.
  bool fault_fired(const std::string& action) const {
    const json_spirit::Object faults = test::object_of(sim_->get("/faults"));
    const auto pending = faults.find("pending");
    if (pending == faults.end() || pending->second.type() != json_spirit::array_type) return false;
    return std::none_of(pending->second.get_array().begin(), pending->second.get_array().end(),
                        [&action](const json_spirit::Value& fault) {
                          if (action.empty() || fault.type() != json_spirit::obj_type) return true;
                          const auto named = fault.get_obj().find("action");
                          return named != fault.get_obj().end() &&
                                 named->second == json_spirit::Value(action);
                        });
  }

  // The instances of the sets in the catalog, in order, each once per set.
  std::vector<std::string> catalogued() const {
    RESTful_Catalog_Operator catalog("localhost", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> entries;
    EXPECT_TRUE(catalog.list("", entries));
    std::vector<std::string> instances;
    for (const Catalog_Entry& e : entries) {
      const auto id = e.set.find("instance_id");
      const bool named = id != e.set.end() && id->second.type() == json_spirit::str_type;
      instances.push_back(named ? id->second.get_str() : "?");
    }
    std::sort(instances.begin(), instances.end());
    return instances;
  }

  // The set each instance's latest backup made: its uuid and its time point, as the
  // catalog lists them, and the time point as its JSON records spell it.
  struct Set {
    std::string uuid, timepoint, start;
  };
  std::map<std::string, Set> backup_sets() const {
    std::map<std::string, Set> sets;
    const json_spirit::Value records = JSON_Load(run("catalog list --json").out);
    for (const json_spirit::Value& r : records.get_array()) {
      Set& set = sets[r.get_obj().at("instance_id").get_str()];
      set.uuid = r.get_obj().at("uuid").get_str();
      json_spirit::object_get(r.get_obj(), "backup_start_time", set.start);
    }
    std::istringstream lines(run("catalog list").out);
    for (std::string line; std::getline(lines, line);)
      for (auto& [instance, set] : sets)
        if (line.find(" " + set.uuid + " ") != std::string::npos)
          set.timepoint = line.substr(0, line.find(' '));
    return sets;
  }

  // The simulator's leftovers of the kind `what` ("links", "tmp_snapshots", ...).
  json_spirit::Array leftovers(const std::string& what) const {
    const Object left = test::object_of(sim_->get("/leftovers"));
    const auto it = left.find(what);
    return it != left.end() ? it->second.get_array() : json_spirit::Array();
  }

  std::unique_ptr<test::Sim_Process> sim_;
};

TEST_F(Runner_Jobs, BackupThenRestoreAsANewInstanceHoldsTheSourceBytes) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string definition = backup_definition(R"({"parallel_disks_per_vm": 2})");
  const test::Run_Result backup = run("backup --quiet " + write("backup.json", definition));
  ASSERT_EQ(0, backup.code) << backup.all();
  EXPECT_EQ("", backup.err);
  const json_spirit::Value history = JSON_Load(backup.out);
  ASSERT_EQ(json_spirit::array_type, history.type()) << backup.out;
  for (const json_spirit::Value& h : history.get_array())
    EXPECT_EQ("completed", h.get_obj().at("state").get_str()) << backup.out;
  expect_nothing_left();
  // Images hold whole disks: the home's and the pool's folders and files are the owner's.
  size_t files = 0;
  for (const std::string& root : {home_, tmp_.path() + "/pool"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      const bool dir = entry.is_directory();
      files += !dir;
      const auto mode = static_cast<unsigned>(entry.status().permissions());
      EXPECT_EQ(dir ? 0700u : 0600u, mode) << entry.path();
    }
  }
  EXPECT_GT(files, 8u);  // the identity, keys, registries, catalog, activity, images

  std::map<std::string, Set> sets = backup_sets();

  // Both as new instances: i-a on a node the entry names, i-b where the cloud puts it.
  const struct {
    std::string src, target, node;
  } restores[] = {{"i-a", "vm-a-restored", "node-a1"}, {"i-b", "vm-b-restored", ""}};
  std::vector<std::string> entries;
  for (const auto& r : restores) {
    const Set& set = sets[r.src];
    ASSERT_FALSE(set.timepoint.empty()) << r.src;
    EXPECT_EQ(set.start, set.timepoint) << r.src;
    entries.push_back(test::restore_entry(set.uuid, set.timepoint, r.src, r.target, "", r.node));
  }
  auto restore_of = [this](const std::string& name, const std::string& entries) {
    return write(name, R"({"type": "restore", "subtype": "vm",
      "id": "r1", "host_id": "c1", "target_pool": "p1",
      "source": {"id": "cloud-1", "name": "cloud", "entries": [)" + entries + R"(]},
      "options": {"parallel_disks_per_vm": 2}})");
  };
  const std::string restore = restore_of("restore.json", entries[0] + "," + entries[1]);
  // Images swapped or copied over one another in the pool (an operator's mistake, a file
  // system's repair) are not the images the catalog names: the restore of i-a refuses
  // them before it writes a block, says which image it found (without -v), exits 1 and
  // leaves nothing in the cloud. Put back, they restore. A cloud that refuses the new
  // instance fails the restore too, after its volumes were written and detached from the
  // agent: its clean-up detaches none of them again. Each volume is detached once.
  namespace fs = std::filesystem;
  std::map<std::string, fs::path> image;  // volume -> its image in the pool
  for (const auto& entry : fs::recursive_directory_iterator(tmp_.path() + "/pool"))
    for (const char* volume : {"vol-a-root", "vol-a-data", "vol-b-data"})
      if (entry.path().filename().string().find(std::string("-") + volume + "-") !=
          std::string::npos)
        image[volume] = entry.path();
  ASSERT_EQ(3u, image.size());
  const fs::path saved = tmp_.path() + "/saved";
  fs::create_directory(saved);
  for (const auto& [volume, path] : image) fs::copy_file(path, saved / volume);
  const std::string found = R"(Failed to read pool image: the image at "[^"]*)";
  const auto detaches = [this] {
    return JSON_Load(sim_->get("/calls?action=DetachVolume")).get_array().size();
  };
  const struct {
    std::string change;
    std::vector<std::pair<std::string, std::string>> copies;  // volume's image -> onto
    std::string fault;    // the cloud's, as its control takes it; empty: none
    std::string refusal;  // what the restore says of it (a regex)
  } cases[] = {
      {"i-a's root and data images swapped",
       {{"vol-a-root", "vol-a-data"}, {"vol-a-data", "vol-a-root"}}, "",
       found + R"(/i-a/Quillon3-i-a-vol-a-(root|data)-[^"]*" was written as "[^"]*/i-a/Quillon3-i-a-)"},
      {"i-b's data image copied over i-a's", {{"vol-b-data", "vol-a-data"}}, "",
       found + R"(/i-a/Quillon3-i-a-vol-a-data-[^"]*" was written as "[^"]*/i-b/Quillon3-i-b-vol-b-data-)"},
      {"the new instance refused", {}, R"({"action": "RunInstances"})",
       "Injected failure of RunInstances"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    for (const auto& [from, onto] : c.copies)
      fs::copy_file(saved / from, image[onto], fs::copy_options::overwrite_existing);
    if (!c.fault.empty()) {
      ASSERT_TRUE(sim_->post("/faults", c.fault));
    }
    const size_t detached_before = detaches();
    const test::Run_Result r = run("restore --quiet " + restore_of("a.json", entries[0]));
    EXPECT_EQ(1, r.code);
    EXPECT_THAT(r.err, ::testing::ContainsRegex(c.refusal));
    EXPECT_THAT(r.err, ::testing::EndsWith("quillon3: error: Failed to restore instance i-a\n"
                                           "quillon3: restore failed\n"));
    EXPECT_EQ(2u, detaches() - detached_before);
    EXPECT_EQ("", sim_->instance_status("vm-a-restored"));
    expect_nothing_left();
    for (const auto& [volume, path] : image)
      fs::copy_file(saved / volume, path, fs::copy_options::overwrite_existing);
  }

  const test::Run_Result restored = run("restore --quiet " + restore);
  ASSERT_EQ(0, restored.code) << restored.all();
  // It names what it made: each new instance's name and the id the cloud gave it (not
  // the source's, which has the same form).
  const json_spirit::Array made = test::object_of(sim_->get("/state"))["instances"].get_array();
  for (const auto& r : restores) {
    std::string id;
    for (const json_spirit::Value& i : made)
      if (i.get_obj().at("name").get_str() == r.target) id = i.get_obj().at("id").get_str();
    EXPECT_TRUE(!id.empty() && id != r.src) << r.target << " made as '" << id << "'";
    EXPECT_THAT(restored.err, ::testing::HasSubstr("quillon3: restored " + r.src +
                                                   " as the new instance " + id + " (" +
                                                   r.target + ")\n"));
  }
  for (const auto& r : restores) {
    const std::string x = r.src.substr(2);
    EXPECT_EQ(sim_->instance_digests(r.target), (std::vector<std::string>{
                                                    sim_->digest("vol-" + x + "-root"),
                                                    sim_->digest("vol-" + x + "-data")}))
        << r.target;
  }
}

// Every fault of a definition file is one line on stderr and exit 1, before any job runs.
TEST_F(Runner_Jobs, BrokenDefinitionsGetOneLine) {
  prepare_home(1);
  const std::string good = backup_definition("{}");
  auto with = [&good](const std::string& member) { return "{" + member + "," + good.substr(1); };
  const std::string head = R"({"type": "backup", "id": "b", "host_id": "c1", "target_pool": "p1")";
  // `text` with the first `from` replaced by `to`.
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  const struct {
    std::string command;
    std::string text;  // the file's content; empty: no file
    std::string message;
  } cases[] = {
      {"backup", "", "cannot read"},
      {"backup", "{\"type\": ", "is not JSON"},
      {"backup", "[]", "must be a JSON object"},
      {"backup", with(R"("scipts": {})"), "unknown key \"scipts\""},
      {"backup", with(R"("scripts": {"pre": "x"})"), R"(unknown key "scripts.pre")"},
      {"backup", with(R"("retry_count": "3")"), R"("retry_count" must be a whole number)"},
      {"backup", with(R"("retry_interval": -1)"), R"("retry_interval" must be a whole number)"},
      {"backup", with(R"("rate_limits": {"dest": [{"start_time": 90000}]})"),
       R"("rate_limits.dest[0].start_time" must be a whole number in 0..86400)"},
      {"backup", with(R"("uid": "not-a-uuid")"), R"("uid" must be a UUID)"},
      {"backup", with(R"("subtype": "incremental")"),
       R"(the "subtype" of a backup must be "full")"},
      {"backup", head + "}", R"(missing "source")"},
      {"backup", replaced(head, "\"b\"", "\"../b\"") + "}", R"("id" may hold only)"},
      {"backup", replaced(good, "\"b1\"", "\"..\""), R"("id" may hold only)"},
      {"backup", replaced(good, "\"b1\"", "\".\""), R"(must not be '.' or '..')"},
      {"backup", replaced(good, "\"b1\"", "\"" + std::string(200, 'b') + "\""),
       R"("id" may hold only letters, digits, '.', '_', ':' and '-' (1..128))"},
      {"backup", replaced(good, "\"b1\"", "7"), R"("id" must be a string)"},
      {"backup", replaced(good, "\"c1\"", "\"..\""), R"("host_id" may hold only)"},
      {"backup", head + R"(, "source": {"entries": []}})", R"("source.entries" must not be empty)"},
      {"backup", replaced(good, "{}}", "[]}"), R"("options" must be an object)"},
      {"backup", replaced(good, "\"p1\"", "\"nopool\""), "no such pool: nopool"},
      {"backup", replaced(good, "\"c1\"", "\"nobody\""), "no such account: nobody"},
      {"restore", good, "defines a backup job; run 'quillon3 backup"},
      {"restore", R"({"type": "restore", "id": "r", "host_id": "c1", "target_pool": "p1",
                      "source": {"pool_uuid": "gone", "entries": [{}]}})", "no such pool: gone"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command + " " + c.text);
    const std::string path = tmp_.path() + "/def.json";
    std::filesystem::remove(path);
    if (!c.text.empty()) write("def.json", c.text);
    const test::Run_Result r = run(c.command + " " + path);
    EXPECT_THAT(r.summary(), ::testing::StartsWith("1 quillon3: "));
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
  }
  const std::string definition = write("def.json", good);
  EXPECT_THAT(run("--module " + tmp_.path() + "/none.so backup " + definition).summary(),
              ::testing::MatchesRegex("1 .*cannot load module.*"));
}

// The source and options documents are checked key by key, at every level, before
// anything runs: a misspelt key (named with the key it is close to), an entry without a
// type or of an unknown one, a new instance's missing type or cluster, and a value of the
// wrong type or out of range (which the module would take as absent) each get the one
// exact line. What the module takes passes the check, and the job then fails to log in
// (the account's cloud is down).
TEST_F(Runner_Jobs, DefinitionDocumentsAreCheckedKeyByKey) {
  prepare_home(1);
  auto backup = [](const std::string& entries, const std::string& options = "{}") {
    return R"({"type": "backup", "id": "b", "host_id": "c1", "target_pool": "p1",
               "source": {"id": "cloud-1", "name": "cloud", "entries": [)" + entries +
           R"(]}, "options": )" + options + "}";
  };
  auto restore = [](const std::string& subtype, const std::string& entry,
                    const std::string& options = "{}") {
    return R"({"type": "restore", "subtype": ")" + subtype + R"(", "id": "r", "host_id": "c1",
               "target_pool": "p1", "source": {"id": "cloud-1", "entries": [)" + entry +
           R"(]}, "options": )" + options + "}";
  };
  const std::string web = R"({"id": "i-a", "name": "vm-a", "type": "Instance"})";
  const std::string from = R"("catalog_uuid": "set-1", "backup_start_time": "20260101000000",
      "src_instance_id": "i-a", "src_instance_name": "vm-a")";
  const std::string flavor =
      R"("flavor": {"type": "ts.small", "display_name": "small", "cpu": 1, "ram": 1024})";
  const std::string volumes = R"("volumes": [{"id": "vol-a-root", "name": "root",
      "storage_id": "st-ceph-01", "storage_type": "ceph", "size": 1}])";
  const std::string cluster = R"("target_cluster_id": "cluster-a")";
  auto entry = [&](const std::string& members) { return "{" + from + ", " + members + "}"; };
  const std::string vm = entry(cluster + ", " + flavor + ", " + volumes);
  // A new instance from the backup of i-a taken at `timepoint`.
  auto taken_at = [&](const std::string& timepoint) {
    return R"({"catalog_uuid": "set-1", "backup_start_time": ")" + timepoint +
           R"(", "src_instance_id": "i-a", "src_instance_name": "vm-a", )" + cluster + ", " +
           flavor + ", " + volumes + "}";
  };
  const std::string not_a_time_point =
      R"("source.entries[0].backup_start_time" must be a time point: YYYYMMDDhhmmss, )"
      R"(YYYY-MM-DDThh:mm:ssZ or YYYY-MM-DD hh:mm:ss)";
  const std::string types = R"("Cloud", "Cluster", "Node", "Storage" or "Instance")";
  const std::string at_least_one = " must be a whole number in 1..2147483647";
  const std::string zstd_levels =
      std::to_string(ZSTD_minCLevel()) + ".." + std::to_string(ZSTD_maxCLevel());
  const struct {
    std::string what;
    std::string command;
    std::string text;  // the definition file
    std::string line;  // what stderr says after "quillon3: <file>: "; empty: the check takes it
  } rows[] = {
      {"a backup option with '-'", "backup", backup(web, R"({"restart-vm": true})"),
       R"(unknown key "options.restart-vm" (did you mean "restart_vm"?))"},
      {"a backup option cut short", "backup", backup(web, R"({"exclude": ["test-*"]})"),
       R"(unknown key "options.exclude" (did you mean "exclusion"?))"},
      {"a backup option in capitals", "backup", backup(web, R"({"Parallel_VMs": 1})"),
       R"(unknown key "options.Parallel_VMs" (did you mean "parallel_vms"?))"},
      {"a restore's option in a backup", "backup", backup(web, R"({"duplicate_vm": "ignore"})"),
       R"(unknown key "options.duplicate_vm")"},
      {"a backup's volume list misspelt", "backup",
       backup(R"({"id": "i-a", "name": "a", "type": "Instance", "volume": [{"vol_id": "v"}]})"),
       R"(unknown key "source.entries[0].volume" (did you mean "volumes"?))"},
      {"a backup's volume by id", "backup",
       backup(R"({"id": "i-a", "name": "a", "type": "Instance", "volumes": [{"id": "v"}]})"),
       R"(unknown key "source.entries[0].volumes[0].id")"},
      {"a backup's volume not an object", "backup",
       backup(R"({"id": "i-a", "name": "a", "type": "Instance", "volumes": ["v"]})"),
       R"("source.entries[0].volumes[0]" must be an object)"},
      {"a restore's source key in a backup", "backup",
       R"({"type": "backup", "id": "b", "host_id": "c1", "target_pool": "p1",
           "source": {"id": "cloud-1", "pool_uuid": "p1", "entries": [)" + web + "]}}",
       R"(unknown key "source.pool_uuid")"},
      {"an entry without a type", "backup", backup(web + R"(, {"id": "node-a1", "name": "n"})"),
       R"(missing "source.entries[1].type" ()" + types + ")"},
      {"a type in lower case", "backup",
       backup(R"({"id": "i-a", "name": "a", "type": "instance"})"),
       R"("source.entries[0].type" must be )" + types + R"( (did you mean "Instance"?))"},
      {"a type of another product", "backup",
       backup(R"({"id": "i-a", "name": "a", "type": "VirtualMachine"})"),
       R"("source.entries[0].type" must be )" + types},
      {"an entry without an id", "backup", backup(R"({"name": "a", "type": "Cloud"})"),
       R"(missing "source.entries[0].id")"},
      {"an entry without a name", "backup", backup(R"({"id": "i-a", "type": "Instance"})"),
       R"(missing "source.entries[0].name")"},
      {"a misspelt restore key", "restore",
       restore("vm", entry(cluster + ", " + flavor + R"(, "target_name": "x", )" + volumes)),
       R"(unknown key "source.entries[0].target_name")"},
      {"the flavor spelt the British way", "restore",
       restore("vm", entry(cluster + R"(, "flavour": {"type": "ts.small"}, )" + volumes)),
       R"(unknown key "source.entries[0].flavour" (did you mean "flavor"?))"},
      {"a flavor's memory", "restore",
       restore("vm",
               entry(cluster + R"(, "flavor": {"type": "ts.small", "memory": 1}, )" + volumes)),
       R"(unknown key "source.entries[0].flavor.memory")"},
      {"an interface's subnet", "restore",
       restore("vm",
               entry(cluster + ", " + flavor + R"(, "nic": [{"vpc_id": "v", "subnet": "s"}])")),
       R"(unknown key "source.entries[0].nic[0].subnet" (did you mean "subnet_id"?))"},
      {"a security group by id", "restore",
       restore("vm", entry(cluster + ", " + flavor +
                           R"(, "nic": [{"vpc_id": "v", "security_groups": [{"id": "sg"}]}])")),
       R"(unknown key "source.entries[0].nic[0].security_groups[0].id")"},
      {"a volume's storage", "restore",
       restore("disk", entry(R"("target_instance_id": "i-b",
                                "volumes": [{"id": "v", "storage": "s"}])")),
       R"(unknown key "source.entries[0].volumes[0].storage" (did you mean "storage_id"?))"},
      {"a restore option with '-'", "restore", restore("vm", vm, R"({"duplicate-vm": "ignore"})"),
       R"(unknown key "options.duplicate-vm" (did you mean "duplicate_vm"?))"},
      {"a new instance without a flavor", "restore", restore("vm", entry(cluster + ", " + volumes)),
       R"(missing "source.entries[0].flavor" (the type of the instance a "vm" restore makes))"},
      {"a new instance of no type", "restore",
       restore("vm", entry(cluster + R"(, "flavor": {"type": ""}, )" + volumes)),
       R"("source.entries[0].flavor.type" must be a non-empty string)"},
      {"a new instance without a cluster", "restore", restore("vm", entry(flavor + ", " + volumes)),
       R"(missing "source.entries[0].target_cluster_id" (the cluster a "vm" restore makes the )"
       R"(instance in))"},
      {"a short key with two letters swapped", "backup",
       backup(R"({"id": "i-a", "nmae": "a", "type": "Instance"})"),
       R"(unknown key "source.entries[0].nmae" (did you mean "name"?))"},
      {"a backup's volume without its id", "backup",
       backup(R"({"id": "i-a", "name": "a", "type": "Instance", "volumes": [{}]})"),
       R"(missing "source.entries[0].volumes[0].vol_id")"},
      {"a source named by a number", "backup", R"({"type": "backup", "id": "b", "host_id": "c1",
           "target_pool": "p1", "source": {"id": "cloud-1", "name": 7, "entries": [)" + web + "]}}",
       R"("source.name" must be a string)"},
      {"one exclusion pattern, not a list", "backup", backup(web, R"({"exclusion": "web*"})"),
       R"("options.exclusion" must be a list of strings)"},
      {"an exclusion list with a number", "backup", backup(web, R"({"exclusion": ["web*", 1]})"),
       R"("options.exclusion" must be a list of strings)"},
      {"restart_vm as a text", "backup", backup(web, R"({"restart_vm": "true"})"),
       R"("options.restart_vm" must be true or false)"},
      {"reserve_snapshot as a number", "backup", backup(web, R"({"reserve_snapshot": 1})"),
       R"("options.reserve_snapshot" must be true or false)"},
      {"no instance at once", "backup", backup(web, R"({"parallel_vms": 0})"),
       R"("options.parallel_vms")" + at_least_one},
      {"fewer than none per node", "backup", backup(web, R"({"parallel_vms_per_host": -1})"),
       R"("options.parallel_vms_per_host")" + at_least_one},
      {"no volume at once", "backup", backup(web, R"({"parallel_disks_per_vm": 0})"),
       R"("options.parallel_disks_per_vm")" + at_least_one},
      {"instances at once beyond an int", "backup", backup(web, R"({"parallel_vms": 2147483648})"),
       R"("options.parallel_vms")" + at_least_one},
      {"a compression level above zstd's", "backup", backup(web, R"({"compression_level": 23})"),
       R"("options.compression_level" must be a whole number in )" + zstd_levels},
      {"a compression level as a fraction", "backup",
       backup(web, R"({"compression_level": 1.5})"),
       R"("options.compression_level" must be a whole number in )" + zstd_levels},
      {"a codec by number", "backup", backup(web, R"({"compression": 1})"),
       R"("options.compression" must be a string)"},
      {"more than all of a storage reserved", "backup",
       backup(web, R"({"storage_reserved_percent": 101})"),
       R"("options.storage_reserved_percent" must be a whole number in 0..100)"},
      {"reserved bytes below none", "backup", backup(web, R"({"storage_reserved_bytes": -1})"),
       R"("options.storage_reserved_bytes" must be a whole number in 0..18446744073709551615)"},
      {"a time point in words", "restore", restore("vm", taken_at("yesterday")),
       not_a_time_point},
      {"a time point of a day that does not exist", "restore",
       restore("vm", taken_at("20260230000000")), not_a_time_point},
      {"an entry without its instance's name", "restore",
       restore("disk", R"({"catalog_uuid": "set-1", "backup_start_time": "20260101000000",
                           "src_instance_id": "i-a", "target_instance_id": "i-b", )" +
                           volumes + "}"),
       R"(missing "source.entries[0].src_instance_name")"},
      {"a target node by number", "restore",
       restore("vm", entry(cluster + ", " + flavor + ", " + volumes + R"(, "target_node_id": 1)")),
       R"("source.entries[0].target_node_id" must be a string)"},
      {"a flavor's cpus as a text", "restore",
       restore("vm", entry(cluster + R"(, "flavor": {"type": "ts.small", "display_name": "small",
                                     "cpu": "1", "ram": 1024}, )" + volumes)),
       R"("source.entries[0].flavor.cpu" must be a whole number in 0..2147483647)"},
      {"a flavor without its memory", "restore",
       restore("disk", entry(R"("target_instance_id": "i-b", "flavor": {"type": "ts.small",
                                "display_name": "small", "cpu": 1}, )" + volumes)),
       R"(missing "source.entries[0].flavor.ram")"},
      {"an interface without its subnet", "restore",
       restore("vm", entry(cluster + ", " + flavor + ", " + volumes + R"(, "nic": [{"vpc_id": "v",
           "vpc_name": "v", "subnet_name": "s"}])")),
       R"(missing "source.entries[0].nic[0].subnet_id")"},
      {"an interface of another kind", "restore",
       restore("vm", entry(cluster + ", " + flavor + ", " + volumes + R"(, "nic": [{"vpc_id": "v",
           "vpc_name": "v", "subnet_id": "s", "subnet_name": "s", "type": "primary"}])")),
       R"("source.entries[0].nic[0].type" must be "main" or "extend")"},
      {"an address kept by another word", "restore",
       restore("vm", entry(cluster + ", " + flavor + ", " + volumes + R"(, "nic": [{"vpc_id": "v",
           "vpc_name": "v", "subnet_id": "s", "subnet_name": "s", "ip_op": "fixed"}])")),
       R"("source.entries[0].nic[0].ip_op" must be "auto", "reserve" or "specify")"},
      {"a security group without its name", "restore",
       restore("vm", entry(cluster + ", " + flavor + ", " + volumes + R"(, "nic": [{"vpc_id": "v",
           "vpc_name": "v", "subnet_id": "s", "subnet_name": "s",
           "security_groups": [{"security_group_id": "g"}]}])")),
       R"(missing "source.entries[0].nic[0].security_groups[0].security_group_name")"},
      {"a volume of no size", "restore",
       restore("vm", entry(cluster + ", " + flavor + R"(, "volumes": [{"id": "vol-a-root",
           "name": "root", "storage_id": "st-ceph-01", "storage_type": "ceph", "size": 0}])")),
       R"("source.entries[0].volumes[0].size" must be a whole number in 1..2147483647)"},
      {"a volume onto an instance without its storage type", "restore",
       restore("disk", entry(R"("target_instance_id": "i-b", "volumes": [{"id": "vol-a-root",
           "name": "root", "storage_id": "st-ceph-01", "size": 1}])")),
       R"(missing "source.entries[0].volumes[0].storage_type")"},
      {"start_vm as a text", "restore", restore("vm", vm, R"({"start_vm": "false"})"),
       R"("options.start_vm" must be true or false)"},
      {"no restore at once", "restore", restore("vm", vm, R"({"parallel_vms": 0})"),
       R"("options.parallel_vms")" + at_least_one},
      {"duplicate_vm as a flag", "restore", restore("vm", vm, R"({"duplicate_vm": true})"),
       R"("options.duplicate_vm" must be a string)"},
      {"every backup option, a Cloud entry of any id", "backup",
       backup(R"({"id": "zz-nope", "name": "", "type": "Cloud"},
                 {"id": "i-a", "name": "a", "type": "Instance", "volumes": [{"vol_id": "v"}]})",
              R"({"compression": "zstd", "compression_level": 3, "parallel_vms": 1,
                  "parallel_vms_per_host": 1, "parallel_disks_per_vm": 1,
                  "storage_reserved_bytes": 0, "storage_reserved_percent": 0, "restart_vm": false,
                  "reserve_snapshot": false, "exclusion": ["test-*"]})"),
       ""},
      {"every restore key and option", "restore",
       restore("vm", entry(cluster + ", " + flavor + ", " + volumes + R"(, "owner_id": "o",
           "target_instance_name": "a2", "target_cluster_name": "A", "target_node_id": "node-a1",
           "target_node_name": "a1", "nic": [{"vpc_id": "v", "vpc_name": "v", "subnet_id": "s",
           "subnet_name": "s", "type": "main", "mac_address": "", "ip_address": "", "ip_op": "auto",
           "mac_op": "auto", "security_groups": [{"security_group_id": "g",
           "security_group_name": "g"}]}])"),
               R"({"parallel_vms": 1, "parallel_vms_per_host": 1, "parallel_disks_per_vm": 1,
                   "start_vm": true, "original_restore": false, "duplicate_vm": "timestamp"})"),
       ""},
      {"a codec the pool does not know and zstd's fastest level", "backup",
       backup(web, R"({"compression": "brotli", "compression_level": )" +
                       std::to_string(ZSTD_minCLevel()) + "}"),
       ""},
      {"the time point in both ISO forms, any duplicate_vm text", "restore",
       restore("vm", taken_at("2026-01-01T00:00:00Z") + ", " + taken_at("2026-01-01 00:00:00"),
               R"({"duplicate_vm": "as-is"})"),
       ""},
      {"a new instance in the cluster of the instance it names", "restore",
       restore("vm", entry(R"("target_instance_id": "i-b", )" + flavor + ", " + volumes)), ""},
      {"volumes onto an existing instance: no flavor or cluster", "restore",
       restore("disk", entry(R"("target_instance_id": "i-b", )" + volumes)), ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string path = write("def.json", row.text);
    const test::Run_Result r = run(row.command + " --quiet " + path);
    if (!row.line.empty()) {
      EXPECT_EQ("1 quillon3: " + path + ": " + row.line + "\n", r.summary());
      continue;
    }
    EXPECT_EQ(1, r.code);
    EXPECT_THAT(r.err, ::testing::AllOf(::testing::HasSubstr("Failed to log in to cloud"),
                                        ::testing::Not(::testing::HasSubstr(path))));
  }
}

// A stop while the first instance's volumes are attached to the agent, by Ctrl-C, a kill
// or a hang-up (a closed terminal, a dropped session): the job is cancelled, cleans up,
// and the runner says so and exits 1. A stop once the first instance completed (the
// second held at its first snapshot) keeps that instance's set, whole and catalogued,
// and names it.
TEST_F(Runner_Jobs, StopSignalsMidBackupLeaveNothingBehind) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(4));
  const std::string definition = write("backup.json", backup_definition(R"({"parallel_vms": 1})"));
  const struct {
    int signal;
    std::string said;
    bool first_completes;
    std::string last;
    std::vector<std::string> catalogued;
  } stops[] = {
      {SIGINT, "interrupted", false, "quillon3: backup cancelled on request\n", {}},
      {SIGTERM, "terminated", false, "quillon3: backup cancelled on request\n", {}},
      {SIGHUP, "hung up", false, "quillon3: backup cancelled on request\n", {}},
      {SIGINT, "interrupted", true,
       "quillon3: backup cancelled on request; it kept what completed before the stop: the "
       "backup set of i-a\n",
       {"i-a"}},
  };
  for (const auto& stop : stops) {
    SCOPED_TRACE(stop.said + (stop.first_completes ? " after i-a" : ""));
    if (stop.first_completes) {  // i-a's two volumes, then i-b's first
      ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "nth": 3,
                                            "kind": "stuck"})"));
    }
    test::Runner_Process backup({"backup", definition});
    ASSERT_TRUE(eventually([this, &stop] {
      return stop.first_completes ? !catalogued().empty() && !leftovers("tmp_snapshots").empty()
                                  : !leftovers("links").empty();
    })) << "the backup never got there";
    backup.signal(stop.signal);
    ASSERT_TRUE(eventually([&backup, &stop] {
      return backup.err_so_far().find(first_stop_line(stop.said, "backup")) != std::string::npos;
    })) << backup.err_so_far();
    ASSERT_TRUE(sim_->post("/settle", "{}"));
    const test::Run_Result& r = backup.finish();
    EXPECT_EQ(1, r.code) << r.all();
    EXPECT_THAT(r.err, ::testing::EndsWith(stop.last));
    EXPECT_EQ(stop.catalogued, catalogued());
    expect_nothing_left();
  }
}

// Output nobody reads any more never ends a job. Its reader goes away mid-backup, once
// the cloud made the temporary snapshot (held until then). With stderr gone (the log of
// -v and the progress lines are dropped) the backup completes; with stdout gone it
// completes too, says on stderr that its history was lost and exits 1, its set
// catalogued. Nothing is left half-done in the cloud or the pool, and no image the
// catalog does not name.
TEST_F(Runner_Jobs, OutputNobodyReadsNeverEndsABackup) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string definition = write("backup.json", backup_definition("{}", "b1", {"a"}));
  const struct {
    std::string line;
    int closed;  // the output whose reader goes
    int code;
    std::string history, err;
  } cases[] = {
      {"-v backup", STDERR_FILENO, 0, "i-a:completed", ""},
      {"backup --quiet", STDOUT_FILENO, 1, "not a history: ",
       "quillon3: cannot write the backup's history to stdout: Broken pipe; what the job "
       "completed is kept\n"},
  };
  std::vector<std::string> sets;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "kind": "stuck"})"));
    const test::Run_Result r = run_into_closed_pipe(c.line + " " + definition, c.closed, [this] {
      return !leftovers("tmp_snapshots").empty() && sim_->post("/settle", "{}");
    });
    EXPECT_EQ(c.code, r.code) << r.all();
    EXPECT_EQ(c.history, states(r.out));
    EXPECT_EQ(c.err, r.err);
    sets.push_back("i-a");
    EXPECT_EQ(sets, catalogued());
    expect_nothing_left();
    size_t images = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tmp_.path() + "/pool"))
      images += e.is_regular_file();
    EXPECT_EQ(2 * sets.size(), images);  // a root and a data volume each
  }
}

// A backup whose source leaves work undone: an entry the cloud does not know (deleted,
// misspelt), a terminated instance or the agent's own named, a volume the instance does
// not have, a login the cloud refuses, an instance that cannot be powered on again. The
// rest is backed up, each cause is named once without -v (an alert as an error by its
// level, the job's error lines without those that only repeat a cause), and the run
// exits 1 so that scripts see it; the last line says what was left undone, or why
// nothing ran. What the job itself asked to leave out or change (an exclusion, a power
// cycle, a codec it does not know) and an entry that selects nothing are warning lines
// and exit 0; so is a try's failure that a retry mended, its error said to be.
TEST_F(Runner_Jobs, ABackupThatLeavesWorkUndoneSaysWhatAndExitsOne) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1, {test::seed_instance("c", "10.10.1.33", "terminated")}));
  const std::string a = R"({"id": "i-a", "name": "vm-a", "type": "Instance"})";
  const std::string b = R"({"id": "i-b", "name": "vm-b", "type": "Instance"})";
  const struct {
    std::string name, entries, options = "{}", members = "";
    std::string fault;  // the cloud's, as its control takes it; empty: none
    int code;
    std::string states;
    std::vector<std::string> lines;  // each shown once
    std::string last;
    std::string catalog = "";  // when not empty, what catalog.db holds for the run
    std::string left = "running";  // i-a's state after the run
  } cases[] = {
      {"an instance the cloud does not have",
       a + R"(, {"id": "i-gone", "name": "vm-gone", "type": "Instance"})", "{}", "", "", 1,
       "i-a:completed",
       {"quillon3: error: Source entry vm-gone (type Instance, id i-gone) was not found or could "
        "not be listed; it was skipped\n",
        "quillon3: error: Tavrocloud has no Instance i-gone: source entry vm-gone was skipped\n"},
       "quillon3: backup finished, but 1 source entry(ies) were not found or could not be "
       "listed\n"},
      {"a node, a cluster and a storage the cloud does not have",
       a + R"(, {"id": "node-zz", "name": "nightly", "type": "Node"},
              {"id": "cluster-zz", "name": "east", "type": "Cluster"},
              {"id": "st-zz", "name": "fast", "type": "Storage"})",
       "{}", "", "", 1, "i-a:completed",
       {"quillon3: error: Source entry nightly (type Node, id node-zz) was not found or could "
        "not be listed; it was skipped\n",
        "quillon3: error: Source entry east (type Cluster, id cluster-zz) was not found or could "
        "not be listed; it was skipped\n",
        "quillon3: error: Source entry fast (type Storage, id st-zz) was not found or could "
        "not be listed; it was skipped\n",
        "quillon3: error: Tavrocloud has no Node node-zz: source entry nightly was skipped\n"},
       "quillon3: backup finished, but 3 source entry(ies) were not found or could not be "
       "listed\n"},
      {"a terminated instance", a + R"(, {"id": "i-c", "name": "vm-c", "type": "Instance"})",
       "{}", "", "", 1, "i-a:completed",
       {"quillon3: error: Instance i-c, named in the source, was skipped: it is terminated\n"},
       "quillon3: backup finished, but 1 instance(s) named in the source were skipped\n"},
      {"a volume the instance does not have",
       R"({"id": "i-a", "name": "vm-a", "type": "Instance", "volumes": [{"vol_id": "vol-zz"}]},)" +
           b,
       "{}", "", "", 1, "i-a:failed i-b:completed",
       {"quillon3: error: Failed to backup tavro volume vol-zz, volume not found\n",
        "quillon3: error: The tavro instance i-a has no volume vol-zz\n"},
       "quillon3: backup finished, but 1 instance(s) failed\n"},
      {"a catalog that refuses the set (damaged)", a, "{}", "", "", 1, "i-a:failed",
       {"quillon3: error: Failed to commit catalog for tavrocloud instance i-a\n"},
       "quillon3: backup failed\n", "not a database, but the notes of somebody's backups"},
      {"only the agent", R"({"id": "i-agent001", "name": "agent", "type": "Instance"})", "{}", "",
       "", 1, "",
       {"quillon3: error: Instance i-agent001, named in the source, was skipped: it is the "
        "backup agent's own instance\n"},
       "quillon3: backup failed: No tavrocloud instance to back up: 1 skipped (terminated, "
       "without a name or the backup agent's own)\n"},
      {"a login the cloud refuses", a, "{}", "",
       R"({"action": "GetCloudVersion", "code": "AuthFailure", "http_status": 401})", 1, "",
       {"quillon3: error: Failed to log in to the cloud with the job's account\n"},
       "quillon3: backup failed\n"},
      {"a precondition that holds the job", a, "{}",
       R"("scripts": {"precondition": "exit 3"}, )", "", 1, "",
       {"quillon3: error: The job's script exited with status 3\n"},
       "quillon3: backup did not run: its precondition held it back: The precondition "
       "script failed: the job does not run\n"},
      {"what the job asked for",
       a + "," + b + R"(, {"id": "node-a2", "name": "spare", "type": "Node"})",
       R"({"restart_vm": true, "compression": "brotli", "exclusion": ["vm-b"]})", "", "", 0,
       "i-a:completed",
       {"quillon3: warning: Tavrocloud source entry spare (type Node, id node-a2) selects no "
        "instance\n",
        "quillon3: warning: Instance (id=i-b, name=vm-b) is excluded from backup\n",
        "quillon3: warning: Unknown compression method \"brotli\", using auto\n"},
       "quillon3: warning: Powering off tavro instance i-a (vm-a) for its backup, on again "
       "afterwards: the job's option restart_vm asks for it\n"},
      {"a snapshot refused once, made on the retry", a, "{}", R"("retry_count": 1, )",
       R"({"action": "CreateTmpSnapshots"})", 0, "i-a:completed",
       {"quillon3: error: Failed to create a temporary snapshot of instance i-a\n"},
       "quillon3: i-a completed on a later try; the error(s) above from its earlier try left "
       "nothing undone\n"},
      // Last: it leaves i-a off.
      {"an instance that cannot be powered on again", a, R"({"restart_vm": true})", "",
       R"({"action": "StartInstances"})", 1, "i-a:completed",
       {"quillon3: error: Failed to power on instance i-a after its backup\n"},
       "quillon3: backup finished, but 1 instance(s) could not be powered on again\n", "",
       "stopped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string definition =
        R"({"type": "backup", "id": "b1", "host_id": "c1", "target_pool": "p1", )" + c.members +
        R"("source": {"id": "cloud-1", "name": "cloud", "entries": [)" + c.entries +
        R"(]}, "options": )" + c.options + "}";
    const std::string catalog = home_ + "/catalog.db";
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(catalog + suffix);
    if (!c.catalog.empty()) std::ofstream(catalog) << c.catalog;
    if (!c.fault.empty()) {
      ASSERT_TRUE(sim_->post("/faults", c.fault));
    }
    const test::Run_Result r = run("backup --quiet " + write("backup.json", definition));
    EXPECT_TRUE(c.catalog.empty() || test::read_file(catalog) == c.catalog) << "changed";
    EXPECT_EQ(c.code, r.code) << r.all();
    EXPECT_EQ(c.states, states(r.out));
    EXPECT_EQ(std::string::npos, r.err.find("Unexpected error")) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("size not 1")) << "a follow-on line shown: " << r.err;
    for (const std::string& line : c.lines) {
      size_t shown = 0;
      for (size_t at = r.err.find(line); at != std::string::npos; at = r.err.find(line, at + 1))
        ++shown;
      // The alert's log line must not come back among the job's errors either.
      const std::string cause = line.substr(line.find(": ", 10) + 2, 40);
      size_t named = 0;
      for (size_t at = r.err.find(cause); at != std::string::npos; at = r.err.find(cause, at + 1))
        ++named;
      EXPECT_EQ(1u, shown) << line << r.err;
      EXPECT_EQ(1u, named) << cause << "\n" << r.err;
    }
    EXPECT_THAT(r.err, ::testing::EndsWith(c.last));
    EXPECT_EQ(c.left, sim_->instance_status("i-a"));
    expect_nothing_left();
  }
}

// A cloud that goes away in the middle of a backup, each instance's snapshot held: every
// later call finds nobody listening, and the retry of each instance cannot log in.
// Without -v each line is shown once, the cause once with what it stopped (not again in
// the line of the request that met it), and the logins say that the cloud cannot be
// reached rather than blaming the account.
TEST_F(Runner_Jobs, ACloudThatGoesAwayIsNamedOnce) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "kind": "stuck",
                                        "times": 2})"));
  test::Runner_Process backup(
      {"backup", "--quiet",
       write("b.json", backup_definition(R"({"parallel_vms": 2})", "b1", {"a", "b"},
                                         R"("retry_count": 1, )"))});
  ASSERT_TRUE(eventually([this] { return faults_fired(); })) << "the snapshots were never held";
  ASSERT_TRUE(sim_->stop());
  const test::Run_Result& r = backup.finish();
  EXPECT_EQ(1, r.code) << r.all();
  std::istringstream lines(r.err);
  std::map<std::string, int> shown;
  for (std::string line; std::getline(lines, line);) ++shown[line];
  for (const auto& [line, times] : shown) EXPECT_EQ(1, times) << line;
  EXPECT_EQ(1, shown["quillon3: error: Failed to log in: cannot reach the cloud"]) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("job's account")) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("Cloud request ")) << r.err;
  EXPECT_THAT(r.err, ::testing::EndsWith("quillon3: backup failed\n"));
}

// What the job tells is shown as it happens, not when it ends: the power-off of an
// instance is told while the instance is off (its backup held by the cloud, its
// temporary snapshot stuck); let go, the backup completes and powers it on again.
TEST_F(Runner_Jobs, AWarningIsShownWhileTheJobRuns) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "kind": "stuck"})"));
  test::Runner_Process run(
      {"backup", "--quiet",
       write("b.json", backup_definition(R"({"restart_vm": true})", "b1", {"a"}))});
  auto release = make_deleter([this] { sim_->post("/settle", "{}"); });  // on any failure
  const std::string warning =
      "quillon3: warning: Powering off tavro instance i-a (vm-a) for its backup, on again "
      "afterwards: the job's option restart_vm asks for it\n";
  ASSERT_TRUE(eventually([this] { return !leftovers("tmp_snapshots").empty(); }))
      << "the backup never asked for its snapshot";
  EXPECT_TRUE(eventually([&run, &warning] { return run.err_so_far() == warning; }))
      << run.err_so_far();
  EXPECT_EQ("stopped", sim_->instance_status("i-a"));
  ASSERT_TRUE(sim_->post("/settle", "{}"));
  const test::Run_Result& r = run.finish();
  EXPECT_EQ(0, r.code) << r.all();
  EXPECT_EQ(warning, r.err);
  EXPECT_EQ("running", sim_->instance_status("i-a"));
}

// A restore of a time point the catalog does not hold: without -v the runner names the
// cause in the job's own words and shows none of the module's internal checks (a source
// path, a call stack); with -v the whole log, the checks included, is shown.
TEST_F(Runner_Jobs, InternalChecksShowOnlyWithVerbose) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_EQ(0, run("backup --quiet " + write("b.json", backup_definition("{}", "b1", {"a"}))).code);
  const std::string restore = write(
      "r.json", R"({"type": "restore", "subtype": "vm", "id": "r1", "host_id": "c1",
      "target_pool": "p1", "source": {"id": "cloud-1", "name": "cloud", "entries": [)" +
                    test::restore_entry(backup_sets()["i-a"].uuid, "20000101000000", "i-a",
                                        "vm-a-back") +
                    R"(]}, "options": {}})");
  for (const bool verbose : {false, true}) {
    SCOPED_TRACE(verbose ? "-v" : "without -v");
    const test::Run_Result r = run(std::string(verbose ? "-v " : "") + "restore --quiet " + restore);
    EXPECT_EQ(1, r.code) << r.all();
    EXPECT_THAT(r.err, ::testing::HasSubstr("The catalog holds no backup set of tavrocloud "
                                            "instance i-a at time point 20000101000000"));
    EXPECT_EQ(verbose, r.err.find("Unexpected error in module/") != std::string::npos) << r.err;
    if (!verbose) {
      EXPECT_EQ(std::string::npos, r.err.find("module/")) << r.err;
    }
  }
  expect_nothing_left();
}

// Started without some standard descriptors (a service manager, cron, `2>&-`), a
// backup and a restore keep their records whole, since no file of the home takes a
// closed descriptor: the activity record holds the definition's uid and the final state,
// and every set the catalog holds names its job by a run's UUID, this run's among them.
// A closed stdout loses the history, which is said on stderr when it is open, and exits
// 1; a closed stdin or stderr changes nothing else.
TEST_F(Runner_Jobs, ClosedStandardDescriptorsLeaveTheRecordsWhole) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string backup_uid = "6f1c2a3e-0b4d-4e5f-8a9b-0c1d2e3f4a5b";
  const std::string restore_uid = "0d9e8f7a-6b5c-4d3e-9f2a-1b0c9d8e7f6a";
  const std::string backup = write(
      "b.json", backup_definition("{}", "b1", {"a"}, R"("uid": ")" + backup_uid + R"(", )"));
  ASSERT_EQ(0, run("backup --quiet " + backup).code);
  const std::map<std::string, Set> sets = backup_sets();
  const auto restore_to = [&](const std::string& name) {
    const Set& set = sets.at("i-a");
    return write(name + ".json", R"({"type": "restore", "id": "r1", "uid": ")" + restore_uid +
                                     R"(", "host_id": "c1", "target_pool": "p1", "source": {"id":
      "cloud-1", "name": "cloud", "entries": [)" +
                                     test::restore_entry(set.uuid, set.timepoint, "i-a", name) +
                                     "]}}");
  };
  const auto lost = [](const std::string& verb) {
    return "quillon3: cannot write the " + verb +
           "'s history to stdout: Bad file descriptor; what the job completed is kept\n";
  };
  const int closed = test::CLOSED_FD;
  const struct {
    std::string name;
    std::array<int, 3> given;
    int code;
    std::string history, backup_err, restore_err;
  } cases[] = {
      {"stdin", {closed, -1, -1}, 0, "i-a:completed", "", ""},
      {"stdout", {-1, closed, -1}, 1, "not a history: ", lost("backup"), lost("restore")},
      {"stderr", {-1, -1, closed}, 0, "i-a:completed", "", ""},
      {"stdout-and-stderr", {-1, closed, closed}, 1, "not a history: ", "", ""},
  };
  const auto record = [this](const std::string& id) {
    std::string bytes = test::read_file(home_ + "/jobd/act/job/" + id);
    bytes.resize(sizeof(Job_Activity));
    int32_t state = 0;
    std::memcpy(&state, bytes.data() + offsetof(Job_Activity, state), sizeof state);
    const auto* base = reinterpret_cast<const unsigned char*>(bytes.data());
    return std::pair<std::string, std::string>(
        job_state_to_string(state) + std::string(" ") +
            uuid_binary_to_string(base + offsetof(Job_Activity, uid)),
        uuid_binary_to_string(base + offsetof(Job_Activity, id)));
  };
  // The run id of the last backup when every set names a UUID as its job; "" otherwise.
  const auto catalog_job_ids = [&record] {
    RESTful_Catalog_Operator catalog("localhost", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> entries;
    EXPECT_TRUE(catalog.list("", entries));
    const std::string run = record("b1").second;
    bool named = false;
    for (const Catalog_Entry& e : entries) {
      const std::string job = e.set.at("job_id").get_str();
      unsigned char binary[16];
      if (!uuid_string_to_binary(job.c_str(), binary)) return "not a UUID: " + job;
      named = named || job == run;
    }
    return named ? run : std::string();
  };
  // The runner's own lines, without the progress lines (which a closed stderr would
  // have written into a record).
  const auto said = [](const std::string& err) {
    std::istringstream lines(err);
    std::string own;
    for (std::string line; std::getline(lines, line);)
      if (line.compare(0, 9, "quillon3:") == 0) own += line + "\n";
    return own;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::Runner_Process b({"backup", backup}, "", c.given);
    const test::Run_Result& backed = b.finish();
    EXPECT_EQ(c.code, backed.code) << backed.all();
    EXPECT_EQ(c.history, states(backed.out));
    EXPECT_EQ(c.backup_err, said(backed.err));
    EXPECT_EQ("completed " + backup_uid, record("b1").first);
    EXPECT_EQ(record("b1").second, catalog_job_ids());

    test::Runner_Process r({"restore", restore_to("vm-a-" + c.name)}, "", c.given);
    const test::Run_Result& restored = r.finish();
    EXPECT_EQ(c.code, restored.code) << restored.all();
    EXPECT_EQ(c.history, states(restored.out));
    bool told = false;
    EXPECT_EQ(c.restore_err, said(without_restored_line(restored.err, told)));
    EXPECT_EQ(c.given[2] != test::CLOSED_FD, told) << restored.err;
    EXPECT_EQ("completed " + restore_uid, record("r1").first);
    EXPECT_EQ("running", sim_->instance_status("vm-a-" + c.name));
  }
  // A history that cannot be written as JSON is lost the same way, said on stderr with
  // its cause: here the source's name in the restore entry, "\udcff", reads as a lone
  // surrogate, which is no valid UTF-8. The restore itself completes.
  std::string entry = test::read_file(restore_to("vm-a-utf8"));
  const std::string named = R"("src_instance_name": "vm-a")";
  ASSERT_NE(std::string::npos, entry.find(named));
  entry.replace(entry.find(named), named.size(), R"("src_instance_name": "vm-a\udcff")");
  const test::Run_Result r = run("restore " + write("vm-a-utf8.json", entry));
  EXPECT_EQ(1, r.code) << r.all();
  EXPECT_EQ("", r.out);
  bool told = false;
  EXPECT_EQ("quillon3: cannot write the restore's history to stdout: it holds text that is not "
            "valid UTF-8; what the job completed is kept\n",
            said(without_restored_line(r.err, told)));
  EXPECT_EQ("running", sim_->instance_status("vm-a-utf8"));
}

// A stop that comes once the restore's new instance exists (its start held by the
// cloud): the restore is past the point where it can stop. Its first line is the one a
// stop that cancels gets, which no outcome contradicts; let go on, the restore completes,
// the last line says so and names the instance it kept, exit 0. A second stop says it is
// still at it, and a third ends the runner while the cloud still holds the start, exit 1,
// naming what the cloud may keep. The instance stays either way.
TEST_F(Runner_Jobs, ALateStopOfARestoreSaysWhatItKept) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_EQ(0, run("backup --quiet " + write("b.json", backup_definition("{}", "b1", {"a"}))).code);
  RESTful_Catalog_Operator catalog("localhost", 0, false, "", -1, 0);
  std::vector<Catalog_Entry> sets;
  ASSERT_TRUE(catalog.list("", sets));
  ASSERT_EQ(1u, sets.size());
  const std::pair<int, std::string> past = {SIGINT, first_stop_line("interrupted", "restore")};
  const struct {
    std::string target;
    std::vector<std::pair<int, std::string>> stops;  // each signal and the line it brings
    int code;
    std::string history, last;
  } cases[] = {
      {"vm-a-finished", {past}, 0, "i-a:completed",
       "quillon3: the stop came after the restore had passed the point where it could stop; "
       "it completed and kept the new instance vm-a-finished (restored from i-a)\n"},
      {"vm-a-ended",
       {past,
        {SIGTERM,
         "\nquillon3: terminated: the restore is still at it; a third stop ends quillon3 now, "
         "without cleaning up\n"},
        {SIGHUP,
         "\nquillon3: hung up: ending now, without cleaning up; the cloud may keep the "
         "restore's new instances, their network interfaces and the volumes it made, to be "
         "removed by hand, and a volume it was writing can stay attached to the agent's own "
         "instance\n"}},
       1, "not a history: ", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.target);
    const std::string restore = write(
        "r.json", R"({"type": "restore", "subtype": "vm", "id": "r1", "host_id": "c1",
        "target_pool": "p1", "source": {"id": "cloud-1", "name": "cloud", "entries": [)" +
                      test::restore_entry(sets[0].uuid, sets[0].timepoint, "i-a", c.target) +
                      R"(]}, "options": {"parallel_disks_per_vm": 2}})");
    ASSERT_TRUE(sim_->post("/faults", R"({"action": "RunInstances", "kind": "stuck"})"));
    test::Runner_Process run({"restore", "--quiet", restore});
    auto release = make_deleter([this] { sim_->post("/settle", "{}"); });  // on any failure
    ASSERT_TRUE(eventually([this, &c] {
      return !sim_->instance_status(c.target).empty() && leftovers("links").empty();
    })) << "the restore never made its instance";
    std::string said;
    for (const auto& [signal, line] : c.stops) {
      said += line;
      run.signal(signal);
      ASSERT_TRUE(eventually([&run, &said] { return run.err_so_far() == said; }))
          << run.err_so_far();
    }
    // Only a runner that ended by itself has left the cloud to settle.
    if (c.code == 0) {
      ASSERT_TRUE(sim_->post("/settle", "{}"));
    }
    const test::Run_Result& r = run.finish();
    EXPECT_EQ(c.code, r.code) << r.all();
    EXPECT_EQ(c.history, states(r.out));
    bool told = false;
    EXPECT_EQ(said + c.last, without_restored_line(r.err, told));
    EXPECT_EQ(c.code == 0, told) << r.err;
    ASSERT_TRUE(sim_->post("/settle", "{}"));
    EXPECT_EQ("running", sim_->instance_status(c.target));
  }
}

// A stop never waits on stderr: with stderr a pipe that is full and never read (a
// stopped pager), a backup, a quiet backup and a restore, each held by the cloud, take
// three SIGINTs (the first line already waits on the pipe), and the third ends the
// runner within seconds, exit 1, its line dropped.
TEST_F(Runner_Jobs, AStopNeverWaitsOnAStderrNobodyReads) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_EQ(0, run("backup --quiet " + write("b.json", backup_definition("{}", "b1", {"a"}))).code);
  const std::map<std::string, Set> sets = backup_sets();
  const std::string restore = write(
      "r.json", R"({"type": "restore", "subtype": "vm", "id": "r1", "host_id": "c1",
      "target_pool": "p1", "source": {"id": "cloud-1", "name": "cloud", "entries": [)" +
                    test::restore_entry(sets.at("i-a").uuid, sets.at("i-a").timepoint, "i-a",
                                        "vm-a-held") +
                    "]}}");
  const struct {
    std::string line;
    std::string held;  // the cloud's action that never completes
  } rows[] = {
      {"backup " + tmp_.path() + "/b.json", "CreateTmpSnapshots"},
      {"backup --quiet " + tmp_.path() + "/b.json", "CreateTmpSnapshots"},
      {"restore " + restore, "RunInstances"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.line);
    ASSERT_TRUE(sim_->post("/faults", R"({"action": ")" + row.held + R"(", "kind": "stuck"})"));
    EXPECT_EQ(1, stopped_with_stderr_full(row.line, [this] { return faults_fired(); }));
    ASSERT_TRUE(sim_->post("/settle", "{}"));
  }
}

// A backup on a terminal in which one instance fails: while it runs, the bars show only
// this run's instances, never a record an earlier run of the definition left (of an
// instance it no longer names), and count the volumes done (none before the first is
// attached); at the end the runner names the failure and exits 1, so that scripts see it.
TEST_F(Runner_Jobs, OneFailedInstanceOnATerminalExitsOneAndShowsOnlyThisRun) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string records = home_ + "/jobd/act/tavrocloud/b1";
  std::filesystem::create_directories(records);
  const struct { int32_t state, padding; uint64_t total, done; uint32_t volumes, done_volumes; }
      completed = {VM_Job_Progress::STATE_COMPLETED, 0, 777, 777, 3, 3};  // as the module keeps it
  std::ofstream(records + "/i-gone").write(reinterpret_cast<const char*>(&completed),
                                           sizeof completed);
  const struct timeval hour_ago[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
  ASSERT_EQ(0, ::utimes((records + "/i-gone").c_str(), hour_ago));
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "nth": 2,
                                        "kind": "end_status", "status": "error"})"));
  const std::string definition = backup_definition(R"({"parallel_vms": 1})");
  // The first attachment is held until a bar counts two volumes.
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "AttachTmpSnapshot", "kind": "stuck"})"));
  bool released = false;
  const test::Run_Result r =
      run_on_terminal("backup " + write("backup.json", definition), [&](const std::string& shown) {
        if (!released && shown.find("/2 volumes") != std::string::npos)
          released = sim_->post("/settle", "{}");
      });
  EXPECT_EQ(1, r.code) << r.all();
  EXPECT_NE(std::string::npos, r.err.find("backup finished, but 1 instance(s) failed")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("i-a (vm-a) ")) << r.err;  // bars were drawn
  EXPECT_EQ(std::string::npos, r.err.find("i-gone")) << r.err;
  const size_t counted = r.err.find("/2 volumes");
  EXPECT_EQ(counted == std::string::npos ? "" : r.err.substr(counted - 1, 20),
            "0/2 volumes  running") << r.err;
  expect_nothing_left();
}

// The same definition started while it runs (the first run held in its pre-action): the
// second runner is refused at once and changes nothing, not the job's activity record,
// the cloud or the pool; the first then completes.
TEST_F(Runner_Jobs, SameDefinitionTwiceAtOnceRefusesTheSecond) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string held = tmp_.path() + "/held", go = tmp_.path() + "/go";
  const std::string wait_once = "[ -e " + held + " ] || { touch " + held + "; while [ ! -e " +
                                go + " ]; do sleep 0.05; done; }";
  const std::string definition = write(
      "backup.json",
      backup_definition("{}", "b1", {"a"}, R"("scripts": {"pre_action": ")" + wait_once + "\"}, "));
  test::Runner_Process first({"backup", "--quiet", definition});
  ASSERT_TRUE(eventually([&held] { return std::filesystem::exists(held); }));

  const std::string activity_path = home_ + "/jobd/act/job/b1";
  const std::string activity = test::read_file(activity_path);
  const std::string calls = sim_->get("/calls");
  const auto pool_files = [this] {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tmp_.path() + "/pool"))
      files.push_back(e.path());
    return files;
  };
  const std::vector<std::string> pool = pool_files();
  const test::Run_Result second = run("backup --quiet " + definition);
  EXPECT_EQ(second.summary(),
            "1 quillon3: the backup job did not start: Job b1 is already running on this host; "
            "start refused\n");
  EXPECT_EQ(test::read_file(activity_path), activity);
  EXPECT_EQ(sim_->get("/calls"), calls);
  EXPECT_EQ(pool_files(), pool);

  write("go", "");
  const test::Run_Result& done = first.finish();
  EXPECT_EQ(0, done.code) << done.all();
  EXPECT_EQ(states(done.out), "i-a:completed");
  expect_nothing_left();
}

// Jobs side by side on one host, each in its own process, attach volumes to the one
// agent: two restores (of i-a and i-b, as new instances) and two backups of instances on
// storage without temporary snapshots (i-c and i-d: their volumes are made from the cloud's
// instance backups and attached to the agent). Each attachment chooses its device name
// alone, so all four complete: each new instance holds its source's bytes, each backup
// its instance's.
TEST_F(Runner_Jobs, JobsAtOnceOnOneAgentAllComplete) {
  const auto on_nfs = [](const std::string& x, const std::string& ip) {
    std::string seed = JSON_Dump(test::seed_instance(x, ip));
    for (size_t at; (at = seed.find("st-ceph-01")) != std::string::npos;)
      seed.replace(at, 10, "st-nfs-01");
    return JSON_Load(seed);
  };
  ASSERT_NO_FATAL_FAILURE(
      start_cloud(1, {on_nfs("c", "10.10.1.33"), on_nfs("d", "10.10.1.34")}));
  const test::Run_Result first = run("backup --quiet " + write("b1.json", backup_definition("{}")));
  ASSERT_EQ(0, first.code) << first.all();
  const std::map<std::string, Set> sets = backup_sets();
  ASSERT_EQ(2u, sets.size());

  std::vector<std::unique_ptr<test::Runner_Process>> jobs;
  for (const char* x : {"a", "b"}) {
    const Set& set = sets.at(std::string("i-") + x);
    const std::string entry = test::restore_entry(set.uuid, set.timepoint, std::string("i-") + x,
                                                  std::string("vm-") + x + "-copy");
    const std::string definition = write(std::string("r-") + x + ".json", R"({"type": "restore",
      "subtype": "vm", "id": "r-)" + std::string(x) + R"(", "host_id": "c1", "target_pool": "p1",
      "source": {"id": "cloud-1", "name": "cloud", "entries": [)" + entry + R"(]},
      "options": {"parallel_disks_per_vm": 2}})");
    jobs.push_back(std::make_unique<test::Runner_Process>(
        std::vector<std::string>{"restore", "--quiet", definition}));
  }
  for (const char* x : {"c", "d"}) {
    const std::string id = std::string("b-") + x;
    const std::string definition = write(id + ".json", backup_definition("{}", id, {x}));
    jobs.push_back(std::make_unique<test::Runner_Process>(
        std::vector<std::string>{"backup", "--quiet", definition}));
  }
  for (const auto& job : jobs) {
    const test::Run_Result& done = job->finish();
    EXPECT_EQ(0, done.code) << done.all();
  }

  for (const char* x : {"a", "b"})
    EXPECT_EQ(sim_->instance_digests(std::string("vm-") + x + "-copy"),
              (std::vector<std::string>{sim_->digest(std::string("vol-") + x + "-root"),
                                        sim_->digest(std::string("vol-") + x + "-data")}))
        << x;
  std::map<std::string, std::string> images, sources;  // volume -> digest
  const std::string pool = tmp_.path() + "/pool";
  for (const std::string x : {"c", "d"}) {
    for (const std::string& vol : {"vol-" + x + "-root", "vol-" + x + "-data"}) {
      sources[vol] = sim_->digest(vol);
      for (const auto& e : std::filesystem::recursive_directory_iterator(pool)) {
        const std::string rel = std::filesystem::relative(e.path(), pool);
        const size_t job = rel.find("/b-" + x + "/");  // images are read below their job
        if (job != std::string::npos && rel.find(vol) != std::string::npos)
          images[vol] = test::pool_image_digest(pool + "/" + rel.substr(0, job + 4),
                                                rel.substr(job + 5));
      }
    }
  }
  EXPECT_EQ(images, sources);
  // Beyond the seed the cloud holds the two new instances only: each with its two volumes
  // and two interfaces. Nothing stays attached to the agent.
  const std::map<std::string, size_t> kept = {
      {"instances", 2}, {"volumes", 4}, {"attachments", 4}, {"network_interfaces", 4}};
  for (const auto& [kind, items] : test::object_of(sim_->get("/leftovers"))) {
    if (items.type() != json_spirit::array_type) continue;
    EXPECT_EQ(kept.count(kind) ? kept.at(kind) : 0u, items.get_array().size()) << kind;
  }
  for (const json_spirit::Value& a : leftovers("attachments"))
    EXPECT_FALSE(a.get_obj().at("to_agent").get_bool());
}

// A restore of the set `uuid`, `timepoint` of i-<x> as the new instance `target`.
std::string restore_definition(const std::string& uuid, const std::string& timepoint,
                               const std::string& x, const std::string& target) {
  return R"({"type": "restore", "subtype": "vm", "id": "r-)" + x + R"(", "host_id": "c1",
    "target_pool": "p1", "source": {"id": "cloud-1", "name": "cloud", "entries": [)" +
         test::restore_entry(uuid, timepoint, "i-" + x, target) +
         R"(]}, "options": {"parallel_disks_per_vm": 2}})";
}

// The cloud attaches a temporary snapshot under the agent's next free device name, so a
// backup through temporary snapshots attaches as the other jobs do, one attachment after
// the other: a restore chose its device and the cloud holds its attachment 10 s; the
// backup, started once it is held, must not take that name (its first temporary
// snapshot's detach is held 12 s, so that a snapshot that took the name still holds it
// when the restore's attachment acts). Both complete, the new instance holding its
// source's bytes, and nothing stays attached to the agent.
TEST_F(Runner_Jobs, TemporarySnapshotsAttachOneAfterTheOtherJobs) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_EQ(0, run("backup --quiet " + write("b.json", backup_definition("{}", "b1", {"a"}))).code);
  const Set set = backup_sets().at("i-a");
  ASSERT_TRUE(sim_->post("/faults", R"([{"action": "AttachVolume", "kind": "delay", "seconds": 10},
      {"action": "DetachTmpSnapshot", "kind": "delay", "seconds": 12}])"));
  test::Runner_Process restore(
      {"restore", "--quiet",
       write("r.json", restore_definition(set.uuid, set.timepoint, "a", "vm-a-copy"))});
  ASSERT_TRUE(eventually([this] { return fault_fired("AttachVolume"); })) << restore.err_so_far();
  test::Runner_Process backup(
      {"backup", "--quiet", write("b2.json", backup_definition("{}", "b2", {"b"}))});
  for (test::Runner_Process* job : {&restore, &backup}) {
    const test::Run_Result& done = job->finish();
    EXPECT_EQ(0, done.code) << done.all();
  }
  EXPECT_EQ(sim_->instance_digests("vm-a-copy"),
            (std::vector<std::string>{sim_->digest("vol-a-root"), sim_->digest("vol-a-data")}));
  EXPECT_EQ(0u, leftovers("tmp_snapshots").size());
  for (const json_spirit::Value& a : leftovers("attachments"))
    EXPECT_FALSE(a.get_obj().at("to_agent").get_bool());
}

// A stop while a job waits for another job's attachment to the agent (the agent's
// attachment lock file held here, as another job of this host holds it) ends that wait:
// a backup waiting to attach its temporary snapshots and a restore waiting to attach its
// new volumes are cancelled, exit 1, and leave nothing in the cloud.
TEST_F(Runner_Jobs, AStopEndsTheWaitForAnotherJobsAttachment) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_EQ(0, run("backup --quiet " + write("b.json", backup_definition("{}", "b1", {"a"}))).code);
  const Set set = backup_sets().at("i-a");
  const struct {
    std::string verb, definition;
    std::string made;  // the kind of leftover the job makes before it attaches
  } rows[] = {
      {"backup", write("b2.json", backup_definition("{}", "b2", {"b"})), "tmp_snapshots"},
      {"restore", write("r.json", restore_definition(set.uuid, set.timepoint, "a", "vm-a-copy")),
       "volumes"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.verb);
    yolt::Lock_File other_job(tavrocloud::RESTful_Client::attachment_lock_kind());
    ASSERT_EQ(yolt::Lock_File::TAKEN, other_job.try_lock("i-agent001"));
    test::Runner_Process job({"-v", row.verb, row.definition});  // -v: the job's log too
    auto let_go = make_deleter([&other_job] { other_job.release(); });  // on any failure
    ASSERT_TRUE(eventually([this, &row] { return !leftovers(row.made).empty(); }))
        << job.err_so_far();
    job.signal(SIGINT);
    const std::string last = "quillon3: " + row.verb + " cancelled on request\n";
    EXPECT_TRUE(eventually([&job, &last] {
      return job.err_so_far().find(last) != std::string::npos;
    })) << job.err_so_far();
    other_job.release();
    const test::Run_Result& r = job.finish();
    EXPECT_EQ(1, r.code) << r.all();
    EXPECT_THAT(r.err, ::testing::HasSubstr("Stopped while another job of this host was "
                                            "attaching a volume to instance i-agent001"));
    ASSERT_TRUE(sim_->post("/settle", "{}"));
    expect_nothing_left();
  }
}

// Two definitions sharing i-a, the first holding it (its temporary snapshot made and not
// yet ready): the second fails i-a with a message and backs up i-b, and leaves the first's
// snapshot alone; the first completes with i-a's bytes and nothing stays in the cloud.
TEST_F(Runner_Jobs, SecondJobOfAnInstanceLeavesItToTheFirst) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "kind": "stuck"})"));
  test::Runner_Process first(
      {"backup", "--quiet", write("b1.json", backup_definition("{}", "b1", {"a"}))});
  ASSERT_TRUE(eventually([this] { return !leftovers("tmp_snapshots").empty(); }));

  const test::Run_Result second =
      run("backup --quiet " + write("b2.json", backup_definition("{}", "b2", {"a", "b"})));
  EXPECT_EQ(1, second.code);
  EXPECT_EQ(states(second.out), "i-a:failed i-b:completed");
  EXPECT_THAT(second.err, ::testing::HasSubstr(
                              "quillon3: error: Skipped tavrocloud instance i-a in this backup: "
                              "another job on this host is backing it up or restoring it\n"));

  ASSERT_TRUE(sim_->post("/settle", "{}"));
  const test::Run_Result& done = first.finish();
  EXPECT_EQ(0, done.code) << done.all();
  EXPECT_EQ(states(done.out), "i-a:completed");
  std::map<std::string, std::string> images;  // volume -> digest of the first job's image
  const std::string pool = tmp_.path() + "/pool";
  for (const auto& e : std::filesystem::recursive_directory_iterator(pool)) {
    const std::string rel = std::filesystem::relative(e.path(), pool);
    const size_t job = rel.find("/b1/");  // images are read under their path in b1/
    for (const char* vol : {"vol-a-root", "vol-a-data"})
      if (job != std::string::npos && rel.find(vol) != std::string::npos)
        images[vol] = test::pool_image_digest(pool + "/" + rel.substr(0, job + 3),
                                              rel.substr(job + 4));
  }
  const std::map<std::string, std::string> sources = {
      {"vol-a-data", sim_->digest("vol-a-data")}, {"vol-a-root", sim_->digest("vol-a-root")}};
  EXPECT_EQ(images, sources);
  expect_nothing_left();
}

// A disk restore onto the agent's own instance, the machine the job runs on, is refused
// before anything is made: the agent keeps running with only its own volumes; the job's
// other entry is restored, and the runner names the refusal and exits 1.
TEST_F(Runner_Jobs, RestoreOntoTheAgentsOwnInstanceIsRefused) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const test::Run_Result backup = run("backup --quiet " + write("b1.json", backup_definition("{}")));
  ASSERT_EQ(0, backup.code) << backup.all();
  const std::map<std::string, Set> sets = backup_sets();
  ASSERT_EQ(2u, sets.size());
  std::string entries;
  for (const auto& [src, onto] : {std::pair<std::string, std::string>{"i-a", "i-agent001"},
                                  {"i-b", "i-b"}}) {
    const Set& set = sets.at(src);
    entries += (entries.empty() ? "" : ",") +
               test::restore_entry(set.uuid, set.timepoint, src, "", onto);
  }
  const std::string restore = write("r1.json", R"({"type": "restore", "subtype": "disk",
      "id": "r1", "host_id": "c1", "target_pool": "p1",
      "source": {"id": "cloud-1", "name": "cloud", "entries": [)" + entries + R"(]},
      "options": {"start_vm": false}})");
  const std::vector<std::string> agent_volumes = sim_->instance_digests("i-agent001");

  const test::Run_Result r = run("restore --quiet " + restore);
  EXPECT_EQ(1, r.code) << r.all();
  EXPECT_EQ(states(r.out), "i-a:failed i-b:completed");
  EXPECT_THAT(r.err, ::testing::HasSubstr("quillon3: error: Refused to restore onto tavrocloud "
                                          "instance i-agent001: it is the backup agent's own "
                                          "instance\n"));
  EXPECT_THAT(r.err, ::testing::ContainsRegex("quillon3: restored i-b onto instance i-b: volume "
                                              "vol-[0-9a-f]+ as /dev/vd[c-z], volume "
                                              "vol-[0-9a-f]+ as /dev/vd[c-z]\n"));
  EXPECT_EQ("running", sim_->instance_status("i-agent001"));
  EXPECT_EQ(sim_->instance_digests("i-agent001"), agent_volumes);
  // Beyond the seed the cloud holds i-b's two restored volumes, attached to i-b, only.
  for (const auto& [kind, items] : test::object_of(sim_->get("/leftovers"))) {
    if (items.type() != json_spirit::array_type) continue;
    const bool restored = kind == "volumes" || kind == "attachments";
    EXPECT_EQ(restored ? 2u : 0u, items.get_array().size()) << kind;
  }
  for (const json_spirit::Value& a : leftovers("attachments"))
    EXPECT_EQ("i-b", a.get_obj().at("instance_id").get_str());
}


// True once `pid` has taken every signal sent to it: none waits in its shared pending set.
bool signals_taken(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("ShdPnd:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16) == 0;
  return false;
}

// The third stop waits (seconds) for stderr to take its line before the process ends:
// with stderr a full pipe read only after the third stop was taken (a pager that goes
// on), a backup held by the cloud takes three stops, each taken before the next is sent,
// and all three lines come after what filled the pipe, the last one saying what may be
// left; the runner exits 1.
TEST_F(Runner_Jobs, TheThirdStopWaitsForItsOwnLastLine) {
  ASSERT_NO_FATAL_FAILURE(start_cloud(1));
  const std::string definition = write("b.json", backup_definition("{}", "b1", {"a"}));
  const std::pair<int, std::string> stops[] = {
      {SIGINT, first_stop_line("interrupted", "backup")},
      {SIGTERM, "\nquillon3: terminated: the backup is still at it; a third stop ends quillon3 "
                "now, without cleaning up\n"},
      {SIGHUP, "\nquillon3: hung up: ending now, without cleaning up; the cloud may keep the "
               "backup's temporary snapshots (the next backup of each instance clears them) "
               "and, on a cloud before 9.8, its instance backups with their snapshots and the "
               "volumes made from them, and a volume it was reading can stay attached to the "
               "agent's own instance; the pool may keep complete images that no catalog record "
               "names, and empty folders; an instance that restart_vm powered off stays off\n"}};
  ASSERT_TRUE(sim_->post("/faults", R"({"action": "CreateTmpSnapshots", "kind": "stuck"})"));
  int held[2];
  ASSERT_EQ(0, ::pipe2(held, O_CLOEXEC | O_NONBLOCK)) << std::strerror(errno);
  size_t filled = 0;
  for (const std::string fill(4096, 'x'); ::write(held[1], fill.data(), fill.size()) > 0;)
    filled += fill.size();
  for (int fd : held) ::fcntl(fd, F_SETFL, 0);  // the runner's writes wait, as on any full pipe
  const std::array<int, 3> fds = {::open("/dev/null", O_RDONLY | O_CLOEXEC),
                                  ::memfd_create("stdout", MFD_CLOEXEC), held[1]};
  std::string error;
  const pid_t pid = test::spawn({test::runner_path(), "backup", "--quiet", definition}, fds, error);
  for (int fd : fds) ::close(fd);
  auto reader = make_deleter([&held] { ::close(held[0]); });
  ASSERT_LT(0, pid) << error;
  auto release = make_deleter([this] { sim_->post("/settle", "{}"); });
  EXPECT_TRUE(eventually([this] { return faults_fired(); })) << "the backup never got there";
  std::string said;
  for (const auto& [signal, line] : stops) {
    ::kill(pid, signal);
    EXPECT_TRUE(eventually([pid] { return signals_taken(pid); }));
    said += line;
  }
  // The reader comes back well within the third stop's wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::string err;
  char buf[4096];
  for (pollfd p = {held[0], POLLIN, 0}; ::poll(&p, 1, 60000) > 0;) {
    const ssize_t n = ::read(held[0], buf, sizeof buf);
    if (n <= 0) break;
    err.append(buf, static_cast<size_t>(n));
  }
  EXPECT_EQ(1, test::reap(pid));
  EXPECT_EQ(std::string::npos, err.substr(0, filled).find_first_not_of('x'));
  EXPECT_EQ(said, err.size() < filled ? "(shorter than what filled the pipe)" : err.substr(filled));
}

}  // namespace
