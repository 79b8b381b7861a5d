// Black-box tests of the quillon3 program: each test runs the built binary with its own
// host home (QUILLON3_ROOT in a temporary directory) and checks exit codes, output and
// the files left in the home; account check and the console log in to the simulator.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "catalog/restful_catalog_operator.h"
#include "e2e/runner_process.h"
#include "host/catalog/sample_sets.h"
#include "support/loopback_http.h"

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using test::Run_Result;
using test::SIM_ACCESS_KEY;
using test::SIM_SECRET_KEY;
const auto NO_KEYS = AllOf(Not(HasSubstr(SIM_SECRET_KEY)), Not(HasSubstr(SIM_ACCESS_KEY)));


// One command line and what it must come to: the exit code, a text its stdout holds
// and one its stderr holds. A failure prints nothing on stdout; one that is not a usage
// error (exit 2, which adds the usage) says why in one line of stderr (with -v the log
// follows it). No output shows the cloud's keys.
struct Row {
  std::string args;
  int code;
  std::string out, err;
};

class Quillon3_Runner : public test::Runner_Test {
 protected:
  void expect_rows(const std::vector<Row>& rows) const {
    for (const Row& row : rows) {
      SCOPED_TRACE("quillon3 " + row.args);
      const Run_Result r = run(row.args);
      EXPECT_EQ(row.code, r.code) << r.all();
      EXPECT_THAT(r.out, HasSubstr(row.out));
      EXPECT_THAT(r.err, HasSubstr(row.err));
      // Without -v, a success prints nothing on stderr and a failure one line.
      const bool verbose = row.args.find("-v") != std::string::npos;
      EXPECT_EQ("", row.code != 0 ? r.out : verbose ? "" : r.err);
      EXPECT_TRUE(row.code != 1 || verbose || std::count(r.err.begin(), r.err.end(), '\n') == 1)
          << r.err;
      EXPECT_THAT(r.all(), NO_KEYS);
    }
  }
};

// A usage error exits with 2, says why on stderr and prints nothing else; --help of
// every command exits with 0, whatever else is wrong on the line. Neither touches the home.
TEST_F(Quillon3_Runner, UsageErrorsAndHelp) {
  const std::string add = "account add --uuid c --host h --access-key a ";
  const std::string keys = " --port 1 --access-key a --secret-key s";
  std::vector<Row> rows = {
      {"", 2, "", "missing command"},
      {"backup-everything", 2, "", "unknown command 'backup-everything'"},
      {"--frobnicate", 2, "", "unknown option --frobnicate"},
      {"account", 2, "", "missing subcommand"},
      {"account rename", 2, "", "unknown account subcommand 'rename'"},
      {"account list extra", 2, "", "unexpected argument 'extra'"},
      {"account remove --uuid", 2, "", "--uuid needs a value"},
      {"account remove --uuid a --uuid b", 2, "", "--uuid given twice"},
      {add + "--port 1", 2, "", "missing --secret-key"},
      {add + "--port 0 --secret-key s", 2, "", "--port must be a number in 1..65535"},
      {add + "--port 8x --secret-key s", 2, "", "--port must be a number in 1..65535"},
      {"account add --uuid ../etc --host h" + keys, 2, "", "invalid --uuid"},
      {"account add --uuid .. --host h" + keys, 2, "", "invalid --uuid '..': a uuid may hold"},
      {"account add --uuid . --host h" + keys, 2, "", "must not be '.' or '..'"},
      {"account add --uuid c --host h/x" + keys, 2, "", "invalid --host"},
      {add + "--port 1 --ssl=yes --secret-key s", 2, "", "--ssl takes no value"},
      {add + "--port 1 --secret-key=", 2, "", "empty --secret-key"},
      {"init --bits 512", 2, "", "--bits must be a number in 2048..16384"},
      {"rpc tavrocloud.query", 2, "", "missing METHOD PARAMS_JSON"},
      {"rpc tavrocloud.query {\"uuid\":", 2, "", "PARAMS_JSON is not JSON"},
      {"console list", 2, "", "missing PARAMS.json"},
      {"console list uuid=c view", 2, "", "'view' is not key=TEXT or key:=JSON"},
      {"console list uuid=c port:=8x", 2, "", "the value of port is not JSON"},
      {"console login", 2, "", "missing PARAMS or --account"},
      {"account add --port 0 -h", 0, "Usage: quillon3 account add", ""},
  };
  for (const std::string command :
       {"init", "account", "account add", "account list", "account remove", "account check", "pool",
        "pool add", "pool list", "catalog", "catalog list", "rpc", "console", "console login",
        "console list", "probe", "backup", "restore"}) {
    rows.push_back({command + " --help", 0, "Usage: quillon3 " + command, ""});
  }
  expect_rows(rows);
  EXPECT_FALSE(std::filesystem::exists(home_)) << "a usage error must not touch the host home";
}

