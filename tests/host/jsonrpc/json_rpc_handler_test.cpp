#include "jsonrpc/json_rpc_handler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

// Sends every object back, after a pause; throws for a method "throw".
template <typename Base>
class Echo_Handler : public Base {
 public:
  int handle_object_i(JSON_RPC_Channel_ptr channel, JSON_RPC_Object_ptr obj) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ++calls;
    const std::string& method = static_cast<JSON_RPC_Request*>(obj.get())->method();
    if (method == "throw") throw std::runtime_error("handler failed");
    return channel->send(obj);
  }
  std::atomic<int> calls{0};
};

JSON_RPC_Object_ptr request(const char* method) {
  return JSON_RPC_Object_ptr(
      new JSON_RPC_Request(method, json_spirit::Value(1), json_spirit::Value(2)));
}

// Every object handed over ends, also when its body throws, and fini() returns only
// after it did; a peer that went away before its request ran gets nothing, and the
// handler is not run.
TEST(JSON_RPC_Thread_Handler, EveryObjectEndsBeforeFini) {
  const JSON_RPC_Channel_ptr owner(new JSON_RPC_Reply_Channel);
  JSON_RPC_Channel_wptr gone = JSON_RPC_Channel_ptr(new JSON_RPC_Reply_Channel);
  Echo_Handler<JSON_RPC_Thread_Handler> threaded;
  EXPECT_EQ(0, threaded.handle(owner, request("echo")));
  EXPECT_EQ(0, threaded.handle(owner, request("throw")));
  EXPECT_EQ(0, threaded.handle(gone, request("echo")));
  EXPECT_EQ(0, threaded.fini());
  EXPECT_EQ(2, threaded.calls);

  Echo_Handler<JSON_RPC_Handler> plain;
  EXPECT_THROW(plain.handle(owner, request("throw")), std::runtime_error);
  EXPECT_EQ(0, plain.fini());
}

}  // namespace
