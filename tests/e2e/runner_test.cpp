// Black-box tests of the quillon3 program: each test runs the built binary with its own
// host home (QUILLON3_ROOT in a temporary directory) and checks exit codes, output and
// the files left in the home; account check logs in to the cloud simulator.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "catalog/restful_catalog_operator.h"
#include "e2e/runner_process.h"
#include "e2e/sim_process.h"
#include "host/catalog/sample_sets.h"
#include "support/temp_home.h"

namespace {

using test::Run_Result;
using test::Temp_Dir;
using test::run_quillon3;
using test::runner_path;

const char ACCESS_KEY[] = "AKIDE2ERUNNER0000001";
const char SECRET_KEY[] = "e2e/Runner+Secret/Key0001";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string source_dir() {
  const char* dir = std::getenv("QUILLON3_SOURCE_DIR");
  return dir != nullptr && *dir != '\0' ? dir : ".";
}

bool python3_available() {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/python3").c_str(), X_OK) == 0) return true;
  return false;
}

// A loopback port that nothing listens on (bound once, then released).
uint16_t unused_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  ::close(fd);
  return port;
}

class Quillon3_Runner : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tmp_.path().empty()) << "cannot make a temporary directory";
    ASSERT_EQ(0, ::access(runner_path().c_str(), X_OK)) << "no runner at " << runner_path();
    home_ = tmp_.path() + "/home";
  }

  Run_Result run(const std::vector<std::string>& args, const std::string& input = "") {
    return run_quillon3(home_, args, input);
  }

  void init() {
    const Run_Result r = run({"init", "--bits", "2048", "--name", "e2e-host"});
    ASSERT_EQ(0, r.code) << r.all();
  }

  void add_account(const std::string& uuid, uint16_t port, const std::string& secret) {
    const Run_Result r =
        run({"account", "add", "--uuid", uuid, "--host", "127.0.0.1", "--port",
             std::to_string(port), "--access-key", ACCESS_KEY, "--secret-key", "-"},
            secret + "\n");
    ASSERT_EQ(0, r.code) << r.all();
  }

  static bool simulator_available() {
    return python3_available() && exists(source_dir() + "/sim/tavrosim.py");
  }

  // The simulator with the seed's cloud, taking this test's keys; attachments are links
  // under the test's own directory.
  std::unique_ptr<test::Sim_Process> start_sim() {
    const std::string dev_root = tmp_.path() + "/dev";
    EXPECT_EQ(0, ::mkdir(dev_root.c_str(), 0755));
    test::Sim_Options options;
    options.accounts = std::string(ACCESS_KEY) + ":" + SECRET_KEY;
    options.dev_root = dev_root;
    options.loop = "link";
    return std::make_unique<test::Sim_Process>(options);
  }

  Temp_Dir tmp_{"quillon3-runner-"};
  std::string home_;
};