// Runners started at once on one home: eight inits leave one whole identity, which a
// later init keeps; sixteen account adds of different uuids are all kept; the home and
// its files are the owner's.
TEST_F(Quillon3_Runner, ConcurrentRunnersLoseNothing) {
  auto at_once = [&](size_t n, const std::function<Run_Result(size_t)>& one) {
    std::vector<Run_Result> results(n);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < n; ++i) threads.emplace_back([&, i] { results[i] = one(i); });
    for (std::thread& t : threads) t.join();
    for (const Run_Result& r : results) EXPECT_EQ(0, r.code) << r.all();
  };
  at_once(8, [&](size_t) { return run("init --bits 2048 --name e2e-host"); });
  const std::string private_pem = home_ + "/keys/rsa_private.pem";
  const std::string key = test::read_file(private_pem);
  EXPECT_THAT(key, HasSubstr("PRIVATE KEY"));
  EXPECT_THAT(run("init --name other --bits 2048").summary(),
              AllOf(MatchesRegex("0 .*already initialised \\(name 'e2e-host'\\).*--name ignored.*"),
                    Not(HasSubstr("PRIVATE KEY"))));
  EXPECT_EQ(key, test::read_file(private_pem)) << "a later init must keep the key pair";
  at_once(16, [&](size_t i) {
    const std::string uuid = "u" + std::to_string(i);
    return run("account add --host h --port 8773 --access-key a --secret-key - --uuid " + uuid,
               "secret\n");
  });
  const Run_Result list = run("account list");
  for (int i = 0; i < 16; ++i) EXPECT_THAT(list.out, HasSubstr("u" + std::to_string(i) + " "));
  for (const char* f : {"", "/identity.json", "/accounts.json", "/keys/rsa_private.pem"}) {
    struct stat st{};
    EXPECT_EQ(0, ::stat((home_ + f).c_str(), &st)) << f;
    EXPECT_EQ(*f == '\0' ? 0700u : 0600u, st.st_mode & 0777) << f;
  }
}

TEST_F(Quillon3_Runner, AccountsAreAddedListedAndRemovedWithoutShowingKeys) {
  const std::string access = std::string(" --access-key ") + SIM_ACCESS_KEY;
  const std::string add_c1 = "account add --uuid c1 --host 10.0.0.5 --port 8773 --locale region-1" +
                             access + " --secret-key " + SIM_SECRET_KEY;
  EXPECT_THAT(run(add_c1).summary(), MatchesRegex("1 .*run 'quillon3 init' first.*"));
  init();
  EXPECT_THAT(run(add_c1).summary(), AllOf(MatchesRegex("0 account c1 added.*"), NO_KEYS));
  const std::string add_c2 = "account add --uuid c2 --host cloud.example --port=443 --ssl" + access;
  EXPECT_EQ(0, run(add_c2 + " --secret-key -", std::string(SIM_SECRET_KEY) + "\n").code);
  EXPECT_THAT(run("account list").summary(),
              AllOf(HasSubstr("c1    http://10.0.0.5:8773"), HasSubstr("region-1"),
                    HasSubstr("c2    https://cloud.example:443"), NO_KEYS));
  EXPECT_THAT(run("rpc tavrocloud.query {\"uuid\":\"c1\"}").summary(),
              AllOf(HasSubstr(R"("host": "10.0.0.5")"), HasSubstr(R"("security_key": "<hidden>")"),
                    NO_KEYS));
  // The store holds the secret only encrypted.
  const std::string store = test::read_file(home_ + "/accounts.json");
  EXPECT_THAT(store, AllOf(Not(HasSubstr(SIM_SECRET_KEY)), HasSubstr("\"security_key\"")));

  expect_rows({{"account remove --uuid c1", 0, "", ""},
               {"account remove --uuid c1", 1, "", "no such account"}});
  EXPECT_THAT(run("account list").out, AllOf(Not(HasSubstr("c1 ")), HasSubstr("c2 ")));
}

