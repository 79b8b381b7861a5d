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

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

class Host_Home : public test::Temp_Home_Test {
 protected:
  Host_Home() : Temp_Home_Test("host_manager_test_") {}
  void TearDown() override {
    restore_root();
    test::Log_Capture quiet;  // the real home is usually absent here
    Host_Manager::instance().reload();
  }
  void write(const std::string& name, const std::string& text) {
    std::ofstream(dir() + "/" + name) << text;
  }
  mode_t mode_of(const std::string& name) {
    struct stat st {};
    ::stat((dir() + "/" + name).c_str(), &st);
    return st.st_mode & 0777;
  }
};

TEST_F(Host_Home, InitialisedHomeIsReadBack) {
  test::Log_Capture log;
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "backup-host-1", 2048));
  EXPECT_EQ(mode_of("keys/rsa_private.pem"), 0600u);
  EXPECT_EQ(mode_of("keys"), 0700u);

  Host_Manager& host = Host_Manager::instance();
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.name(), "backup-host-1");
  EXPECT_EQ(host.access_key().size(), 40u);
  EXPECT_NE(host.access_key(), host.node_access_key());
  EXPECT_FALSE(host.on_backupd());

  // The stored pair belongs together: what the public key locks, the private key opens.
  RSA_Encoder encoder("k", 1, host.rsa_pubkey().data(), host.rsa_pubkey().size(), true,
                      RSA_CODEC_OAEP_SHA256);
  ASSERT_TRUE(encoder);
  RSA_Decoder decoder(encoder.get(), encoder.length(), host.rsa_prvkey().data(),
                      host.rsa_prvkey().size(), true, RSA_CODEC_OAEP_SHA256);
  ASSERT_TRUE(decoder);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(decoder.get()), decoder.length()), "k");
  EXPECT_EQ(log.text().find("PRIVATE KEY"), std::string::npos);

  // A second initialisation keeps the existing identity and keys.
  const std::string access = host.access_key();
  const secure_string key = host.rsa_prvkey();
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "other-name", 2048));
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.name(), "backup-host-1");
  EXPECT_EQ(host.access_key(), access);
  EXPECT_EQ(host.rsa_prvkey(), key);
}

// The public key of the stored private key, or "" when it does not read.
std::string derived_public_key(const std::string& home) {
  std::ifstream in(home + "/keys/rsa_private.pem");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string pem;
  return derive_public_pem(secure_string(text.begin(), text.end()), pem) ? pem : "";
}

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Eight processes initialise one fresh home at once: all succeed and leave one identity
// and one matching key pair, readable by the owner only.
TEST_F(Host_Home, ConcurrentInitialisationsLeaveOneWholeIdentity) {
  std::vector<pid_t> children;
  for (int i = 0; i < 8; ++i) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(Host_Manager::initialise_home(dir(), "h" + std::to_string(i), 2048) ? 0 : 1);
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(read_text(dir() + "/keys/rsa_public.pem"), derived_public_key(dir()));
  EXPECT_NE(derived_public_key(dir()), "");
  for (const char* f : {"identity.json", "keys/rsa_private.pem", "keys/rsa_public.pem"})
    EXPECT_EQ(mode_of(f), 0600u) << f;
  EXPECT_EQ(mode_of("."), 0700u);
}

// A half-made or too open home (public key missing, files readable by others) is
// finished and closed by the next initialisation, which keeps the identity and key.
TEST_F(Host_Home, InitialisationFinishesAHalfMadeHome) {
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "h", 2048));
  const std::string identity = read_text(dir() + "/identity.json");
  const std::string public_key = read_text(dir() + "/keys/rsa_public.pem");
  ASSERT_EQ(::unlink((dir() + "/keys/rsa_public.pem").c_str()), 0);
  ASSERT_EQ(::chmod((dir() + "/identity.json").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir().c_str(), 0755), 0);
  ASSERT_TRUE(Host_Manager::initialise_home(dir(), "other", 2048));
  EXPECT_EQ(read_text(dir() + "/keys/rsa_public.pem"), public_key);
  EXPECT_EQ(read_text(dir() + "/identity.json"), identity);
  EXPECT_EQ(mode_of("identity.json"), 0600u);
  EXPECT_EQ(mode_of("."), 0700u);
}

TEST_F(Host_Home, IdentityFileFieldsAndBackupServer) {
  ::mkdir((dir() + "/keys").c_str(), 0700);
  write("keys/rsa_private.pem", "PEM");
  write("identity.json",
        "{\"name\": \"h\", \"access_key\": \"a\", \"node_access_key\": \"n\", \"on_backupd\": true,"
        " \"backupd\": {\"host\": \"10.1.1.1\", \"port\": 8443, \"ssl\": true}}");
  Host_Manager& host = Host_Manager::instance();
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.name(), "h");
  EXPECT_EQ(host.node_access_key(), "n");
  EXPECT_TRUE(host.on_backupd());
  EXPECT_EQ(host.rsa_prvkey(), "PEM");
  EXPECT_EQ(WebSocket_Options::instance().host(), "10.1.1.1");
  EXPECT_EQ(WebSocket_Options::instance().port(), 8443);
  EXPECT_TRUE(WebSocket_Options::instance().ssl());

  // An out-of-range port is no port at all, never a wrapped one.
  write("identity.json", "{\"backupd\": {\"host\": \"x\", \"port\": 70000}}");
  ASSERT_TRUE(host.reload());
  EXPECT_EQ(host.websocket_options().port(), 0);
  EXPECT_EQ(host.name(), "");
}

TEST_F(Host_Home, EmptyHomeLeavesEverythingEmpty) {
  test::Log_Capture log;
  Host_Manager& host = Host_Manager::instance();
  EXPECT_FALSE(host.reload());
  EXPECT_TRUE(host.rsa_prvkey().empty());
  EXPECT_TRUE(host.access_key().empty());
  EXPECT_EQ(host.websocket_options().host(), "");
  EXPECT_TRUE(log.contains("identity.json", LM_WARNING));
  write("identity.json", "[1, 2]");
  EXPECT_FALSE(host.reload());
}

}  // namespace
