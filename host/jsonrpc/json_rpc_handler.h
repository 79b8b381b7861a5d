// The handlers behind the host's JSON-RPC service: the service hands each incoming
// object to the handler of its method through handle(), and the handler answers on the
// object's channel. A module's handler derives from JSON_RPC_Thread_Handler, which runs
// every object on a thread of its own, and overrides only handle_object_i.
//
// Flow of one object: handle -> (thread) handle_object -> handle_object_post ->
// handle_object_i, which sends the reply. A channel that has gone away by then ends the
// flow without a reply.
#ifndef HOST_JSONRPC_JSON_RPC_HANDLER_H
#define HOST_JSONRPC_JSON_RPC_HANDLER_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jsonrpc/json_rpc_channel.h"
#include "jsonrpc/json_rpc_object.h"

class YAJL_Handler;

class JSON_RPC_Handler {
 public:
  // What the service knows of an object when it is handled.
  struct Context {
    std::chrono::steady_clock::time_point received;
  };

  JSON_RPC_Handler();
  virtual ~JSON_RPC_Handler();
  JSON_RPC_Handler(const JSON_RPC_Handler&) = delete;
  JSON_RPC_Handler& operator=(const JSON_RPC_Handler&) = delete;

  // Called by the host once after making the handler and once before destroying it; 0.
  // fini() returns once no object handed to the handler is still being handled.
  virtual int init(int argc, char** argv);
  virtual int fini();

  // Handles `obj`, which arrived on `channel`: the result of handle_object (the thread
  // handler: 0 once a thread took the object, -1 when none could be started).
  virtual int handle(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj);
  // Takes the channel (-1 when it has gone away) and runs handle_object_post.
  virtual int handle_object(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj);
  // Runs handle_object_i and logs at debug priority how long the object took.
  virtual int handle_object_post(const Context& ctx, JSON_RPC_Channel_ptr channel,
                                 JSON_RPC_Object_ptr obj);
  // A parser that builds a request's params while its text streams in, owned by the
  // caller; null (the default) lets the service build the params value itself.
  virtual YAJL_Handler* create_params_handler();
  // The handler's own work on one object: sends the reply and returns send's result, or
  // -1 when the object gets no reply.
  virtual int handle_object_i(JSON_RPC_Channel_ptr channel, JSON_RPC_Object_ptr obj) = 0;

  // Blocks until no object handed to this handler is still being handled and every
  // thread that handled one has been joined. fini() and the destructor call it, so no
  // thread runs in a destroyed object.
  void wait();

 protected:
  // Bookkeeping of the objects in progress, for wait().
  void begin_object();
  void end_object();
  // Runs `body` on a thread of its own as one object in progress, kept until joined:
  // by wait(), or by a later start once the body ended. False when no thread can be
  // started (nothing runs then).
  bool start_thread(std::function<void()> body);

 private:
  // Takes the threads whose body ended (all of them with `all`, once none runs) out of
  // the handler's keeping, to be joined outside the lock.
  std::vector<std::thread> take_threads(bool all);

  std::mutex mutex_;
  std::condition_variable idle_;
  int running_ = 0;
  std::vector<std::thread> threads_;            // started, not joined
  std::vector<std::thread::id> finished_;       // of those, whose body ended
};

class JSON_RPC_Thread_Handler : public JSON_RPC_Handler {
 public:
  // Starts a thread that runs handle_object: 0 once it runs, -1 (logged) when no thread
  // can be started.
  int handle(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj) override;
};

// The host's in-process call of a handler: sends the request {method, params, id 1} to
// `handler` on a reply channel, waits until the handler is done and gives the reply's
// JSON-RPC document. False (logged) when the handler sent no reply.
bool json_rpc_exchange(JSON_RPC_Handler& handler, const std::string& method,
                       const json_spirit::Value& params, json_spirit::Object& reply);

#endif  // HOST_JSONRPC_JSON_RPC_HANDLER_H