// A secret given on stdin is read no further than the longest any host key could encrypt:
// a line one byte longer, or a stdin without end, is refused in one line, exit 1, having
// taken hardly more than that from it.
TEST_F(Quillon3_Runner, ASecretOnStdinIsReadNoFurtherThanAKeyCouldEncrypt) {
  init();
  const std::vector<std::string> add = {"account", "add", "--uuid", "c1", "--host", "h",
                                        "--port", "8773", "--access-key", "a", "--secret-key",
                                        "-"};
  const std::string too_long =
      "1 quillon3: the secret key on stdin is longer than 2048 bytes, more than the host's key "
      "can encrypt\n";
  const struct {
    std::string what;
    std::string input;
    std::string summary;
  } rows[] = {
      {"the longest line read, too long for this host's key", std::string(2048, 's') + "\n",
       "1 quillon3: cannot encrypt the secret key with the host's public key (too long for the "
       "key?)\n"},
      {"one byte more", std::string(2049, 's') + "\n", too_long},
      {"one byte more and no line end", std::string(2049, 's'), too_long},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.summary, test::Runner_Process(add, row.input).finish().summary());
  }

  // A stdin without end: a socket written to until the runner is gone (or 64 MiB went in).
  int pair[2];
  ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
  size_t sent = 0;
  std::thread writer([&] {
    const std::string chunk(64 << 10, 's');
    for (ssize_t n; sent < (64u << 20) &&
                    (n = ::send(pair[1], chunk.data(), chunk.size(), MSG_NOSIGNAL)) > 0;)
      sent += static_cast<size_t>(n);
    ::close(pair[1]);
  });
  test::Runner_Process endless(add, "", {pair[0], -1, -1});
  ::close(pair[0]);
  const Run_Result r = endless.finish();
  writer.join();
  EXPECT_EQ(too_long, r.summary());
  EXPECT_LT(sent, 4u << 20) << "bytes the runner took from stdin";
  EXPECT_EQ("no accounts\n", run("account list").out);
}

