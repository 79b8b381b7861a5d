// Black-box tests of the quillon3 program: each test runs the built binary with its own
// host home (QUILLON3_ROOT in a temporary directory) and checks exit codes, output and
// the files left in the home; account check and the console log in to the simulator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
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
#include "support/loopback_http.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using test::Run_Result;
using test::SIM_ACCESS_KEY;
using test::SIM_SECRET_KEY;
const auto NO_KEYS = ::testing::AllOf(Not(HasSubstr(SIM_SECRET_KEY)), Not(HasSubstr(SIM_ACCESS_KEY)));

using std::filesystem::exists;

// The words of `line`, split at spaces.
std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
}

unsigned mode_of(const std::string& path) {
  struct stat st{};
  EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
  return st.st_mode & 0777;
}

class Quillon3_Runner : public test::Runner_Test {};

TEST_F(Quillon3_Runner, BadUsageExitsWith2AndSaysWhy) {
  const std::string add = "account add --uuid c --host h --access-key a ";
  const std::vector<std::pair<std::string, const char*>> cases = {
      {"", "missing command"},
      {"backup-everything", "unknown command 'backup-everything'"},
      {"--frobnicate", "unknown option --frobnicate"},
      {"account", "missing subcommand"},
      {"account rename", "unknown account subcommand 'rename'"},
      {"account list --bogus", "unknown option --bogus"},
      {"account list extra", "unexpected argument 'extra'"},
      {"account remove", "missing --uuid"},
      {"account remove --uuid", "--uuid needs a value"},
      {"account remove --uuid a --uuid b", "--uuid given twice"},
      {add + "--port 1", "missing --secret-key"},
      {add + "--port 0 --secret-key s", "--port must be a number in 1..65535"},
      {add + "--port 65536 --secret-key s", "--port must be a number in 1..65535"},
      {add + "--port 8x --secret-key s", "--port must be a number in 1..65535"},
      {"account add --uuid ../etc --host h --port 1 --access-key a --secret-key s", "invalid --uuid"},
      {"account add --uuid c --host h/x --port 1 --access-key a --secret-key s", "invalid --host"},
      {add + "--port 1 --ssl=yes --secret-key s", "--ssl takes no value"},
      {add + "--port 1 --secret-key=", "empty --secret-key"},
      {"init --bits 512", "--bits must be a number in 2048..16384"},
      {"init --name", "--name needs a value"},
      {"pool add --uuid p --name n", "missing --dir"},
      {"catalog", "missing subcommand"},
      {"rpc", "missing METHOD PARAMS_JSON"},
      {"rpc tavrocloud.query", "missing METHOD PARAMS_JSON"},
      {"rpc tavrocloud.query {\"uuid\":", "PARAMS_JSON is not JSON"},
      {"rpc a {} more", "unexpected argument 'more'"},
      {"console list", "missing PARAMS.json"},
      {"console list uuid=c view", "'view' is not key=TEXT or key:=JSON"},
      {"console list uuid=c port:=8x", "the value of port is not JSON"},
      {"console login", "missing PARAMS or --account"},
      {"--module", "--module needs a value"},
      {"probe extra", "unexpected argument 'extra'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("quillon3 " + c.first);
    const Run_Result r = run(words(c.first));
    EXPECT_EQ(2, r.code);
    EXPECT_THAT(r.err, HasSubstr(c.second));
    EXPECT_EQ("", r.out);
  }
  EXPECT_FALSE(exists(home_)) << "a usage error must not touch the host home";
}

TEST_F(Quillon3_Runner, HelpOfEveryCommandExitsWith0) {
  for (const std::string command :
       {"", "init", "account", "account add", "account list", "account remove", "account check", "pool",
        "pool add", "pool list", "catalog", "catalog list", "rpc", "console", "console login", "console list",
        "probe", "backup", "restore"}) {
    SCOPED_TRACE(command);
    std::vector<std::string> args = words(command);
    args.push_back("--help");
    const Run_Result r = run(args);
    EXPECT_EQ(0, r.code);
    EXPECT_EQ(0u, r.out.find("Usage: quillon3" + (command.empty() ? "" : " " + command))) << r.out;
    EXPECT_EQ("", r.err);
  }
  // Help wins over whatever else is wrong on the line.
  EXPECT_EQ(0, run({"account", "add", "--port", "0", "-h"}).code);
  EXPECT_FALSE(exists(home_));
}

TEST_F(Quillon3_Runner, InitMakesIdentityAndKeysAndKeepsThem) {
  init();
  const std::string private_pem = home_ + "/keys/rsa_private.pem";
  EXPECT_EQ(0600u, mode_of(private_pem));
  EXPECT_THAT(test::read_file(home_ + "/identity.json"), HasSubstr("\"e2e-host\""));
  const std::string key = test::read_file(private_pem);
  EXPECT_THAT(key, HasSubstr("PRIVATE KEY"));
  EXPECT_THAT(test::read_file(home_ + "/keys/rsa_public.pem"), HasSubstr("PUBLIC KEY"));

  const Run_Result again = run({"init", "--name", "other", "--bits", "2048"});
  EXPECT_EQ(0, again.code) << again.all();
  EXPECT_THAT(again.out, HasSubstr("already initialised (name 'e2e-host')"));
  EXPECT_THAT(again.err, HasSubstr("--name ignored"));
  EXPECT_EQ(key, test::read_file(private_pem)) << "a second init must keep the key pair";
  EXPECT_THAT(again.all(), Not(HasSubstr("PRIVATE KEY")));
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
  EXPECT_THAT(test::read_file(home_ + "/keys/rsa_public.pem"), HasSubstr("PUBLIC KEY"));
  at_once(16, [&](size_t i) {
    return run(words("account add --uuid u" + std::to_string(i) + " --host h --port 8773 --access-key a --secret-key -"),
               "secret\n");
  });
  const Run_Result list = run({"account", "list"});
  for (int i = 0; i < 16; ++i) EXPECT_THAT(list.out, HasSubstr("u" + std::to_string(i) + " "));
  for (const char* f : {"", "/identity.json", "/accounts.json", "/keys/rsa_private.pem"})
    EXPECT_EQ(*f == '\0' ? 0700u : 0600u, mode_of(home_ + f)) << f;
}

TEST_F(Quillon3_Runner, AccountsAreAddedListedAndRemovedWithoutShowingKeys) {
  const std::string add_c1 = std::string("account add --uuid c1 --host 10.0.0.5 --port 8773 --locale region-1 ") +
                             "--access-key " + SIM_ACCESS_KEY + " --secret-key " + SIM_SECRET_KEY;
  EXPECT_THAT(run(words(add_c1)).summary(), ::testing::MatchesRegex("1 .*run 'quillon3 init' first.*"));

  init();
  std::vector<Run_Result> outputs = {
      run(words(add_c1)),
      run(words(std::string("account add --uuid c2 --host cloud.example --port=443 --ssl --access-key ") +
                SIM_ACCESS_KEY + " --secret-key -"),
          std::string(SIM_SECRET_KEY) + "\n"),
      run({"account", "list"}), run({"rpc", "tavrocloud.query", "{\"uuid\": \"c1\"}"})};
  for (const Run_Result& r : outputs) EXPECT_EQ(0, r.code) << r.all();
  EXPECT_THAT(outputs[0].out, HasSubstr("account c1 added"));
  EXPECT_THAT(outputs[2].out, HasSubstr("c1    http://10.0.0.5:8773"));
  EXPECT_THAT(outputs[2].out, HasSubstr("region-1"));
  EXPECT_THAT(outputs[2].out, HasSubstr("c2    https://cloud.example:443"));
  EXPECT_THAT(outputs[3].out, HasSubstr("\"host\": \"10.0.0.5\""));
  EXPECT_THAT(outputs[3].out, HasSubstr("\"security_key\": \"<hidden>\""));

  // The store holds the secret only encrypted, readable by its owner alone.
  const std::string store = test::read_file(home_ + "/accounts.json");
  EXPECT_THAT(store, Not(HasSubstr(SIM_SECRET_KEY)));
  EXPECT_THAT(store, HasSubstr("\"security_key\""));
  EXPECT_EQ(0600u, mode_of(home_ + "/accounts.json"));

  outputs.push_back(run({"account", "remove", "--uuid", "c1"}));
  EXPECT_EQ(0, outputs.back().code) << outputs.back().all();
  EXPECT_THAT(run({"account", "remove", "--uuid", "c1"}).summary(), ::testing::MatchesRegex("1 .*no such account.*"));
  outputs.push_back(run({"account", "list"}));
  EXPECT_THAT(outputs.back().out, Not(HasSubstr("c1 ")));
  EXPECT_THAT(outputs.back().out, HasSubstr("c2 "));
  for (const Run_Result& r : outputs) EXPECT_THAT(r.all(), NO_KEYS);
}

// The account check logs in as the jobs do; the console and the probe go through the
// loaded module; a new key pair makes the stored accounts unreadable.
TEST_F(Quillon3_Runner, AccountCheckConsoleAndProbeTalkToTheSimulator) {
  test::Sim_Options options;  // attachments are links under the test's directory
  options.dev_root = tmp_.path();
  options.loop = "link";
  const std::unique_ptr<test::Sim_Process> sim = std::make_unique<test::Sim_Process>(options);
  const std::string version = test::json_str(sim->get("/health"), "version");
  ASSERT_NE("", version) << sim->error();
  init();
  add_account("good", sim->port());
  add_account("wrong-secret", sim->port(), "not the secret");
  add_account("nobody-home", test::Loopback_Http_Server::closed_port());

  const struct {
    const char* uuid;
    int code;
    std::string out;
    const char* err;
  } cases[] = {
      {"good", 0, "account good: logged in to http://127.0.0.1:" + std::to_string(sim->port()) +
                      ", cloud version " + version, ""},
      {"wrong-secret", 1, "", "refused the keys"},
      {"nobody-home", 1, "", "could not be reached"},
      {"unknown", 1, "", "no such account: unknown"},
  };
  for (const auto& c : cases) {
    for (const char* verbose : {"", " -v"}) {
      SCOPED_TRACE(std::string(c.uuid) + verbose);
      const Run_Result r = run(words(std::string("account check --uuid ") + c.uuid + verbose));
      EXPECT_EQ(c.code, r.code) << r.all();
      EXPECT_THAT(r.out, HasSubstr(c.out));
      EXPECT_THAT(r.err, HasSubstr(c.err));
      EXPECT_THAT(r.all(), NO_KEYS);
    }
  }

  // The runner as the web console and the host's agent: every call goes through the
  // loaded module's handlers; bad input gets one line on stderr and exit 1.
  const std::string search = write("search.json", R"({"uuid": "good", "subtype": "search", "view": "",
      "type": "", "moid": "", "search_type": "Instance", "name": "WEB"})");
  const std::string broken = write("broken.json", R"({"uuid": "good",)");
  const std::string host_library = test::runner_path().substr(0, test::runner_path().rfind('/')) +
                                   "/libquillon3_host.so ";
  const std::string list = "console list uuid=good subtype=inventory view=instances type= moid=";
  const struct {
    std::string args;
    int code;
    std::string out;  // a text the output holds
    std::string err;  // a text the one line on stderr holds
  } console[] = {
      {"probe", 0, "Tavrocloud_Proxy  tavrocloud  enabled  {\"is_proxy\":true}", ""},
      {"console login --account good", 0, "\"message\": \"Success to login\"", ""},
      {list, 0, "\"moid\": \"cloud-tavro-demo\"", ""},
      {"console list " + search, 0, "\"name\": \"web01\"", ""},
      {"console login host=127.0.0.1 port:=" + std::to_string(sim->port()) + " ssl:=false locale= access_key=" +
           SIM_ACCESS_KEY + " security_key=plain",
       1, "", "the module answered -32603 \"Failed to parse or decrypt security key\""},
      {std::regex_replace(list, std::regex("good"), "nobody"), 1, "", "no such account: nobody"},
      {"console list " + tmp_.path() + "/missing.json", 1, "", "cannot read"},
      {"console list " + broken, 1, "", "broken.json is not JSON"},
      {"console login --account nobody", 1, "", "cannot load account nobody"},
      {"--module " + tmp_.path() + "/nothing.so probe", 1, "", "cannot load module"},
      {"--module " + host_library + "probe", 1, "", "has no symbol _make_Tavrocloud_Instance_Handler"},
      {"--module " + host_library + "account check --uuid good", 1, "",
       "has no symbol _make_JSON_RPC_Tavrocloud_Login_Handler"},
  };
  for (const auto& c : console) {
    SCOPED_TRACE("quillon3 " + c.args);
    const Run_Result r = run(words(c.args));
    EXPECT_EQ(c.code, r.code) << r.all();
    EXPECT_THAT(r.out, HasSubstr(c.out));
    if (c.code != 0) {
      EXPECT_THAT(r.err, HasSubstr(c.err));
      EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    }
    EXPECT_THAT(r.all(), NO_KEYS);
  }

  // A new key pair cannot decrypt what the old one protected: the check says so.
  ASSERT_EQ(0, ::remove((home_ + "/keys/rsa_private.pem").c_str()));
  const Run_Result reinit = run({"init", "--bits", "2048"});
  EXPECT_EQ(0, reinit.code);
  EXPECT_THAT(reinit.err, HasSubstr("add them again"));
  const Run_Result stale = run({"account", "check", "--uuid", "good"});
  EXPECT_EQ(1, stale.code);
  EXPECT_THAT(stale.err, HasSubstr("does not decrypt"));
}

