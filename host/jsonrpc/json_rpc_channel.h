// The way back to the peer of a JSON-RPC exchange. The service owns each channel through
// a strong pointer and hands handlers a weak one, so a reply to a peer that has gone away
// is dropped instead of sent into freed memory. JSON_RPC_Reply_Channel keeps the replies
// for a caller in the same process (the runner, tests).
#ifndef HOST_JSONRPC_JSON_RPC_CHANNEL_H
#define HOST_JSONRPC_JSON_RPC_CHANNEL_H

#include <ace/Bound_Ptr.h>
#include <ace/Thread_Mutex.h>

#include <mutex>
#include <vector>

#include "jsonrpc/json_rpc_object.h"

class JSON_RPC_Channel {
 public:
  JSON_RPC_Channel();
  virtual ~JSON_RPC_Channel();
  JSON_RPC_Channel(const JSON_RPC_Channel&) = delete;
  JSON_RPC_Channel& operator=(const JSON_RPC_Channel&) = delete;

  // Sends `obj` to the peer: 0 when it was sent, -1 when it could not be.
  virtual int send(JSON_RPC_Object_ptr obj) = 0;

  // Sends an error reply {code, message, data} for the request `id`: the result of
  // send(), or -1 with errno ENOMEM when the reply cannot be made. Never throws.
  int send_error(int code, const json_spirit::Value& id, const char* message,
                 const json_spirit::Value& data);
};

typedef ACE_Strong_Bound_Ptr<JSON_RPC_Channel, ACE_Thread_Mutex> JSON_RPC_Channel_ptr;
typedef ACE_Weak_Bound_Ptr<JSON_RPC_Channel, ACE_Thread_Mutex> JSON_RPC_Channel_wptr;

class JSON_RPC_Reply_Channel : public JSON_RPC_Channel {
 public:
  // Keeps `obj` (a null one is refused with -1); 0.
  int send(JSON_RPC_Object_ptr obj) override;
  // Everything sent so far, in order.
  std::vector<JSON_RPC_Object_ptr> replies() const;

 private:
  mutable std::mutex mutex_;
  std::vector<JSON_RPC_Object_ptr> replies_;
};

#endif  // HOST_JSONRPC_JSON_RPC_CHANNEL_H
