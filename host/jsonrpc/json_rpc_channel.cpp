#include "jsonrpc/json_rpc_channel.h"

#include <cerrno>
#include <new>

JSON_RPC_Channel::JSON_RPC_Channel() {}

JSON_RPC_Channel::~JSON_RPC_Channel() {}

int JSON_RPC_Channel::send_error(int code, const json_spirit::Value& id, const char* message,
                                 const json_spirit::Value& data) {
  try {
    JSON_RPC_Object_ptr reply(
        new JSON_RPC_Response_Error(code, id, message != nullptr ? message : "", data));
    return send(reply);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return -1;
  }
}

int JSON_RPC_Reply_Channel::send(JSON_RPC_Object_ptr obj) {
  if (obj.get() == nullptr) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.push_back(obj);
  return 0;
}

std::vector<JSON_RPC_Object_ptr> JSON_RPC_Reply_Channel::replies() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return replies_;
}