// The account check logs in as the jobs do; the console and the probe go through the
// loaded module; rpc failures exit with 1 and show the log only with -v; a new key pair
// makes the stored accounts unreadable.
TEST_F(Quillon3_Runner, AccountCheckConsoleProbeAndRpcTalkToTheModule) {
  test::Sim_Options options;  // attachments are links under the test's directory
  options.dev_root = tmp_.path();
  options.loop = "link";
  const test::Sim_Process sim(options);
  const std::string version = test::json_str(sim.get("/health"), "version");
  ASSERT_NE("", version) << sim.error();
  init();
  add_account("good", sim.port());
  add_account("wrong-secret", sim.port(), "not the secret");
  add_account("nobody-home", test::Loopback_Http_Server::closed_port());

  const std::string search = write("search.json", R"({"uuid": "good", "subtype": "search",
      "view": "", "type": "", "moid": "", "search_type": "Instance", "name": "WEB"})");
  const std::string broken = write("broken.json", R"({"uuid": "good",)");
  const std::string list = "console list uuid=good subtype=inventory view=instances type= moid=";
  const std::string host_library = test::built("libquillon3_host.so ");
  const std::string port = std::to_string(sim.port());
  expect_rows({
      {"account check --uuid good", 0,
       "account good: logged in to http://127.0.0.1:" + port + ", cloud version " + version, ""},
      {"account check --uuid wrong-secret", 1, "", "refused the keys"},
      {"account check --uuid nobody-home", 1, "", "could not be reached"},
      {"account check --uuid unknown", 1, "", "no such account: unknown"},
      {"probe", 0, "Tavrocloud_Proxy  tavrocloud  enabled  {\"is_proxy\":true}", ""},
      {"console login --account good", 0, "\"message\": \"Success to login\"", ""},
      {list, 0, "\"moid\": \"cloud-tavro-demo\"", ""},
      {"console list " + search, 0, "\"name\": \"web01\"", ""},
      {"console login host=127.0.0.1 port:=" + port + " ssl:=false locale= access_key=" +
           SIM_ACCESS_KEY + " security_key=plain",
       1, "", "the module answered -32603 \"Failed to parse or decrypt security key\""},
      {std::regex_replace(list, std::regex("good"), "nobody"), 1, "", "no such account: nobody"},
      {"console list " + tmp_.path() + "/missing.json", 1, "", "cannot read"},
      {"console list " + broken, 1, "", "broken.json is not JSON"},
      {"console login --account nobody", 1, "", "cannot load account nobody"},
      {"--module " + tmp_.path() + "/nothing.so probe", 1, "", "cannot load module"},
      {"--module " + host_library + "probe", 1, "",
       "has no symbol _make_Tavrocloud_Instance_Handler"},
      {"--module " + host_library + "account check --uuid good", 1, "",
       "has no symbol _make_JSON_RPC_Tavrocloud_Login_Handler"},
      {"rpc no.such.method {}", 1, "", "method not found"},
      {"rpc tavrocloud.query [1]", 1, "", "params must be an object"},
      {"rpc tavrocloud.query {\"uuid\":\"missing\"}", 1, "", "no such account: missing"},
      {"-v rpc tavrocloud.query {\"uuid\":\"missing\"}", 1, "", "[ERROR]"},
  });

  // The cloud's text is printed with its controls escaped, in every place the runner
  // prints it: a newline forges no line, DEL and a C1 control (CSI) never reach the
  // terminal; other UTF-8 stays as it is.
  ASSERT_TRUE(sim.post("/faults", R"({"action": "GetCloudVersion", "times": 100, "kind": "error",
      "code": "AuthFailure", "http_status": 401,
      "message": "Keys refused\nquillon3: all done\u009b31m\u007f café"})"));
  const std::string escaped = "Keys refused\\nquillon3: all done\\u009b31m\\x7f café";
  expect_rows({{"account check --uuid good", 1, "", escaped}});
  ASSERT_EQ(0, run("pool add --uuid p --name p --dir " + tmp_.path() + "/pool").code);
  const std::string backup = write("backup.json", R"({"type": "backup", "id": "b",
      "host_id": "good", "target_pool": "p",
      "source": {"id": "c", "entries": [{"id": "i-web01", "name": "w", "type": "Instance"}]}})");
  for (const std::string& line :
       {std::string("-v account check --uuid good"), "backup --quiet " + backup}) {
    SCOPED_TRACE(line);
    const Run_Result r = run(line);
    EXPECT_EQ(1, r.code);
    EXPECT_THAT(r.err, AllOf(HasSubstr(escaped), Not(HasSubstr("\nquillon3: all done")),
                             Not(HasSubstr("\xc2\x9b")), Not(HasSubstr("\x7f"))));
  }
  sim.clear_faults();
  // In JSON too: an instance's name from the cloud with DEL and CSI in it.
  ASSERT_TRUE(sim.post("/patch", R"({"store": "instances", "id": "i-web01",
                                     "set": {"name": "web\u009b01\u007f"}})"));
  expect_rows({{"console list " + search, 0, R"("name": "web\u009b01\u007f")", ""}});

  // A new key pair cannot decrypt what the old one protected: the check says so.
  ASSERT_EQ(0, ::remove((home_ + "/keys/rsa_private.pem").c_str()));
  EXPECT_THAT(run("init --bits 2048").summary(), MatchesRegex("0 .*add them again.*"));
  expect_rows({{"account check --uuid good", 1, "", "does not decrypt"}});
}