TEST_F(Quillon3_Runner, BadUsageExitsWith2AndSaysWhy) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{}, "missing command"},
      {{"backup-everything"}, "unknown command 'backup-everything'"},
      {{"--frobnicate"}, "unknown option --frobnicate"},
      {{"account"}, "missing subcommand"},
      {{"account", "rename"}, "unknown account subcommand 'rename'"},
      {{"account", "list", "--bogus"}, "unknown option --bogus"},
      {{"account", "list", "extra"}, "unexpected argument 'extra'"},
      {{"account", "remove"}, "missing --uuid"},
      {{"account", "remove", "--uuid"}, "--uuid needs a value"},
      {{"account", "remove", "--uuid", "a", "--uuid", "b"}, "--uuid given twice"},
      {{"account", "add", "--uuid", "c", "--host", "h", "--port", "1", "--access-key", "a"},
       "missing --secret-key"},
      {{"account", "add", "--uuid", "c", "--host", "h", "--port", "0", "--access-key", "a",
        "--secret-key", "s"},
       "--port must be a number in 1..65535"},
      {{"account", "add", "--uuid", "c", "--host", "h", "--port", "65536", "--access-key", "a",
        "--secret-key", "s"},
       "--port must be a number in 1..65535"},
      {{"account", "add", "--uuid", "c", "--host", "h", "--port", "8x", "--access-key", "a",
        "--secret-key", "s"},
       "--port must be a number in 1..65535"},
      {{"account", "add", "--uuid", "../etc", "--host", "h", "--port", "1", "--access-key", "a",
        "--secret-key", "s"},
       "invalid --uuid"},
      {{"account", "add", "--uuid", "c", "--host", "h/x", "--port", "1", "--access-key", "a",
        "--secret-key", "s"},
       "invalid --host"},
      {{"account", "add", "--uuid", "c", "--host", "h", "--port", "1", "--ssl=yes", "--access-key",
        "a", "--secret-key", "s"},
       "--ssl takes no value"},
      {{"account", "add", "--uuid", "c", "--host", "h", "--port", "1", "--access-key", "a",
        "--secret-key="},
       "empty --secret-key"},
      {{"init", "--bits", "512"}, "--bits must be a number in 2048..16384"},
      {{"init", "--name"}, "--name needs a value"},
      {{"pool", "add", "--uuid", "p", "--name", "n"}, "missing --dir"},
      {{"catalog"}, "missing subcommand"},
      {{"rpc"}, "missing METHOD PARAMS_JSON"},
      {{"rpc", "tavrocloud.query"}, "missing METHOD PARAMS_JSON"},
      {{"rpc", "tavrocloud.query", "{\"uuid\":"}, "PARAMS_JSON is not JSON"},
      {{"rpc", "a", "{}", "more"}, "unexpected argument 'more'"},
      {{"console", "list"}, "missing PARAMS.json"},
      {{"console", "list", "uuid=c", "view"}, "'view' is not key=TEXT or key:=JSON"},
      {{"console", "list", "uuid=c", "port:=8x"}, "the value of port is not JSON"},
      {{"console", "login"}, "missing PARAMS or --account"},
      {{"--module"}, "--module needs a value"},
      {{"probe", "extra"}, "unexpected argument 'extra'"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE("quillon3 " + line);
    const Run_Result r = run(c.args);
    EXPECT_EQ(2, r.code);
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ("", r.out);
  }
  EXPECT_FALSE(exists(home_)) << "a usage error must not touch the host home";
}

TEST_F(Quillon3_Runner, HelpOfEveryCommandExitsWith0) {
  const std::vector<std::vector<std::string>> commands = {{},
                                                          {"init"},
                                                          {"account"},
                                                          {"account", "add"},
                                                          {"account", "list"},
                                                          {"account", "remove"},
                                                          {"account", "check"},
                                                          {"pool"},
                                                          {"pool", "add"},
                                                          {"pool", "list"},
                                                          {"catalog"},
                                                          {"catalog", "list"},
                                                          {"rpc"},
                                                          {"console"},
                                                          {"console", "login"},
                                                          {"console", "list"},
                                                          {"probe"},
                                                          {"backup"},
                                                          {"restore"}};
  for (std::vector<std::string> args : commands) {
    std::string path = "Usage: quillon3";
    for (const std::string& a : args) path += " " + a;
    SCOPED_TRACE(path);
    args.push_back("--help");
    const Run_Result r = run(args);
    EXPECT_EQ(0, r.code);
    EXPECT_EQ(0u, r.out.find(path)) << r.out;
    EXPECT_EQ("", r.err);
  }
  // Help wins over whatever else is wrong on the line.
  EXPECT_EQ(0, run({"account", "add", "--port", "0", "-h"}).code);
  EXPECT_FALSE(exists(home_));
}

