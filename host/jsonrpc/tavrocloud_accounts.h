// The registered cloud accounts of this host and the JSON-RPC method "tavrocloud.query"
// that hands one out by its uuid. The runner registers accounts here; the module loads
// them through global_json_rpc("tavrocloud.query", {"uuid": ...}).
//
// Store: <host home>/accounts.json, one JSON object whose members are keyed by the
// cloud's uuid; each member is the account object as the module reads it:
//   {"<uuid>": {"host": "10.0.0.5", "port": 8773, "ssl": false, "locale": "region-1",
//               "access_key": "AK...", "security_key": "<base64 RSA-OAEP ciphertext>"}}
// The security key is encrypted with the host's public key (identity/rsa_codec.h). The
// store is shared by every runner process: each change is made under a lock held across
// processes (accounts.json.lock), and the file is replaced whole (a new file of its own
// beside it, synced, renamed) with mode 0600, so no change is lost and no reader sees a
// half-written store.
#ifndef HOST_JSONRPC_TAVROCLOUD_ACCOUNTS_H
#define HOST_JSONRPC_TAVROCLOUD_ACCOUNTS_H

#include "json/value.h"
#include "jsonrpc/json_rpc.h"

#include <string>

namespace tavrocloud_accounts {

// "<host home>/accounts.json".
std::string accounts_path();

// Reads every stored account into `accounts` (keyed by uuid). A missing file gives an
// empty object and true; an unreadable file or one that is not a JSON object gives false.
bool load_accounts(json_spirit::Object& accounts, std::string* error = nullptr);

// Stores `account` under `uuid`, replacing an earlier one. False when the store cannot be
// read or written.
bool store_account(const std::string& uuid, const json_spirit::Object& account,
                   std::string* error = nullptr);

// Removes the account `uuid`; true when it existed and the store was written.
bool remove_account(const std::string& uuid, std::string* error = nullptr);

// The method "tavrocloud.query": params {"uuid": "<uuid>"}; result: the stored account
// object of that uuid, as stored. Errors: JSON_RPC_E_INVALID_PARAMS when params is no
// object with a string "uuid" or the uuid is not registered ("no such account");
// JSON_RPC_E_INTERNAL_ERROR when the store cannot be read or the stored member is not
// an object.
bool query_method(const json_spirit::Value& params, json_spirit::Value& result,
                  JSON_RPC_Error& error);

// The method's name, "tavrocloud.query".
extern const char* const QUERY_METHOD;

}  // namespace tavrocloud_accounts

#endif  // HOST_JSONRPC_TAVROCLOUD_ACCOUNTS_H
