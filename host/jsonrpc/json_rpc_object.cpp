#include "jsonrpc/json_rpc_object.h"

namespace {

json_spirit::Object envelope(const json_spirit::Value& id) {
  json_spirit::Object doc;
  doc["jsonrpc"] = "2.0";
  doc["id"] = id;
  return doc;
}

}  // namespace

JSON_RPC_Object::JSON_RPC_Object(JSON_RPC_Type type, const json_spirit::Value& id)
    : type_(type), id_(id) {}

JSON_RPC_Object::~JSON_RPC_Object() {}

JSON_RPC_Request_Base::JSON_RPC_Request_Base(JSON_RPC_Type type, const std::string& method,
                                             const json_spirit::Value& params,
                                             const json_spirit::Value& id)
    : JSON_RPC_Object(type, id), params(params), method_(method) {}

json_spirit::Object JSON_RPC_Request_Base::to_json() const {
  json_spirit::Object doc = envelope(id());
  if (type() == TYPE_NOTIFY) doc.erase("id");
  doc["method"] = method_;
  doc["params"] = params;
  return doc;
}

JSON_RPC_Request::JSON_RPC_Request(const std::string& method, const json_spirit::Value& params,
                                   const json_spirit::Value& id)
    : JSON_RPC_Request_Base(TYPE_REQUEST, method, params, id) {}

JSON_RPC_Notify::JSON_RPC_Notify(const std::string& method, const json_spirit::Value& params)
    : JSON_RPC_Request_Base(TYPE_NOTIFY, method, params, json_spirit::Value()) {}

JSON_RPC_Response::JSON_RPC_Response(const JSON_RPC_Request_Base* request)
    : JSON_RPC_Object(TYPE_RESPONSE, request != nullptr ? request->id() : json_spirit::Value()) {}

json_spirit::Object JSON_RPC_Response::to_json() const {
  json_spirit::Object doc = envelope(id());
  doc["result"] = result;
  return doc;
}

JSON_RPC_Response_Error::JSON_RPC_Response_Error(int code, const json_spirit::Value& id,
                                                 const std::string& message,
                                                 const json_spirit::Value& data)
    : JSON_RPC_Object(TYPE_RESPONSE_ERROR, id), code(code), message(message), data(data) {}

json_spirit::Object JSON_RPC_Response_Error::to_json() const {
  json_spirit::Object error;
  error["code"] = code;
  error["message"] = message;
  error["data"] = data;
  json_spirit::Object doc = envelope(id());
  doc["error"] = std::move(error);
  return doc;
}