TEST_F(Quillon3_Runner, InitMakesIdentityAndKeysAndKeepsThem) {
  init();
  const std::string private_pem = home_ + "/keys/rsa_private.pem";
  struct stat st;
  ASSERT_EQ(0, ::stat(private_pem.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  EXPECT_NE(std::string::npos, read_file(home_ + "/identity.json").find("\"e2e-host\""));
  const std::string key = read_file(private_pem);
  EXPECT_NE(std::string::npos, key.find("PRIVATE KEY"));
  EXPECT_NE(std::string::npos, read_file(home_ + "/keys/rsa_public.pem").find("PUBLIC KEY"));

  const Run_Result again = run({"init", "--name", "other", "--bits", "2048"});
  EXPECT_EQ(0, again.code) << again.all();
  EXPECT_NE(std::string::npos, again.out.find("already initialised (name 'e2e-host')"));
  EXPECT_NE(std::string::npos, again.err.find("--name ignored"));
  EXPECT_EQ(key, read_file(private_pem)) << "a second init must keep the key pair";
  EXPECT_EQ(std::string::npos, again.all().find("PRIVATE KEY"));
}

// Runners started at once on one home: eight inits leave one whole identity, sixteen
// account adds of different uuids are all kept; the home and its files are the owner's.
TEST_F(Quillon3_Runner, ConcurrentRunnersLoseNothing) {
  auto at_once = [&](size_t n, const std::function<Run_Result(size_t)>& one) {
    std::vector<Run_Result> results(n);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; ++i) threads.emplace_back([&, i] { results[i] = one(i); });
    for (std::thread& t : threads) t.join();
    for (const Run_Result& r : results) EXPECT_EQ(0, r.code) << r.all();
  };
  at_once(8, [&](size_t) { return run({"init", "--bits", "2048"}); });
  EXPECT_NE(std::string::npos, read_file(home_ + "/keys/rsa_public.pem").find("PUBLIC KEY"));
  at_once(16, [&](size_t i) {
    return run({"account", "add", "--uuid", "u" + std::to_string(i), "--host", "h", "--port",
                "8773", "--access-key", ACCESS_KEY, "--secret-key", "-"},
               "secret\n");
  });
  const Run_Result list = run({"account", "list"});
  for (int i = 0; i < 16; ++i)
    EXPECT_NE(std::string::npos, list.out.find("u" + std::to_string(i) + " ")) << list.all();
  for (const std::string& f : {std::string(), std::string("/identity.json"),
                               std::string("/accounts.json"), std::string("/keys/rsa_private.pem")}) {
    struct stat st;
    ASSERT_EQ(0, ::stat((home_ + f).c_str(), &st)) << f;
    EXPECT_EQ(f.empty() ? 0700u : 0600u, st.st_mode & 0777) << f;
  }
}

// A damaged record does not hide the others: they are listed, it is named, the command
// fails.
TEST_F(Quillon3_Runner, CatalogListNamesADamagedSetAndListsTheRest) {
  init();
  {
    test::Scoped_Env root("QUILLON3_ROOT", home_.c_str());
    RESTful_Catalog_Operator catalog("localhost", 0, false, "", -1, 0);
    ASSERT_TRUE(catalog.commit(test::sample_set("set-good", "res-1", "i-1", 1714564800), true));
    ASSERT_TRUE(catalog.commit(test::sample_set("set-bad", "res-1", "i-2", 1714564801), true));
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open((home_ + "/catalog.db").c_str(), &db));
    EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, "UPDATE backup_sets SET body = '{' WHERE uuid = 'set-bad'",
                                      nullptr, nullptr, nullptr));
    sqlite3_close(db);
  }
  for (bool json : {false, true}) {
    const Run_Result list = json ? run({"catalog", "list", "--json"}) : run({"catalog", "list"});
    EXPECT_EQ(1, list.code) << list.all();
    EXPECT_NE(std::string::npos, list.out.find("set-good")) << list.all();
    EXPECT_EQ(std::string::npos, list.out.find("set-bad")) << list.all();
    EXPECT_NE(std::string::npos, list.err.find("set-bad is damaged")) << list.all();
  }
}

