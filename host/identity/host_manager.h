// This host's identity and keys: its name, its access keys, whether it runs the backup
// daemon, the backup server's endpoint and its RSA key pair (which protects the stored
// cloud keys). Read from the host home (host_home()) on first use; the module asks it
// for the private key when it decrypts an account and for the access key of the
// catalog and pool connections.
//
// Files under the host home:
//   identity.json  {"name": "<host name>", "access_key": "...", "node_access_key": "...",
//                   "on_backupd": false,
//                   "backupd": {"host": "127.0.0.1", "port": 8443, "ssl": true}}
//                  every member optional (missing: empty / false / 0).
//   keys/rsa_private.pem  the RSA private key, PEM (PKCS#8 or PKCS#1), mode 0600
//   keys/rsa_public.pem   its public key, PEM (SubjectPublicKeyInfo)
#ifndef HOST_IDENTITY_HOST_MANAGER_H
#define HOST_IDENTITY_HOST_MANAGER_H

#include "identity/websocket_options.h"
#include "yolt/secure_string.h"

#include <string>

class Host_Manager {
 public:
  // The process-wide identity, loaded from the current host home on the first call.
  // Missing or unreadable files leave the fields empty (and are logged at warning level
  // once); callers then fail where they need a value.
  static Host_Manager& instance();

  // Reads the files of the current host home again. Not safe while other threads use
  // the identity: for start-up and tests only. Returns true when identity.json and the
  // private key were both read.
  bool reload();

  // Creates a fresh identity in `home` where none exists: identity.json with `name` and
  // random access keys, and a new RSA key pair of `bits` bits. Existing files are kept;
  // a missing public key is derived from the private one. Safe when several processes
  // run it at once (they take turns). The home and its keys folder get mode 0700, the
  // files 0600. Returns false when a file could not be read, derived or written.
  static bool initialise_home(const std::string& home, const std::string& name, int bits = 3072);

  const std::string& name() const { return name_; }
  const std::string& access_key() const { return access_key_; }
  const std::string& node_access_key() const { return node_access_key_; }
  // True on the host that runs the backup daemon.
  bool on_backupd() const { return on_backupd_; }
  const WebSocket_Options& websocket_options() const { return websocket_options_; }
  // The private key's PEM text; empty when none could be read.
  const secure_string& rsa_prvkey() const { return rsa_prvkey_; }
  // The public key's PEM text; empty when none could be read.
  const std::string& rsa_pubkey() const { return rsa_pubkey_; }

  Host_Manager(const Host_Manager&) = delete;
  Host_Manager& operator=(const Host_Manager&) = delete;

 private:
  Host_Manager();

  std::string name_;
  std::string access_key_;
  std::string node_access_key_;
  bool on_backupd_ = false;
  WebSocket_Options websocket_options_;
  secure_string rsa_prvkey_;
  std::string rsa_pubkey_;
};

#endif  // HOST_IDENTITY_HOST_MANAGER_H
