#include "jsonrpc/json_rpc_handler.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

// Sends every object back.
class Echo_Handler : public JSON_RPC_Thread_Handler {
 public:
  int handle_object_i(JSON_RPC_Channel_ptr channel, JSON_RPC_Object_ptr obj) override {
    ++calls;
    return channel->send(obj);
  }
  std::atomic<int> calls{0};
};

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
