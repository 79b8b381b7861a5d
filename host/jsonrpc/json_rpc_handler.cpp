#include "jsonrpc/json_rpc_handler.h"

#include <ace/Log_Msg.h>

#include <algorithm>
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
  std::vector<std::thread> threads;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
    threads = take_threads(true);
  }
  // Joined, not merely idle: a thread's own clean-up at its exit is over too.
  for (std::thread& thread : threads) thread.join();
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

std::vector<std::thread> JSON_RPC_Handler::take_threads(bool all) {
  std::vector<std::thread> taken;
  for (auto it = threads_.begin(); it != threads_.end();) {
    const bool ended = all || std::find(finished_.begin(), finished_.end(), it->get_id()) !=
                                  finished_.end();
    if (!ended) {
      ++it;
      continue;
    }
    finished_.erase(std::remove(finished_.begin(), finished_.end(), it->get_id()),
                    finished_.end());
    taken.push_back(std::move(*it));
    it = threads_.erase(it);
  }
  return taken;
}

bool JSON_RPC_Handler::start_thread(std::function<void()> body) {
  std::vector<std::thread> ended;
  {
    // The thread is kept before its body can end, so wait() never misses it.
    std::lock_guard<std::mutex> lock(mutex_);
    ended = take_threads(false);
    try {
      threads_.emplace_back([this, body]() mutable {
        body();
        body = nullptr;  // the object's references go before the handler reports idle
        std::lock_guard<std::mutex> lock(mutex_);
        finished_.push_back(std::this_thread::get_id());
        --running_;
        idle_.notify_all();
      });
      ++running_;
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Cannot start a JSON-RPC handler thread: %C\n", e.what()));
      return false;
    }
  }
  for (std::thread& thread : ended) thread.join();
  return true;
}

int JSON_RPC_Thread_Handler::handle(JSON_RPC_Channel_wptr channel, JSON_RPC_Object_ptr obj) {
  const bool started = start_thread([this, channel, obj]() {
    try {
      handle_object(channel, obj);
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "JSON-RPC handler failed: %C\n", e.what()));
    } catch (...) {
      ACE_ERROR((LM_ERROR, "JSON-RPC handler failed.\n"));
    }
  });
  return started ? 0 : -1;
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
