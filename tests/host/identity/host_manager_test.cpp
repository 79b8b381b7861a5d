// The host identity as read from a host home: a fresh home made by initialise_home, a
// hand-written identity, and a home with nothing in it.
#include "identity/host_manager.h"

#include "identity/rsa_codec.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class Host_Home : public test::Temp_Home_Test {
 protected:
  Host_Home() : Temp_Home_Test("host_manager_test_") {}
  std::string read(const std::string& name) {
    std::ifstream in(dir() + "/" + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir() + "/" + name) << text;
  }
  // The modes of the home and its files, which must all be the owner's alone.
  std::string modes() {
    std::string out;
    for (const char* f :
         {".", "keys", "identity.json", "keys/rsa_private.pem", "keys/rsa_public.pem"}) {
      struct stat st {};
      ::stat((dir() + "/" + f).c_str(), &st);
      out += std::to_string(st.st_mode & 0777) + " ";
    }
    return out;
  }
  const std::string OWNERS = "448 448 384 384 384 ";  // 0700 0700 0600 0600 0600
  // True when the stored public key is the one of the stored private key.
  bool keys_match() {
    const std::string private_pem = read("keys/rsa_private.pem");
    std::string derived;
    return derive_public_pem(secure_string(private_pem.begin(), private_pem.end()), derived) &&
           derived == read("keys/rsa_public.pem");
  }
};

// What the public key locks, the private key opens; the private key never reaches the
// log. A second initialisation keeps the identity and keys, finishing a half-made or
// too open home (public key gone or another key's, files readable by others, an empty
// private key).
TEST_F(Host_Home, InitialisedHomeIsReadBackAndKept) {
  test::Log_Capture log;
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "backup-host-1", 2048));
  EXPECT_EQ(modes(), OWNERS);
  Host_Manager& host = Host_Manager::instance();
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.name(), "backup-host-1");
  EXPECT_NE(host.access_key(), host.node_access_key());
  EXPECT_TRUE(keys_match());
  EXPECT_EQ(host.rsa_pubkey(), read("keys/rsa_public.pem"));
  EXPECT_EQ(log.text().find("PRIVATE KEY"), std::string::npos);
  const std::string identity = read("identity.json"), public_key = read("keys/rsa_public.pem");
  const secure_string key = host.rsa_prvkey();
  ASSERT_EQ(::unlink((dir() + "/keys/rsa_public.pem").c_str()), 0);
  ASSERT_EQ(::chmod((dir() + "/identity.json").c_str(), 0644) | ::chmod(dir().c_str(), 0755), 0);
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "other-name", 2048));
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.name(), "backup-host-1");
  EXPECT_TRUE(read("identity.json") == identity && read("keys/rsa_public.pem") == public_key);
  EXPECT_TRUE(host.rsa_prvkey() == key);
  EXPECT_EQ(modes(), OWNERS);
  // A public key of another pair (a copied or half-restored home) would have account
  // secrets encrypted for a key this host cannot decrypt with: it is replaced too.
  secure_string other_private;
  std::string other_public;
  ASSERT_TRUE(generate_rsa_key_pair(2048, other_private, other_public));
  write("keys/rsa_public.pem", other_public);
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "backup-host-1", 2048));
  EXPECT_EQ(read("keys/rsa_public.pem"), public_key);
  // A private key that is there but cannot be read (a directory: the tests may run as
  // root) is never replaced by a new pair, which could not open what the old one locked.
  const std::string private_path = dir() + "/keys/rsa_private.pem";
  ASSERT_EQ(::unlink(private_path.c_str()) | ::mkdir(private_path.c_str(), 0700), 0);
  EXPECT_FALSE(Host_Manager::initialise_home(dir(), "backup-host-1", 2048));
  EXPECT_EQ(read("keys/rsa_public.pem"), public_key);
  // An empty one (an initialisation interrupted while writing it) holds no key: a new
  // pair takes its place, so that init does not fail for ever.
  ASSERT_EQ(::rmdir(private_path.c_str()), 0);
  write("keys/rsa_private.pem", "");
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "backup-host-1", 2048));
  ASSERT_TRUE(host.reload());
  EXPECT_TRUE(keys_match() && !host.rsa_prvkey().empty());
  EXPECT_NE(read("keys/rsa_public.pem"), public_key);
  EXPECT_EQ(modes(), OWNERS);
}

// Eight processes initialise one fresh home at once: all succeed and leave one identity
// and one matching key pair, readable by the owner only.
TEST_F(Host_Home, ConcurrentInitialisationsLeaveOneWholeIdentity) {
  std::vector<pid_t> children;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "h" + std::to_string(i);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(Host_Manager::initialise_home(dir(), name, 2048) ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_TRUE(keys_match());
  EXPECT_EQ(modes(), OWNERS);
}

// A hand-written identity with its backup server; an out-of-range port is no port at
// all, never a wrapped one; an empty or unreadable home leaves everything empty.
TEST_F(Host_Home, IdentityFileFieldsAndBackupServer) {
  test::Log_Capture log;
  Host_Manager& host = Host_Manager::instance();
  EXPECT_FALSE(host.reload());
  EXPECT_TRUE(host.rsa_prvkey().empty() && host.access_key().empty());
  EXPECT_TRUE(host.websocket_options().host().empty());
  EXPECT_TRUE(log.contains("identity.json", LM_WARNING));
  ::mkdir((dir() + "/keys").c_str(), 0700);
  write("keys/rsa_private.pem", "PEM");
  write("identity.json",
        "{\"name\": \"h\", \"access_key\": \"a\", \"node_access_key\": \"n\", \"on_backupd\": true,"
        " \"backupd\": {\"host\": \"10.1.1.1\", \"port\": 8443, \"ssl\": true}}");
  ASSERT_TRUE(host.reload());
  const WebSocket_Options& ws = WebSocket_Options::instance();
  EXPECT_EQ(host.name() + host.node_access_key() + host.rsa_prvkey().c_str(), "hnPEM");
  EXPECT_EQ(ws.host() + ":" + std::to_string(ws.port()), "10.1.1.1:8443");
  EXPECT_TRUE(ws.ssl() && host.on_backupd());
  write("identity.json", "{\"backupd\": {\"host\": \"x\", \"port\": 70000}}");
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.websocket_options().port(), 0);
  EXPECT_EQ(host.name(), "");
  write("identity.json", "[1, 2]");
  EXPECT_FALSE(host.reload());
}

}  // namespace
