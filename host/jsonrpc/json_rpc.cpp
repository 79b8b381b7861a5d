#include "jsonrpc/json_rpc.h"

#include "jsonrpc/tavrocloud_accounts.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <utility>

namespace {

void register_host_methods(JSON_RPC_Registry& registry) {
  registry.register_method(tavrocloud_accounts::QUERY_METHOD, &tavrocloud_accounts::query_method);
}

}  // namespace

JSON_RPC_Registry& JSON_RPC_Registry::instance() {
  static JSON_RPC_Registry registry;
  static const bool registered = (register_host_methods(registry), true);
  (void)registered;
  return registry;
}

JSON_RPC_Registry::Method JSON_RPC_Registry::register_method(const std::string& name,
                                                             Method method) {
  std::lock_guard<std::mutex> lock(mutex_);
  Method previous;
  auto it = methods_.find(name);
  if (it != methods_.end()) {
    previous = std::move(it->second);
    methods_.erase(it);
  }
  if (method) methods_.emplace(name, std::move(method));
  return previous;
}

bool JSON_RPC_Registry::has_method(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return methods_.count(name) != 0;
}

bool JSON_RPC_Registry::call(const std::string& name, const json_spirit::Value& params,
                             json_spirit::Value& result, JSON_RPC_Error& error) const {
  Method method;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = methods_.find(name);
    if (it != methods_.end()) method = it->second;
  }
  if (!method) {
    error.code = JSON_RPC_E_METHOD_NOT_FOUND;
    error.message = "method not found: " + name;
    return false;
  }
  // The method runs outside the lock, so methods may call other methods and run in
  // parallel; it writes into a value of its own so a failure leaves `result` as it was.
  json_spirit::Value answer;
  try {
    if (!method(params, answer, error)) return false;
  } catch (const std::exception& e) {
    error.code = JSON_RPC_E_INTERNAL_ERROR;
    error.message = e.what();
    return false;
  } catch (...) {
    error.code = JSON_RPC_E_INTERNAL_ERROR;
    error.message = "unknown exception";
    return false;
  }
  result = std::move(answer);
  return true;
}

bool global_json_rpc(const char* method, const json_spirit::Value& params, int id,
                     json_spirit::Value* result, json_spirit::Value_type result_type,
                     int /*timeout: host methods run on the caller's thread*/) {
  const std::string name = method != nullptr ? method : "";
  json_spirit::Value answer;
  JSON_RPC_Error error;
  if (!JSON_RPC_Registry::instance().call(name, params, answer, error)) {
    ACE_ERROR((LM_ERROR, "JSON-RPC call %C (id %d) failed: %d %C\n", name.c_str(), id, error.code,
               error.message.c_str()));
    return false;
  }
  if (result_type != json_spirit::null_type && answer.type() != result_type) {
    ACE_ERROR((LM_ERROR, "JSON-RPC call %C (id %d) answered type %d, not %d.\n", name.c_str(), id,
               static_cast<int>(answer.type()), static_cast<int>(result_type)));
    return false;
  }
  if (result != nullptr) *result = std::move(answer);
  return true;
}

JSON_RPC_Method_Guard::JSON_RPC_Method_Guard(const std::string& name,
                                             JSON_RPC_Registry::Method method)
    : name_(name),
      previous_(JSON_RPC_Registry::instance().register_method(name, std::move(method))) {}

JSON_RPC_Method_Guard::~JSON_RPC_Method_Guard() {
  JSON_RPC_Registry::instance().register_method(name_, std::move(previous_));
}
