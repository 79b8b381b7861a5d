// The console's browser of a registered cloud: the host's web-services agent hands this
// handler a JSON-RPC list request naming the account by uuid, the kind of listing (an
// inventory step or a search) and the object being expanded; it logs in, lets the
// inventory lister fill the items and answers with their array, or with a JSON-RPC error.
#ifndef TAVROCLOUD_WEBSVCS_AGENT_TAVROCLOUD_LIST_HANDLER_H
#define TAVROCLOUD_WEBSVCS_AGENT_TAVROCLOUD_LIST_HANDLER_H

#include "jsonrpc/json_rpc_handler.h"

namespace tavrocloud {

class JSON_RPC_Tavrocloud_List_Handler : public JSON_RPC_Thread_Handler {
 public:
  JSON_RPC_Tavrocloud_List_Handler();
  ~JSON_RPC_Tavrocloud_List_Handler() override;

  // Answers a request on `channel` and returns the result of that reply; -1 without a
  // reply when `obj` is not a request.
  int handle_object_i(JSON_RPC_Channel_ptr channel, JSON_RPC_Object_ptr obj) override;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_WEBSVCS_AGENT_TAVROCLOUD_LIST_HANDLER_H
