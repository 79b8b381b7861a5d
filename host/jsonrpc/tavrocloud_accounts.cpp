#include "jsonrpc/tavrocloud_accounts.h"

#include "json/json_dump.h"
#include "json/json_load.h"
#include "runtime/host_home.h"
#include "runtime/shared_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

namespace tavrocloud_accounts {

const char* const QUERY_METHOD = "tavrocloud.query";

namespace {

// Serialises read-modify-write cycles of this process on the store; the lock file
// serialises them across processes.
std::mutex store_mutex;

std::string lock_path() { return accounts_path() + ".lock"; }

void set_error(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Replaces the store whole (see shared_file.h); called with the store locked.
bool write_store(const json_spirit::Object& accounts, std::string* error) {
  const std::string text = JSON_Dump(accounts, true) + "\n";
  return replace_file(accounts_path(), text.data(), text.size(), 0600, error);
}

bool load_locked(json_spirit::Object& accounts, std::string* error) {
  const std::string path = accounts_path();
  std::string text;
  const int rc = read_home_file(path, text);
  if (rc == 0) {
    accounts.clear();
    return true;
  }
  if (rc < 0) {
    set_error(error, "cannot read " + path);
    return false;
  }
  json_spirit::Value value;
  if (!JSON_Load(text, value) || value.type() != json_spirit::obj_type) {
    set_error(error, path + " is not a JSON object");
    return false;
  }
  accounts = value.get_obj();
  return true;
}

// Loads the store, applies `change` and writes it back, all under both locks.
template <typename Change>
bool modify_store(std::string* error, Change change) {
  std::lock_guard<std::mutex> lock(store_mutex);
  File_Lock file_lock(lock_path());
  if (!file_lock.locked()) {
    set_error(error, "cannot lock " + lock_path());
    return false;
  }
  json_spirit::Object accounts;
  if (!load_locked(accounts, error) || !change(accounts)) return false;
  return write_store(accounts, error);
}

}  // namespace

std::string accounts_path() { return host_home() + "/accounts.json"; }

bool load_accounts(json_spirit::Object& accounts, std::string* error) {
  std::lock_guard<std::mutex> lock(store_mutex);
  return load_locked(accounts, error);
}

bool store_account(const std::string& uuid, const json_spirit::Object& account,
                   std::string* error) {
  return modify_store(error, [&](json_spirit::Object& accounts) {
    accounts[uuid] = account;
    return true;
  });
}

bool remove_account(const std::string& uuid, std::string* error) {
  return modify_store(error, [&](json_spirit::Object& accounts) {
    if (accounts.erase(uuid) != 0) return true;
    set_error(error, "no such account");
    return false;
  });
}

bool query_method(const json_spirit::Value& params, json_spirit::Value& result,
                  JSON_RPC_Error& error) {
  const std::string* uuid = params.type() == json_spirit::obj_type
                                ? json_spirit::object_get_str(params.get_obj(), "uuid")
                                : nullptr;
  if (uuid == nullptr) {
    error.code = JSON_RPC_E_INVALID_PARAMS;
    error.message = "params must be an object with a string \"uuid\"";
    return false;
  }
  json_spirit::Object accounts;
  std::string why;
  if (!load_accounts(accounts, &why)) {
    error.code = JSON_RPC_E_INTERNAL_ERROR;
    error.message = why;
    return false;
  }
  auto it = accounts.find(*uuid);
  if (it == accounts.end()) {
    error.code = JSON_RPC_E_INVALID_PARAMS;
    error.message = "no such account: " + *uuid;
    return false;
  }
  if (it->second.type() != json_spirit::obj_type) {
    error.code = JSON_RPC_E_INTERNAL_ERROR;
    error.message = "stored account " + *uuid + " is not an object";
    return false;
  }
  result = it->second;
  return true;
}

}  // namespace tavrocloud_accounts