// A new home lists no sets; a damaged record does not hide the others: they are listed,
// it is named, the command fails. A row names its instance, the JSON carries the time
// point as a restore entry takes it, and the help says it is UTC.
TEST_F(Quillon3_Runner, CatalogListOfANewHomeIsEmptyAndNamesADamagedSet) {
  EXPECT_THAT(run("catalog list --help").out, HasSubstr("TIMEPOINT is the second the\nset's "
                                                        "backup started, in UTC"));
  EXPECT_THAT(run("catalog list").summary(), MatchesRegex("1 .*does not exist.*"));
  EXPECT_FALSE(std::filesystem::exists(home_)) << "listing must not make a home";
  init();
  EXPECT_EQ("0 no backup sets\n", run("catalog list").summary());
  EXPECT_EQ("0 []\n", run("catalog list --json --module tavro").summary());
  // A listing whose reader went away ends quietly, as a write to a closed pipe ends most
  // programs; one started without a stdout says that its output was lost.
  int gone[2];
  ASSERT_EQ(0, ::pipe2(gone, O_CLOEXEC));
  ::close(gone[0]);
  const struct {
    std::string name;
    int out;
    std::string summary;
  } lost[] = {
      {"reader gone", gone[1], std::to_string(128 + SIGPIPE) + " "},
      {"stdout closed", test::CLOSED_FD,
       "1 quillon3: cannot write the output: Bad file descriptor\n"},
  };
  for (const auto& l : lost) {
    SCOPED_TRACE(l.name);
    test::Runner_Process list({"catalog", "list"}, "", {-1, l.out, -1});
    EXPECT_EQ(l.summary, list.finish().summary());
  }
  ::close(gone[1]);
  RESTful_Catalog_Operator catalog("localhost", 0, false, "", -1, 0);
  ASSERT_TRUE(catalog.commit(test::sample_set("set-good", "res-1", "i-1", 1714564800), true));
  ASSERT_TRUE(catalog.commit(test::sample_set("set-bad", "res-1", "i-2", 1714564801), true));
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((home_ + "/catalog.db").c_str(), &db));
  const char* const damage = "UPDATE backup_sets SET body = '{' WHERE uuid = 'set-bad'";
  EXPECT_EQ(SQLITE_OK, sqlite3_exec(db, damage, nullptr, nullptr, nullptr));
  sqlite3_close(db);
  const struct {
    std::string json;
    std::string set_good;  // what the output shows of set-good
  } listings[] = {
      {"", "20240501120000  tavro   full  nightly  i-1       web server     set-good  res-1"},
      {" --json", R"("backup_start_time": "20240501120000")"},
  };
  for (const auto& l : listings) {
    const Run_Result list = run("catalog list" + l.json);
    EXPECT_EQ(1, list.code) << list.all();
    EXPECT_THAT(list.out, AllOf(HasSubstr(l.set_good), Not(HasSubstr("set-bad"))));
    EXPECT_THAT(list.err, HasSubstr("set-bad is damaged"));
  }
}

// A failed job shows, without -v, the errors it logged (the cause is seldom its last
// line), never its debug or info lines, then one line that says how it ended; a failing
// script is named by its role, with its exit status or the signal that killed it, never
// with its text (it may hold a password). The first failure is the job's: the cloud is
// down, so the pre-action fails before the job would reach it, and a post-action that
// fails after the login failed does not take its place.
TEST_F(Quillon3_Runner, AFailedJobShowsItsErrorsAndNamesAFailingScript) {
  init();
  add_account("down", test::Loopback_Http_Server::closed_port());
  ASSERT_EQ(0, run("pool add --uuid p --name p --dir " + tmp_.path() + "/pool").code);
  const struct {
    std::string scripts;
    std::vector<std::string> err;  // in this order
  } rows[] = {
      {R"({"pre_action": "echo about to fail; exit 3"})",
       {"quillon3: error: The job's script exited with status 3\n",
        "quillon3: backup failed: The pre-action script failed\n"}},
      {R"({"post_action": "kill -9 $$", "run_post_action_always": true})",
       {"quillon3: error: Failed to log in to cloud 127.0.0.1:",
        "the cloud could not be reached: ", " (Connection refused)\n",
        "quillon3: error: The job's script was killed by signal 9 (Killed)\n",
        "quillon3: error: The post-action script failed\n", "quillon3: backup failed\n"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.scripts);
    const std::string definition = write("def.json", R"({"type": "backup", "id": "b",
        "host_id": "down", "target_pool": "p", "scripts": )" + row.scripts + R"(,
        "source": {"id": "c", "entries": [{"id": "i-a", "name": "a", "type": "Instance"}]}})");
    const Run_Result r = run("backup --quiet " + definition);
    EXPECT_EQ(1, r.code) << r.all();
    size_t at = 0;
    for (const std::string& text : row.err) {
      at = r.err.find(text, at);
      EXPECT_NE(std::string::npos, at) << text << "\nin:\n" << r.err;
    }
    EXPECT_EQ(r.err.size(), at + row.err.back().size()) << "the outcome is the last line";
    EXPECT_THAT(r.err, AllOf(Not(HasSubstr("[INFO]")), Not(HasSubstr("Job Definition")),
                             Not(HasSubstr("exit 3")), Not(HasSubstr("kill -9"))));
  }
}

