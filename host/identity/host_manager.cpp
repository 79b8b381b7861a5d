#include "identity/host_manager.h"

#include "identity/rsa_codec.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "runtime/host_home.h"
#include "runtime/shared_file.h"
#include "yolt/home_file.h"

#include <ace/Log_Msg.h>
#include <openssl/rand.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char IDENTITY_FILE[] = "identity.json";
const char PRIVATE_KEY_FILE[] = "keys/rsa_private.pem";
const char PUBLIC_KEY_FILE[] = "keys/rsa_public.pem";
// Everything in the home is the host's alone: its access keys, its private key, the
// records of its backups.
constexpr mode_t HOME_MODE = 0700;
constexpr mode_t FILE_MODE = 0600;

// Makes the home with `mode`, or brings an existing one to `mode`. The home itself may be
// reached through a link; nothing below it is.
bool make_private_home(const std::string& home, mode_t mode) {
  if (::mkdir(home.c_str(), mode) != 0 && errno != EEXIST) return false;
  return ::chmod(home.c_str(), mode) == 0;
}

// Makes the folder `name` of `home` with `mode`, or brings an existing one to `mode`;
// false (nothing changed) when a link or anything but a folder is in its place.
bool make_private_folder(const std::string& home, const char* name, mode_t mode) {
  const int fd = yolt::open_folder_below(home, name, true, mode);
  if (fd < 0) return false;
  const bool ok = ::fchmod(fd, mode) == 0;
  yolt::close_keeping_errno(fd);
  return ok;
}

// Brings the regular file `name` of `home` to `mode` (files of older homes were readable
// by others); true when it is missing too, false (nothing changed) for a link or anything
// but a regular file.
bool restrict_file(const std::string& home, const char* name, mode_t mode) {
  const int fd = yolt::open_regular(home, home + "/" + name, O_RDONLY, 0);
  if (fd < 0) return errno == ENOENT;
  const bool ok = ::fchmod(fd, mode) == 0;
  yolt::close_keeping_errno(fd);
  return ok;
}

// Logs why the home file `path` that is there could not be read (read_home_file's -1):
// a link or anything but a regular file in its place (a FIFO would block its reader) is
// named as such rather than by its errno.
void log_unreadable(const std::string& path) {
  const int error = errno;
  const char* why = error == ELOOP    ? "it is a symbolic link"
                    : error == EINVAL ? "it is not a regular file"
                                      : std::strerror(error);
  ACE_ERROR((LM_ERROR, "Cannot read %C: %C.\n", path.c_str(), why));
}

// Writes the public half `public_pem` unless the stored one is exactly it: a missing half
// (an interrupted run) or one of another key (a copied or half-restored home, which would
// have secrets encrypted for a key this host cannot decrypt with) is replaced.
bool keep_public_half(const std::string& path, const std::string& public_pem) {
  std::string stored;
  const int rc = read_home_file(path, stored);
  if (rc < 0) return false;
  return (rc == 1 && stored == public_pem) ||
         replace_file(path, public_pem.data(), public_pem.size(), FILE_MODE);
}

std::string random_hex(size_t bytes) {
  static const char HEX[] = "0123456789abcdef";
  std::string raw(bytes, '\0');
  if (RAND_bytes(reinterpret_cast<unsigned char*>(&raw[0]), static_cast<int>(bytes)) != 1)
    return std::string();
  std::string out;
  for (unsigned char c : raw) {
    out += HEX[c >> 4];
    out += HEX[c & 0x0f];
  }
  return out;
}

}  // namespace

Host_Manager& Host_Manager::instance() {
  static Host_Manager manager;
  return manager;
}

Host_Manager::Host_Manager() { reload(); }

