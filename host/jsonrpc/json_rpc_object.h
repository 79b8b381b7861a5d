// The objects of a JSON-RPC 2.0 exchange as the host's service hands them to the module's
// console handlers and takes their replies back: requests and notifications (a method
// and its params), results bound to a request, and error replies. They travel between
// threads in reference-counted pointers (JSON_RPC_Object_ptr).
#ifndef HOST_JSONRPC_JSON_RPC_OBJECT_H
#define HOST_JSONRPC_JSON_RPC_OBJECT_H

#include <ace/Recursive_Thread_Mutex.h>
#include <ace/Refcounted_Auto_Ptr.h>

#include <string>

#include "json/value.h"
#include "jsonrpc/json_rpc.h"

class JSON_RPC_Object {
 public:
  JSON_RPC_Object(JSON_RPC_Type type, const json_spirit::Value& id);
  virtual ~JSON_RPC_Object();
  JSON_RPC_Object(const JSON_RPC_Object&) = delete;
  JSON_RPC_Object& operator=(const JSON_RPC_Object&) = delete;

  JSON_RPC_Type type() const { return type_; }
  // The id that pairs a request with its reply; null for a notification.
  const json_spirit::Value& id() const { return id_; }

  // The JSON-RPC 2.0 document of the object ({"jsonrpc": "2.0", ...}).
  virtual json_spirit::Object to_json() const = 0;

 private:
  const JSON_RPC_Type type_;
  const json_spirit::Value id_;
};

typedef ACE_Refcounted_Auto_Ptr<JSON_RPC_Object, ACE_Recursive_Thread_Mutex> JSON_RPC_Object_ptr;

// A call of `method`: a request (TYPE_REQUEST, answered) or a notification (TYPE_NOTIFY,
// never answered).
class JSON_RPC_Request_Base : public JSON_RPC_Object {
 public:
  const std::string& method() const { return method_; }
  json_spirit::Object to_json() const override;

  json_spirit::Value params;

 protected:
  JSON_RPC_Request_Base(JSON_RPC_Type type, const std::string& method,
                        const json_spirit::Value& params, const json_spirit::Value& id);

 private:
  const std::string method_;
};

class JSON_RPC_Request : public JSON_RPC_Request_Base {
 public:
  JSON_RPC_Request(const std::string& method, const json_spirit::Value& params,
                   const json_spirit::Value& id);
};

class JSON_RPC_Notify : public JSON_RPC_Request_Base {
 public:
  JSON_RPC_Notify(const std::string& method, const json_spirit::Value& params);
};

// The result of a request; it answers the request's id. `result` starts null.
class JSON_RPC_Response : public JSON_RPC_Object {
 public:
  explicit JSON_RPC_Response(const JSON_RPC_Request_Base* request);
  json_spirit::Object to_json() const override;

  json_spirit::Value result;
};

// An error reply: {"code", "message", "data"} under "error".
class JSON_RPC_Response_Error : public JSON_RPC_Object {
 public:
  JSON_RPC_Response_Error(int code, const json_spirit::Value& id, const std::string& message,
                          const json_spirit::Value& data);
  json_spirit::Object to_json() const override;

  const int code;
  const std::string message;
  const json_spirit::Value data;
};

#endif  // HOST_JSONRPC_JSON_RPC_OBJECT_H