TEST_F(Quillon3_Runner, AccountsAreAddedListedAndRemovedWithoutShowingKeys) {
  const Run_Result before_init = run({"account", "add", "--uuid", "c1", "--host", "h", "--port",
                                      "1", "--access-key", ACCESS_KEY, "--secret-key", SECRET_KEY});
  EXPECT_EQ(1, before_init.code);
  EXPECT_NE(std::string::npos, before_init.err.find("run 'quillon3 init' first"));

  init();
  std::vector<Run_Result> outputs;
  outputs.push_back(
      run({"account", "add", "--uuid", "c1", "--host", "10.0.0.5", "--port", "8773", "--locale",
           "region-1", "--access-key", ACCESS_KEY, "--secret-key", SECRET_KEY}));
  outputs.push_back(run({"account", "add", "--uuid", "c2", "--host", "cloud.example", "--port=443",
                         "--ssl", "--access-key", ACCESS_KEY, "--secret-key", "-"},
                        std::string(SECRET_KEY) + "\n"));
  for (const Run_Result& r : outputs) EXPECT_EQ(0, r.code) << r.all();
  EXPECT_NE(std::string::npos, outputs[0].out.find("account c1 added"));

  const Run_Result list = run({"account", "list"});
  outputs.push_back(list);
  EXPECT_EQ(0, list.code);
  EXPECT_NE(std::string::npos, list.out.find("c1    http://10.0.0.5:8773"));
  EXPECT_NE(std::string::npos, list.out.find("region-1"));
  EXPECT_NE(std::string::npos, list.out.find("c2    https://cloud.example:443"));

  const Run_Result query = run({"rpc", "tavrocloud.query", "{\"uuid\": \"c1\"}"});
  outputs.push_back(query);
  EXPECT_EQ(0, query.code) << query.all();
  EXPECT_NE(std::string::npos, query.out.find("\"host\": \"10.0.0.5\""));
  EXPECT_NE(std::string::npos, query.out.find("\"security_key\": \"<hidden>\""));

  // The store holds the secret only encrypted, readable by its owner alone.
  const std::string store = read_file(home_ + "/accounts.json");
  EXPECT_EQ(std::string::npos, store.find(SECRET_KEY));
  EXPECT_NE(std::string::npos, store.find("\"security_key\""));
  struct stat st;
  ASSERT_EQ(0, ::stat((home_ + "/accounts.json").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);

  outputs.push_back(run({"account", "remove", "--uuid", "c1"}));
  EXPECT_EQ(0, outputs.back().code) << outputs.back().all();
  const Run_Result gone = run({"account", "remove", "--uuid", "c1"});
  EXPECT_EQ(1, gone.code);
  EXPECT_NE(std::string::npos, gone.err.find("no such account"));
  const Run_Result after = run({"account", "list"});
  EXPECT_EQ(std::string::npos, after.out.find("c1 "));
  EXPECT_NE(std::string::npos, after.out.find("c2 "));
  outputs.push_back(after);

  for (const Run_Result& r : outputs) {
    EXPECT_EQ(std::string::npos, r.all().find(SECRET_KEY)) << r.all();
    EXPECT_EQ(std::string::npos, r.all().find(ACCESS_KEY)) << r.all();
  }
}

TEST_F(Quillon3_Runner, AccountCheckLogsInToTheSimulatorAsTheJobsDo) {
  if (!simulator_available()) GTEST_SKIP() << "python3 or the cloud simulator is missing";
  std::unique_ptr<test::Sim_Process> started = start_sim();
  test::Sim_Process& sim = *started;
  ASSERT_TRUE(sim.running()) << sim.error();
  const std::string health = sim.get("/health");
  const size_t at = health.find("\"version\"");
  ASSERT_NE(std::string::npos, at) << health;
  const size_t open = health.find('"', health.find(':', at) + 1);
  const std::string version = health.substr(open + 1, health.find('"', open + 1) - open - 1);

  init();
  add_account("good", sim.port(), SECRET_KEY);
  add_account("wrong-secret", sim.port(), "not the secret");
  add_account("nobody-home", unused_port(), SECRET_KEY);

  struct Case {
    const char* uuid;
    int code;
    std::string out;
    const char* err;
  };
  const std::string endpoint = "http://127.0.0.1:" + std::to_string(sim.port());
  const std::vector<Case> cases = {
      {"good", 0, "account good: logged in to " + endpoint + ", cloud version " + version, ""},
      {"wrong-secret", 1, "", "refused the keys"},
      {"nobody-home", 1, "", "could not be reached"},
      {"unknown", 1, "", "no such account: unknown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.uuid);
    for (const char* verbose : {"", "-v"}) {
      std::vector<std::string> args = {"account", "check", "--uuid", c.uuid};
      if (*verbose != '\0') args.push_back(verbose);
      const Run_Result r = run(args);
      EXPECT_EQ(c.code, r.code) << r.all();
      EXPECT_NE(std::string::npos, r.out.find(c.out)) << r.out;
      EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
      EXPECT_EQ(std::string::npos, r.all().find(SECRET_KEY));
      EXPECT_EQ(std::string::npos, r.all().find(ACCESS_KEY));
    }
  }

  // A new key pair cannot decrypt what the old one protected: the check says so.
  const std::string keys = home_ + "/keys";
  ASSERT_EQ(0, ::remove((keys + "/rsa_private.pem").c_str()));
  const Run_Result reinit = run({"init", "--bits", "2048"});
  EXPECT_EQ(0, reinit.code);
  EXPECT_NE(std::string::npos, reinit.err.find("add them again")) << reinit.err;
  const Run_Result stale = run({"account", "check", "--uuid", "good"});
  EXPECT_EQ(1, stale.code);
  EXPECT_NE(std::string::npos, stale.err.find("does not decrypt")) << stale.err;
}

TEST_F(Quillon3_Runner, CatalogListOfANewHomeIsEmpty) {
  const Run_Result no_home = run({"catalog", "list"});
  EXPECT_EQ(1, no_home.code);
  EXPECT_NE(std::string::npos, no_home.err.find("does not exist"));
  EXPECT_FALSE(exists(home_)) << "listing must not make a home";

  init();
  const Run_Result list = run({"catalog", "list"});
  EXPECT_EQ(0, list.code) << list.all();
  EXPECT_EQ("no backup sets\n", list.out);
  const Run_Result json = run({"catalog", "list", "--json", "--module", "tavro"});
  EXPECT_EQ(0, json.code) << json.all();
  EXPECT_EQ("[]\n", json.out);
}

TEST_F(Quillon3_Runner, PoolsAreRegisteredListedAndRemoved) {
  const std::string dir = tmp_.path() + "/pools/../pool-a";
  const Run_Result add = run({"pool", "add", "--uuid", "p-1", "--name", "main", "--dir", dir});
  ASSERT_EQ(0, add.code) << add.all();
  const std::string root = tmp_.path() + "/pool-a";
  EXPECT_TRUE(exists(root));
  const Run_Result clash = run({"pool", "add", "--uuid", "p-2", "--name", "main", "--dir", dir});
  EXPECT_EQ(1, clash.code);
  EXPECT_NE(std::string::npos, clash.err.find("is used by pool p-1")) << clash.err;

  const Run_Result list = run({"pool", "list"});
  EXPECT_EQ(0, list.code);
  char real[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(root.c_str(), real));
  EXPECT_NE(std::string::npos, list.out.find("p-1   main  " + std::string(real))) << list.out;
  EXPECT_EQ(std::string::npos, list.out.find("p-2"));

  // Without --uuid a new one is made, printed and registered.
  const Run_Result fresh = run({"pool", "add", "--name", "fresh", "--dir", dir + "-b"});
  ASSERT_EQ(0, fresh.code) << fresh.all();
  std::smatch made;
  ASSERT_TRUE(std::regex_search(fresh.out, made, std::regex("^pool fresh \\(([0-9a-f-]{36})\\)")))
      << fresh.out;
  EXPECT_NE(std::string::npos, run({"pool", "list"}).out.find(made[1].str() + "  fresh"));
  EXPECT_EQ(0, run({"pool", "remove", "--uuid", made[1].str()}).code);

  EXPECT_EQ(0, run({"pool", "remove", "--uuid", "p-1"}).code);
  EXPECT_EQ(1, run({"pool", "remove", "--uuid", "p-1"}).code);
  EXPECT_EQ("no pools\n", run({"pool", "list"}).out);
}

TEST_F(Quillon3_Runner, RpcFailuresExitWith1AndTheLogOnlyWithVerbose) {
  init();
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {{"rpc", "no.such.method", "{}"}, "method not found"},
      {{"rpc", "tavrocloud.query", "[1]"}, "params must be an object"},
      {{"rpc", "tavrocloud.query", "{\"uuid\": \"missing\"}"}, "no such account: missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    const Run_Result quiet = run(c.args);
    EXPECT_EQ(1, quiet.code);
    EXPECT_EQ("", quiet.out);
    EXPECT_NE(std::string::npos, quiet.err.find(c.reason)) << quiet.err;
    EXPECT_EQ(std::string::npos, quiet.err.find("[ERROR]")) << quiet.err;
    std::vector<std::string> loud_args = {"-v"};
    loud_args.insert(loud_args.end(), c.args.begin(), c.args.end());
    const Run_Result loud = run(loud_args);
    EXPECT_EQ(1, loud.code);
    EXPECT_NE(std::string::npos, loud.err.find("[ERROR]")) << loud.err;
  }
}

// The runner as the web console and the host's agent: every call goes through the loaded
// module's handlers; bad input gets one line on stderr and exit 1.
TEST_F(Quillon3_Runner, ConsoleAndProbeGoThroughTheLoadedModule) {
  if (!simulator_available()) GTEST_SKIP() << "python3 or the cloud simulator is missing";
  std::unique_ptr<test::Sim_Process> started = start_sim();
  test::Sim_Process& sim = *started;
  ASSERT_TRUE(sim.running()) << sim.error();
  init();
  add_account("good", sim.port(), SECRET_KEY);
  const std::string search = tmp_.path() + "/search.json";
  std::ofstream(search) << R"({"uuid": "good", "subtype": "search", "view": "", "type": "",)"
                        << R"( "moid": "", "search_type": "Instance", "name": "WEB"})";
  const std::string broken = tmp_.path() + "/broken.json";
  std::ofstream(broken) << R"({"uuid": "good",)";
  const std::string host_library = runner_path().substr(0, runner_path().rfind('/')) +
                                   "/libquillon3_host.so";
  const std::string port = std::to_string(sim.port());

  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out;  // a text the output holds
    std::string err;  // a text the one line on stderr holds
  };
  const std::vector<Case> cases = {
      {{"probe"}, 0, "Tavrocloud_Proxy  tavrocloud  enabled  {\"is_proxy\":true}", ""},
      {{"console", "login", "--account", "good"}, 0, "\"message\": \"Success to login\"", ""},
      {{"console", "list", "uuid=good", "subtype=inventory", "view=instances", "type=", "moid="},
       0, "\"moid\": \"cloud-tavro-demo\"", ""},
      {{"console", "list", search}, 0, "\"name\": \"web01\"", ""},
      {{"console", "login", "host=127.0.0.1", "port:=" + port, "ssl:=false", "locale=",
        std::string("access_key=") + ACCESS_KEY, "security_key=plain"},
       1, "", "the module answered -32603 \"Failed to parse or decrypt security key\""},
      {{"console", "list", "uuid=nobody", "subtype=inventory", "view=instances", "type=",
        "moid="},
       1, "", "no such account: nobody"},
      {{"console", "list", tmp_.path() + "/missing.json"}, 1, "", "cannot read"},
      {{"console", "list", broken}, 1, "", "broken.json is not JSON"},
      {{"console", "login", "--account", "nobody"}, 1, "", "cannot load account nobody"},
      {{"--module", tmp_.path() + "/nothing.so", "probe"}, 1, "", "cannot load module"},
      {{"--module", host_library, "probe"}, 1, "",
       "has no symbol _make_Tavrocloud_Instance_Handler"},
      {{"--module", host_library, "account", "check", "--uuid", "good"}, 1, "",
       "has no symbol _make_JSON_RPC_Tavrocloud_Login_Handler"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE("quillon3 " + line);
    const Run_Result r = run(c.args);
    EXPECT_EQ(c.code, r.code) << r.all();
    EXPECT_NE(std::string::npos, r.out.find(c.out)) << r.out;
    if (c.code != 0) {
      EXPECT_NE(std::string::npos, r.err.find(c.err)) << r.err;
      EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    }
    EXPECT_EQ(std::string::npos, r.all().find(SECRET_KEY));
  }
}

}  // namespace