bool Host_Manager::reload() {
  const std::string home = host_home();
  name_.clear();
  access_key_.clear();
  node_access_key_.clear();
  on_backupd_ = false;
  websocket_options_ = WebSocket_Options();
  rsa_prvkey_.clear();
  rsa_pubkey_.clear();

  bool identity_read = false;
  std::string text;
  json_spirit::Value identity;
  if (read_home_file(home + "/" + IDENTITY_FILE, text) == 1 && JSON_Load(text, identity) &&
      identity.type() == json_spirit::obj_type) {
    const json_spirit::Object& obj = identity.get_obj();
    json_spirit::object_get(obj, "name", name_);
    json_spirit::object_get(obj, "access_key", access_key_);
    json_spirit::object_get(obj, "node_access_key", node_access_key_);
    json_spirit::object_get(obj, "on_backupd", on_backupd_);
    json_spirit::Object backupd;
    if (json_spirit::object_get(obj, "backupd", backupd)) {
      std::string host;
      int port = 0;
      bool ssl = false;
      json_spirit::object_get(backupd, "host", host);
      json_spirit::object_get(backupd, "port", port);
      json_spirit::object_get(backupd, "ssl", ssl);
      if (port < 0 || port > 65535) port = 0;
      websocket_options_ = WebSocket_Options(host, static_cast<uint16_t>(port), ssl);
    }
    identity_read = true;
  } else {
    ACE_ERROR((LM_WARNING, "Host identity %C/%C is missing or not a JSON object.\n", home.c_str(),
               IDENTITY_FILE));
  }
  const bool key_read = read_home_file(home + "/" + PRIVATE_KEY_FILE, rsa_prvkey_) == 1;
  if (!key_read) {
    rsa_prvkey_.clear();
    ACE_ERROR(
        (LM_WARNING, "Host private key %C/%C cannot be read.\n", home.c_str(), PRIVATE_KEY_FILE));
  }
  if (read_home_file(home + "/" + PUBLIC_KEY_FILE, rsa_pubkey_) != 1) rsa_pubkey_.clear();
  return identity_read && key_read;
}

bool Host_Manager::initialise_home(const std::string& home, const std::string& name, int bits) {
  if (!make_private_home(home, HOME_MODE) || !make_private_folder(home, "keys", HOME_MODE))
    return false;
  // One initialisation at a time, across processes: each step below checks what exists
  // and makes only what is missing, so a later run finishes what an earlier one left.
  File_Lock lock(home + "/keys/init.lock");
  if (!lock.locked()) return false;
  const std::string identity_path = home + "/" + IDENTITY_FILE;
  std::string identity_text;
  const int identity_rc = read_home_file(identity_path, identity_text);
  if (identity_rc < 0) {  // a link or no regular file: kept as it is
    log_unreadable(identity_path);
    return false;
  }
  if (identity_rc == 0) {
    json_spirit::Object identity;
    identity["name"] = name;
    identity["access_key"] = random_hex(20);
    identity["node_access_key"] = random_hex(20);
    identity["on_backupd"] = false;
    const std::string text = JSON_Dump(identity, true) + "\n";
    if (!replace_file(identity_path, text.data(), text.size(), FILE_MODE)) return false;
  }
  const std::string private_path = home + "/" + PRIVATE_KEY_FILE;
  const std::string public_path = home + "/" + PUBLIC_KEY_FILE;
  secure_string private_pem;
  std::string public_pem;
  // There but unreadable (or a link): kept for its owner to look at; an empty one holds
  // nothing.
  const int private_rc = read_home_file(private_path, private_pem);
  if (private_rc < 0) {
    log_unreadable(private_path);
    return false;
  }
  if (private_rc == 1 && !private_pem.empty()) {
    if (!derive_public_pem(private_pem, public_pem) || !keep_public_half(public_path, public_pem))
      return false;
  } else {
    if (!generate_rsa_key_pair(bits, private_pem, public_pem)) return false;
    // The public half first: a private key alone is repaired above, never the reverse.
    if (!replace_file(public_path, public_pem.data(), public_pem.size(), FILE_MODE) ||
        !replace_file(private_path, private_pem.data(), private_pem.size(), FILE_MODE))
      return false;
  }
  return restrict_file(home, IDENTITY_FILE, FILE_MODE) &&
         restrict_file(home, PRIVATE_KEY_FILE, FILE_MODE) &&
         restrict_file(home, PUBLIC_KEY_FILE, FILE_MODE);
}

const WebSocket_Options& WebSocket_Options::instance() {
  return Host_Manager::instance().websocket_options();
}
