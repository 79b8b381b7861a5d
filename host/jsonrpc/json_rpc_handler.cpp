#include "jsonrpc/json_rpc_handler.h"

#include <ace/Log_Msg.h>

#include <exception>
#include <new>
#include <thread>

JSON_RPC_Handler::JSON_RPC_Handler() {}

// A host that skipped fini() still gets no thread running in freed memory.
JSON_RPC_Handler::~JSON_RPC_Handler() { wait(); }

int JSON_RPC_Handler::init(int, char**) { return 0; }

int JSON_RPC_Handler::fini() {
  wait();
  return 0;
}

int JSON_RPC_Handler::handle(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj) {
  begin_object();
  // Ends the object also when handle_object throws, or wait() would never return.
  struct End {
    JSON_RPC_Handler* self;
    ~End() { self->end_object(); }
  } end{this};
  return handle_object(channel, obj);
}

int JSON_RPC_Handler::handle_object(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj) {
  const Context ctx{std::chrono::steady_clock::now()};
  JSON_RPC_Channel_ptr strong(channel);
  if (strong.null()) {
    ACE_DEBUG((LM_DEBUG, "JSON-RPC channel closed before the object was handled.\n"));
    return -1;
  }
  return handle_object_post(ctx, strong, obj);
}

int JSON_RPC_Handler::handle_object_post(const Context& ctx, JSON_RPC_Channel_ptr channel,
                                         JSON_RPC_Object_ptr obj) {
  const int rc = handle_object_i(channel, obj);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - ctx.received)
                      .count();
  ACE_DEBUG((LM_DEBUG, "JSON-RPC object handled in %d ms, result %d.\n", static_cast<int>(ms), rc));
  return rc;
}

YAJL_Handler* JSON_RPC_Handler::create_params_handler() { return nullptr; }

void JSON_RPC_Handler::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
}

void JSON_RPC_Handler::begin_object() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++running_;
}

void JSON_RPC_Handler::end_object() {
  // Notified under the lock: once wait() sees zero, this thread no longer touches us.
  std::lock_guard<std::mutex> lock(mutex_);
  --running_;
  idle_.notify_all();
}

int JSON_RPC_Thread_Handler::handle(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj) {
  begin_object();
  try {
    std::thread([this, channel, obj]() mutable {
      try {
        handle_object(channel, obj);
      } catch (const std::exception& e) {
        ACE_ERROR((LM_ERROR, "JSON-RPC handler failed: %C\n", e.what()));
      } catch (...) {
        ACE_ERROR((LM_ERROR, "JSON-RPC handler failed.\n"));
      }
      // Our references go before the handler reports idle, so nothing of this request
      // is touched once wait() returned.
      channel = JSON_RPC_Channel_wptr();
      obj = JSON_RPC_Object_ptr();
      end_object();
    }).detach();
  } catch (const std::exception& e) {
    // No thread (none could be started, or its state not allocated): nothing runs.
    end_object();
    ACE_ERROR((LM_ERROR, "Cannot start a JSON-RPC handler thread: %C\n", e.what()));
    return -1;
  }
  return 0;
}

bool json_rpc_exchange(JSON_RPC_Handler& handler, const std::string& method,
                       const json_spirit::Value& params, json_spirit::Object& reply) {
  JSON_RPC_Reply_Channel* const channel = new JSON_RPC_Reply_Channel;
  const JSON_RPC_Channel_ptr owner(channel);
  const JSON_RPC_Object_ptr request(new JSON_RPC_Request(method, params, json_spirit::Value(1)));
  handler.handle(JSON_RPC_Channel_wptr(owner), request);
  handler.wait();
  const std::vector<JSON_RPC_Object_ptr> replies = channel->replies();
  if (replies.empty()) {
    ACE_ERROR((LM_ERROR, "JSON-RPC method %C sent no reply.\n", method.c_str()));
    return false;
  }
  reply = replies.front()->to_json();
  return true;
}
