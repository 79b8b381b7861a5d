// The host's JSON-RPC service as the module sees it: a process-wide registry of named
// methods that any thread may call (`global_json_rpc`), the JSON-RPC object type codes
// and the standard error codes. The host registers its own methods (such as
// "tavrocloud.query") the first time the registry is used; tests replace a method to
// script its answers.
#ifndef HOST_JSONRPC_JSON_RPC_H
#define HOST_JSONRPC_JSON_RPC_H

#include "json/value.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

// Kinds of JSON-RPC objects.
enum JSON_RPC_Type {
  TYPE_NONE = 0,
  TYPE_NOTIFY = 1,
  TYPE_REQUEST = 2,
  TYPE_RESPONSE = 3,
  TYPE_RESPONSE_ERROR = 4
};

// Standard JSON-RPC 2.0 error codes.
enum {
  JSON_RPC_E_PARSE_ERROR = -32700,
  JSON_RPC_E_INVALID_REQUEST = -32600,
  JSON_RPC_E_METHOD_NOT_FOUND = -32601,
  JSON_RPC_E_INVALID_PARAMS = -32602,
  JSON_RPC_E_INTERNAL_ERROR = -32603
};

struct JSON_RPC_Error {
  int code = 0;
  std::string message;
};

class JSON_RPC_Registry {
 public:
  // A method: reads `params`, writes `result` and returns true; or fills `error` and
  // returns false. Runs on the caller's thread, possibly on several threads at once.
  using Method = std::function<bool(const json_spirit::Value& params, json_spirit::Value& result,
                                    JSON_RPC_Error& error)>;

  // The process-wide registry, holding the host's own methods.
  static JSON_RPC_Registry& instance();

  // Registers `method` under `name`, replacing any earlier one, and returns the earlier
  // one (empty when there was none). An empty `method` removes the name.
  Method register_method(const std::string& name, Method method);

  // True when a method of that name is registered.
  bool has_method(const std::string& name) const;

  // Calls the method `name`. Returns true and sets `result` when it succeeded; false
  // with `error` filled otherwise (JSON_RPC_E_METHOD_NOT_FOUND for an unknown name,
  // JSON_RPC_E_INTERNAL_ERROR when the method threw). `result` is untouched on false.
  bool call(const std::string& name, const json_spirit::Value& params, json_spirit::Value& result,
            JSON_RPC_Error& error) const;

  JSON_RPC_Registry() = default;
  JSON_RPC_Registry(const JSON_RPC_Registry&) = delete;
  JSON_RPC_Registry& operator=(const JSON_RPC_Registry&) = delete;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Method> methods_;
};

// Calls `method` of the process-wide registry with `params`:
//   id           the request id; -1 lets the service choose one (only logged);
//   result       where the result goes; may be null when the caller wants none;
//   result_type  the type the caller requires of the result; json_spirit::null_type
//                accepts any type. Another type fails the call (result untouched);
//   timeout      milliseconds the caller is willing to wait; -1 for no limit. The host's
//                methods run on the caller's thread and are not cut short.
// Returns true when the method succeeded and the result was written. A failure is
// logged at error priority with the method's name and the error text.
bool global_json_rpc(const char* method, const json_spirit::Value& params, int id,
                     json_spirit::Value* result, json_spirit::Value_type result_type, int timeout);

// Installs a method for its lifetime and puts the earlier one back afterwards (tests).
class JSON_RPC_Method_Guard {
 public:
  JSON_RPC_Method_Guard(const std::string& name, JSON_RPC_Registry::Method method);
  ~JSON_RPC_Method_Guard();
  JSON_RPC_Method_Guard(const JSON_RPC_Method_Guard&) = delete;
  JSON_RPC_Method_Guard& operator=(const JSON_RPC_Method_Guard&) = delete;

 private:
  std::string name_;
  JSON_RPC_Registry::Method previous_;
};

#endif  // HOST_JSONRPC_JSON_RPC_H