// A command that changes the home, started without a stdout (cron, a service manager),
// does its work, then says on stderr that it stands and that its output was lost, and
// exits 1; the work is there for the next command.
TEST_F(Quillon3_Runner, ACommandWithoutStdoutSaysItsWorkStands) {
  char real[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(tmp_.path().c_str(), real));
  const std::string pool_dir = std::string(real) + "/pool";
  const struct {
    std::string args, input;
    std::string err;    // after "quillon3: ", before "; cannot write the output: ..."
    std::string check;  // a command whose output shows the work
    std::string shown;
  } rows[] = {
      {"init --bits 2048 --name e2e-host", "",
       "the host home " + home_ + " is initialised (name 'e2e-host')", "account list",
       "no accounts"},
      {"account add --uuid u1 --host 127.0.0.1 --port 1 --access-key AK --secret-key -",
       "secret\n", "account u1 was added", "account list", "u1"},
      {"pool add --uuid p-1 --name main --dir " + pool_dir, "",
       "pool main (p-1) was registered at " + pool_dir, "pool list", "p-1   main"},
      {"pool remove --uuid p-1", "", "pool p-1 was removed", "pool list", "no pools"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.args);
    std::istringstream words(row.args);
    const std::vector<std::string> args(std::istream_iterator<std::string>(words), {});
    test::Runner_Process command(args, row.input, {-1, test::CLOSED_FD, -1});
    EXPECT_EQ("1 quillon3: " + row.err + "; cannot write the output: Bad file descriptor\n",
              command.finish().summary());
    EXPECT_THAT(run(row.check).out, HasSubstr(row.shown));
  }
}

TEST_F(Quillon3_Runner, PoolsAreRegisteredListedAndRemoved) {
  const std::string dir = tmp_.path() + "/pools/../pool-a";
  ASSERT_EQ(0, run("pool add --uuid p-1 --name main --dir " + dir).code);
  char real[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath((tmp_.path() + "/pool-a").c_str(), real));
  EXPECT_THAT(run("pool add --uuid p-2 --name main --dir " + dir).summary(),
              MatchesRegex("1 .*is used by pool p-1.*"));
  EXPECT_THAT(run("pool list").summary(),
              AllOf(HasSubstr("p-1   main  " + std::string(real)), Not(HasSubstr("p-2"))));

  // Without --uuid a new one is made, printed and registered.
  const Run_Result fresh = run("pool add --name fresh --dir " + dir + "-b");
  std::smatch made;
  const std::regex printed("^pool fresh \\(([0-9a-f-]{36})\\)");
  ASSERT_TRUE(std::regex_search(fresh.out, made, printed)) << fresh.all();
  EXPECT_THAT(run("pool list").out, HasSubstr(made[1].str() + "  fresh"));
  EXPECT_EQ(0, run("pool remove --uuid " + made[1].str()).code);
  EXPECT_EQ(0, run("pool remove --uuid p-1").code);
  EXPECT_EQ(1, run("pool remove --uuid p-1").code);
  EXPECT_EQ("0 no pools\n", run("pool list").summary());
}

