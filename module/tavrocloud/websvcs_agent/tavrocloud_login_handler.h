// The console's check of a cloud account: the host's web-services agent hands this
// handler a JSON-RPC request whose params carry the account's connection settings (the
// security key RSA-encrypted with the host's key); it logs in to the cloud and answers
// with the cloud's version, or with a JSON-RPC error. Keeps nothing between requests.
#ifndef TAVROCLOUD_WEBSVCS_AGENT_TAVROCLOUD_LOGIN_HANDLER_H
#define TAVROCLOUD_WEBSVCS_AGENT_TAVROCLOUD_LOGIN_HANDLER_H

#include "jsonrpc/json_rpc_handler.h"

namespace tavrocloud {

class JSON_RPC_Tavrocloud_Login_Handler : public JSON_RPC_Thread_Handler {
 public:
  JSON_RPC_Tavrocloud_Login_Handler();
  ~JSON_RPC_Tavrocloud_Login_Handler() override;

  // Answers a request on `channel` and returns the result of that reply; -1 without a
  // reply when `obj` is not a request.
  int handle_object_i(JSON_RPC_Channel_ptr channel, JSON_RPC_Object_ptr obj) override;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_WEBSVCS_AGENT_TAVROCLOUD_LOGIN_HANDLER_H
