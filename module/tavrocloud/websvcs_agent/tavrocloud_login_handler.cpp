#include "tavrocloud/websvcs_agent/tavrocloud_login_handler.h"

#include <cerrno>
#include <new>

#include "json_spirit/assign.h"
#include "tavrocloud/common/tavrocloud_login.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/common/utils.h"
#include "yolt/check.h"

namespace tavrocloud {

namespace {

// Logs in with the account in the request's params (an object) and answers on `channel`;
// the result of the reply.
int login(JSON_RPC_Channel* channel, JSON_RPC_Request* request) {
  const json_spirit::Value& id = request->id();
  const json_spirit::Value& none = json_spirit::Value::null;
  Login account;
  RESTful_Client client;
  if (!(account << request->params.get_obj()) || !decrypt_security_key(account.security_key))
    return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id,
                               "Failed to parse or decrypt security key", none);
  // A cloud that did not tell its version did not really take the login: the version
  // query is the login's only request, so an empty version means it failed.
  if (!client.login(account) || client.version().empty())
    return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Failed to login", none);

  JSON_RPC_Response* const response = new (std::nothrow) JSON_RPC_Response(request);
  if (response == nullptr) {
    errno = ENOMEM;
    return channel->send_error(JSON_RPC_E_INTERNAL_ERROR, id, "Internal error, out of memory.",
                               none);
  }
  JSON_RPC_Object_ptr reply(response);
  json_spirit::Object result;
  json_spirit::insert(result)("code", 0)("message", "Success to login")("version",
                                                                         client.version());
  response->result = std::move(result);
  return channel->send(reply);
}

}  // namespace

JSON_RPC_Tavrocloud_Login_Handler::JSON_RPC_Tavrocloud_Login_Handler() {}

JSON_RPC_Tavrocloud_Login_Handler::~JSON_RPC_Tavrocloud_Login_Handler() {}

int JSON_RPC_Tavrocloud_Login_Handler::handle_object_i(JSON_RPC_Channel_ptr channel,
                                                       JSON_RPC_Object_ptr obj) {
  YOLT_CHECK_NULL(obj.get(), -1);
  YOLT_CHECK_JSON_RPC_REQUEST(obj, -1);
  JSON_RPC_Request* const request = static_cast<JSON_RPC_Request*>(obj.get());
  if (request->params.type() != json_spirit::obj_type)
    return channel->send_error(JSON_RPC_E_INVALID_PARAMS, request->id(), "Invalid params",
                               json_spirit::Value::null);
  return login(channel.get(), request);
}

}  // namespace tavrocloud