// A link anywhere in the home (to a file, dangling, to a folder) is never opened, created,
// replaced or made private through: the command that meets it fails or does without
// that file, and what the link points at keeps its bytes and mode, stays missing or
// stays empty.
TEST_F(Quillon3_Runner, LinksInTheHomeAreNeverFollowed) {
  namespace fs = std::filesystem;
  enum Target { TO_FILE, DANGLING, TO_FOLDER };
  const std::string pool_add = "pool add --uuid p --name p --dir " + tmp_.path() + "/pool";
  const std::string account_add = "account add --uuid u --host 127.0.0.1 --port 1 "
                                  "--access-key a --secret-key -";
  const std::string backup = "backup --quiet " + write("def.json", R"({"type": "backup",
      "id": "b", "host_id": "u", "target_pool": "p",
      "source": {"id": "c", "entries": [{"id": "i-a", "name": "a", "type": "Instance"}]}})");
  const std::vector<std::string> ready = {"init --bits 2048", account_add, pool_add};
  const struct {
    std::string place;  // below the home
    std::vector<std::string> before;  // commands run before the link is planted
    std::string command;
  } places[] = {
      {"identity.json", {}, "init --bits 2048"},
      {"keys", {}, "init --bits 2048"},
      {"keys/init.lock", {}, "init --bits 2048"},
      {"accounts.json.lock", {"init --bits 2048"}, account_add},
      {"pools.lock", {}, pool_add},
      {"jobd", ready, backup},
      {"jobd/act/job/b", ready, backup},
  };
  int n = 0;
  for (const auto& place : places) {
    for (const Target target : {TO_FILE, DANGLING, TO_FOLDER}) {
      SCOPED_TRACE(place.place + " linked to a " +
                   (target == TO_FILE ? "file" : target == DANGLING ? "missing file" : "folder"));
      const std::string home = tmp_.path() + "/home" + std::to_string(++n);
      const std::string aim = tmp_.path() + "/aim" + std::to_string(n);
      test::Scoped_Env root("QUILLON3_ROOT", home.c_str());
      ASSERT_TRUE(fs::create_directories(home));
      for (const std::string& command : place.before) ASSERT_EQ(0, run(command, "secret\n").code);
      if (target == TO_FILE) write("aim" + std::to_string(n), "9 bytes!\n");
      if (target == TO_FOLDER) fs::create_directory(aim);
      if (target != DANGLING) fs::permissions(aim, fs::perms(0755));
      const fs::path link = home + "/" + place.place;
      fs::create_directories(link.parent_path());
      fs::create_symlink(aim, link);
      const Run_Result r = run(place.command, "secret\n");
      EXPECT_EQ(1, r.code) << r.all();
      std::error_code no_link;
      EXPECT_EQ(fs::read_symlink(link, no_link), aim);
      EXPECT_EQ(target == DANGLING, !fs::exists(fs::symlink_status(aim)));
      if (target == DANGLING) continue;
      EXPECT_EQ(static_cast<int>(fs::status(aim).permissions()), 0755);
      EXPECT_EQ(target == TO_FILE ? "9 bytes!\n" : "",
                target == TO_FILE ? test::read_file(aim) : fs::is_empty(aim) ? "" : "filled");
    }
  }
}

// A FIFO in the place of a file of the home that commands read (the identity, the
// accounts, the pool registry) is refused at once, never opened for a read that would
// wait for a writer for ever: the command fails in one line naming the file, and the FIFO
// stays. The runner runs under a guard that kills it (exit 137) rather than let the test
// hang.
TEST_F(Quillon3_Runner, AFifoInTheHomeIsRefusedAtOnce) {
  ASSERT_NO_FATAL_FAILURE(init());
  const std::string guarded = write("guarded-runner", "#!/bin/sh\nexec timeout -s KILL 30 " +
                                                          test::runner_path() + " \"$@\"\n");
  ASSERT_EQ(0, ::chmod(guarded.c_str(), 0700));
  const test::Scoped_Env runner("QUILLON3_RUNNER", guarded.c_str());
  const std::vector<std::string> fifos = {"identity.json", "accounts.json", "pools"};
  for (const std::string& name : fifos) {
    std::filesystem::remove(home_ + "/" + name);
    ASSERT_EQ(0, ::mkfifo((home_ + "/" + name).c_str(), 0600)) << name;
  }
  expect_rows({
      {"init --bits 2048", 1, "", "Cannot read " + home_ + "/identity.json: it is not a regular file"},
      {"account list", 1, "", "cannot read " + home_ + "/accounts.json"},
      {"pool list", 1, "", "cannot read pool registry " + home_ + "/pools"},
  });
  for (const std::string& name : fifos)
    EXPECT_TRUE(std::filesystem::is_fifo(home_ + "/" + name)) << name;
}

}  // namespace