// A new home lists no sets; a damaged record does not hide the others: they are listed,
// it is named, the command fails.
TEST_F(Quillon3_Runner, CatalogListOfANewHomeIsEmptyAndNamesADamagedSet) {
  EXPECT_THAT(run({"catalog", "list"}).summary(), ::testing::MatchesRegex("1 .*does not exist.*"));
  EXPECT_FALSE(exists(home_)) << "listing must not make a home";

  init();
  EXPECT_EQ("0 no backup sets\n", run({"catalog", "list"}).summary());
  EXPECT_EQ("0 []\n", run({"catalog", "list", "--json", "--module", "tavro"}).summary());
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
  for (const char* json : {"", "--json"}) {
    const Run_Result list = run(words(std::string("catalog list ") + json));
    EXPECT_EQ(1, list.code) << list.all();
    EXPECT_THAT(list.out, HasSubstr("set-good"));
    EXPECT_THAT(list.out, Not(HasSubstr("set-bad")));
    EXPECT_THAT(list.err, HasSubstr("set-bad is damaged"));
  }
}

TEST_F(Quillon3_Runner, PoolsAreRegisteredListedAndRemoved) {
  const std::string dir = tmp_.path() + "/pools/../pool-a";
  const Run_Result add = run({"pool", "add", "--uuid", "p-1", "--name", "main", "--dir", dir});
  ASSERT_EQ(0, add.code) << add.all();
  const std::string root = tmp_.path() + "/pool-a";
  EXPECT_TRUE(exists(root));
  const Run_Result clash = run({"pool", "add", "--uuid", "p-2", "--name", "main", "--dir", dir});
  EXPECT_EQ(1, clash.code);
  EXPECT_THAT(clash.err, HasSubstr("is used by pool p-1"));

  const Run_Result list = run({"pool", "list"});
  EXPECT_EQ(0, list.code);
  char real[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(root.c_str(), real));
  EXPECT_THAT(list.out, HasSubstr("p-1   main  " + std::string(real)));
  EXPECT_THAT(list.out, Not(HasSubstr("p-2")));

  // Without --uuid a new one is made, printed and registered.
  const Run_Result fresh = run({"pool", "add", "--name", "fresh", "--dir", dir + "-b"});
  ASSERT_EQ(0, fresh.code) << fresh.all();
  std::smatch made;
  ASSERT_TRUE(std::regex_search(fresh.out, made, std::regex("^pool fresh \\(([0-9a-f-]{36})\\)")))
      << fresh.out;
  EXPECT_THAT(run({"pool", "list"}).out, HasSubstr(made[1].str() + "  fresh"));
  EXPECT_EQ(0, run({"pool", "remove", "--uuid", made[1].str()}).code);

  EXPECT_EQ(0, run({"pool", "remove", "--uuid", "p-1"}).code);
  EXPECT_EQ(1, run({"pool", "remove", "--uuid", "p-1"}).code);
  EXPECT_EQ("0 no pools\n", run({"pool", "list"}).summary());
}

TEST_F(Quillon3_Runner, RpcFailuresExitWith1AndTheLogOnlyWithVerbose) {
  init();
  const std::vector<std::pair<std::string, const char*>> cases = {
      {"rpc no.such.method {}", "method not found"},
      {"rpc tavrocloud.query [1]", "params must be an object"},
      {"rpc tavrocloud.query {\"uuid\":\"missing\"}", "no such account: missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const Run_Result quiet = run(words(c.first)), loud = run(words("-v " + c.first));
    EXPECT_EQ(1, quiet.code);
    EXPECT_EQ("", quiet.out);
    EXPECT_THAT(quiet.err, AllOf(HasSubstr(c.second), Not(HasSubstr("[ERROR]"))));
    EXPECT_EQ(1, loud.code);
    EXPECT_THAT(loud.err, HasSubstr("[ERROR]"));
  }
}

}  // namespace
