#include "job_engine/yajl_handler.h"

#include "yolt/scoped_deleter.h"

#include <yajl/yajl_parse.h>

#include <cmath>
#include <cstdio>
#include <exception>

YAJL_Handler::~YAJL_Handler() = default;

bool YAJL_Handler::handle_null_i() { return true; }
bool YAJL_Handler::handle_boolean_i(bool) { return true; }

bool YAJL_Handler::handle_integer_i(long long value) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%lld", value);
  return handle_number_i(text, static_cast<size_t>(n));
}

bool YAJL_Handler::handle_double_i(double value) {
  if (!std::isfinite(value)) return false;  // JSON has no text for it
  char text[40];
  const int n = std::snprintf(text, sizeof text, "%.17g", value);
  return handle_number_i(text, static_cast<size_t>(n));
}

bool YAJL_Handler::handle_number_i(const char*, size_t) { return true; }
bool YAJL_Handler::handle_string_i(const char*, size_t) { return true; }
bool YAJL_Handler::handle_start_map_i() { return true; }
bool YAJL_Handler::handle_map_key_i(const char*, size_t) { return true; }
bool YAJL_Handler::handle_end_map_i() { return true; }
bool YAJL_Handler::handle_start_array_i() { return true; }
bool YAJL_Handler::handle_end_array_i() { return true; }

namespace {

struct Parse_Context {
  YAJL_Handler* handler;
  std::string exception;  // what a handler threw, if it did
};

// Calls one handler event; an exception becomes a refusal, so it never crosses yajl.
template <typename F>
int dispatch(void* ctx, F&& event) {
  Parse_Context* const c = static_cast<Parse_Context*>(ctx);
  try {
    return event(*c->handler) ? 1 : 0;
  } catch (const std::exception& e) {
    c->exception = e.what();
  } catch (...) {
    c->exception = "unknown exception";
  }
  return 0;
}

const char* chars(const unsigned char* s) { return reinterpret_cast<const char*>(s); }

int on_null(void* ctx) {
  return dispatch(ctx, [](YAJL_Handler& h) { return h.handle_null_i(); });
}
int on_boolean(void* ctx, int v) {
  return dispatch(ctx, [v](YAJL_Handler& h) { return h.handle_boolean_i(v != 0); });
}
int on_integer(void* ctx, long long v) {
  return dispatch(ctx, [v](YAJL_Handler& h) { return h.handle_integer_i(v); });
}
int on_double(void* ctx, double v) {
  return dispatch(ctx, [v](YAJL_Handler& h) { return h.handle_double_i(v); });
}
int on_number(void* ctx, const char* s, size_t n) {
  return dispatch(ctx, [s, n](YAJL_Handler& h) { return h.handle_number_i(s, n); });
}
int on_string(void* ctx, const unsigned char* s, size_t n) {
  return dispatch(ctx, [s, n](YAJL_Handler& h) { return h.handle_string_i(chars(s), n); });
}
int on_start_map(void* ctx) {
  return dispatch(ctx, [](YAJL_Handler& h) { return h.handle_start_map_i(); });
}
int on_map_key(void* ctx, const unsigned char* s, size_t n) {
  return dispatch(ctx, [s, n](YAJL_Handler& h) { return h.handle_map_key_i(chars(s), n); });
}
int on_end_map(void* ctx) {
  return dispatch(ctx, [](YAJL_Handler& h) { return h.handle_end_map_i(); });
}
int on_start_array(void* ctx) {
  return dispatch(ctx, [](YAJL_Handler& h) { return h.handle_start_array_i(); });
}
int on_end_array(void* ctx) {
  return dispatch(ctx, [](YAJL_Handler& h) { return h.handle_end_array_i(); });
}

// With a number callback set, yajl 2 hands every number over as text and never calls
// the integer or double callbacks.
const yajl_callbacks callbacks = {on_null,      on_boolean,   on_integer, on_double,
                                  on_number,    on_string,    on_start_map, on_map_key,
                                  on_end_map,   on_start_array, on_end_array};

std::string error_text(yajl_handle h, const char* text, size_t length) {
  unsigned char* const raw =
      yajl_get_error(h, 0, reinterpret_cast<const unsigned char*>(text), length);
  std::string message = raw != nullptr ? chars(raw) : "parse error";
  if (raw != nullptr) yajl_free_error(h, raw);
  while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
    message.pop_back();
  return message;
}

}  // namespace

bool yajl_parse_document(YAJL_Handler& handler, const char* text, size_t length,
                         std::string* error) {
  Parse_Context ctx{&handler, std::string()};
  yajl_handle h = yajl_alloc(&callbacks, nullptr, &ctx);
  if (h == nullptr) {
    if (error != nullptr) *error = "out of memory";
    return false;
  }
  auto free_parser = make_deleter([h] { yajl_free(h); });
  const unsigned char* const bytes = reinterpret_cast<const unsigned char*>(text);
  yajl_status st = yajl_parse(h, bytes, length);
  if (st == yajl_status_ok) st = yajl_complete_parse(h);
  if (st == yajl_status_ok) return true;
  if (error != nullptr) {
    *error = !ctx.exception.empty() ? "handler failed: " + ctx.exception
                                    : error_text(h, text, length);
  }
  return false;
}
