// Fuzz target: one JSON text handed as the params of a request to the console's login
// handler and to its list handler, as the web-services agent would. No cloud answers:
// every address is turned into a loopback port that refuses connections, so a run
// exercises the params' reading, the key's decryption, the account look-up and the
// failure replies without the network. A security key "@" followed by text is
// encrypted with the host's key first, so inputs can reach past the decryption.
#include "fuzz_support.h"
#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "json/json_load.h"
#include "json/value.h"
#include "jsonrpc/json_rpc_handler.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "tavrocloud/websvcs_agent/tavrocloud_list_handler.h"
#include "tavrocloud/websvcs_agent/tavrocloud_login_handler.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

namespace js = json_spirit;

int refused_port = 1;

// A loopback port nobody listens on: bound once to learn a free number, then closed.
int closed_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 1;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

std::string encrypt(const std::string& plain) {
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  return RSA_Encoder(plain.data(), plain.size(), pub.data(), pub.size(), true,
                     RSA_CODEC_OAEP_SHA256)
      .str();
}

// Keeps the params as they are except where they would reach the network.
void confine(js::Value& params) {
  if (params.type() != js::obj_type) return;
  js::Object& obj = params.get_obj();
  if (obj.count("host") != 0) obj["host"] = "127.0.0.1";
  if (obj.count("port") != 0 && obj["port"].type() == js::int_type) obj["port"] = refused_port;
  auto key = obj.find("security_key");
  if (key != obj.end() && key->second.type() == js::str_type && !key->second.get_str().empty() &&
      key->second.get_str()[0] == '@')
    key->second = encrypt(key->second.get_str().substr(1));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_log();
  char home[] = "/tmp/fuzz-console-XXXXXX";
  if (::mkdtemp(home) == nullptr || ::setenv("QUILLON3_ROOT", home, 1) != 0 ||
      !Host_Manager::initialise_home(home, "fuzz-host", 2048) || !Host_Manager::instance().reload()) {
    std::fprintf(stderr, "fuzz_console_params: no host home\n");
    std::abort();
  }
  refused_port = closed_port();
  // The account the list handler finds by the uuid "fuzz".
  js::Object account{{"host", js::Value("127.0.0.1")}, {"port", js::Value(refused_port)},
                     {"ssl", js::Value(false)},        {"locale", js::Value("")},
                     {"access_key", js::Value("AKIDFUZZ")},
                     {"security_key", js::Value(encrypt("fuzz-secret"))}};
  std::string error;
  if (!tavrocloud_accounts::store_account("fuzz", account, &error)) {
    std::fprintf(stderr, "fuzz_console_params: %s\n", error.c_str());
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  js::Value params;
  if (!JSON_Load(reinterpret_cast<const char*>(data), size, params)) return 0;
  confine(params);
  tavrocloud::JSON_RPC_Tavrocloud_Login_Handler login;
  tavrocloud::JSON_RPC_Tavrocloud_List_Handler list;
  js::Object reply;
  json_rpc_exchange(login, "tavrocloud.login", params, reply);
  reply.clear();
  json_rpc_exchange(list, "tavrocloud.list", params, reply);
  return 0;
}
