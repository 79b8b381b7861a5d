#include "jsonrpc/json_rpc_handler.h"

#include <gtest/gtest.h>

#include <atomic>

#include "json/json_dump.h"

namespace {

// Answers every request with its params; a request without params with an error.
class Echo_Handler : public JSON_RPC_Thread_Handler {
 public:
  int handle_object_i(JSON_RPC_Channel_ptr channel, JSON_RPC_Object_ptr obj) override {
    ++calls;
    const auto* request = static_cast<const JSON_RPC_Request_Base*>(obj.get());
    if (request->params.is_null())
      return channel->send_error(JSON_RPC_E_INVALID_PARAMS, request->id(), "Invalid params",
                                 json_spirit::Value::null);
    JSON_RPC_Response* response = new JSON_RPC_Response(request);
    JSON_RPC_Object_ptr reply(response);
    response->result = request->params;
    return channel->send(reply);
  }
  std::atomic<int> calls{0};
};

TEST(JSON_RPC_Thread_Handler, RepliesOnItsOwnThreadAndWaitSeesItDone) {
  Echo_Handler handler;
  json_spirit::Object reply;
  ASSERT_TRUE(json_rpc_exchange(handler, "echo", json_spirit::Value(5), reply));
  EXPECT_EQ(R"({"id":1,"jsonrpc":"2.0","result":5})", JSON_Dump(reply));
  ASSERT_TRUE(json_rpc_exchange(handler, "echo", json_spirit::Value(), reply));
  EXPECT_EQ(R"({"error":{"code":-32602,"data":null,"message":"Invalid params"},"id":1,)"
            R"("jsonrpc":"2.0"})",
            JSON_Dump(reply));
}

// A peer that went away before its request ran gets nothing, and the handler is not run.
TEST(JSON_RPC_Thread_Handler, ChannelGoneMeansNoWork) {
  Echo_Handler handler;
  JSON_RPC_Channel_wptr weak;
  {
    const JSON_RPC_Channel_ptr owner(new JSON_RPC_Reply_Channel);
    weak = owner;
  }
  EXPECT_EQ(0, handler.handle(weak, JSON_RPC_Object_ptr(new JSON_RPC_Request(
                                         "echo", json_spirit::Value(1), json_spirit::Value(2)))));
  handler.wait();
  EXPECT_EQ(0, handler.calls);
}

}  // namespace
