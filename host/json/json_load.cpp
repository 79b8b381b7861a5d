// Whole-text JSON parsing: one yajl parse of the text, then the end-of-input check.
#include "json/json_load.h"

#include "json/value_builder.h"

#include <yajl/yajl_parse.h>

#include <cstring>
#include <memory>

namespace json_spirit {

namespace {

struct Handle_Deleter {
  void operator()(yajl_handle_t* h) const { yajl_free(h); }
};
using Handle = std::unique_ptr<yajl_handle_t, Handle_Deleter>;

// The reason yajl or the builder gave for refusing the text.
std::string parse_error(yajl_handle h, const Value_Builder& b, const char* text, size_t len) {
  if (!b.error().empty()) return b.error();
  unsigned char* msg =
      yajl_get_error(h, 0, reinterpret_cast<const unsigned char*>(text), len);
  std::string s = msg != nullptr ? reinterpret_cast<const char*>(msg) : "parse error";
  if (msg != nullptr) yajl_free_error(h, msg);
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

bool JSON_Load(const char* text, size_t len, Value& out, std::string* error) {
  if (text == nullptr) text = "";
  Value_Builder builder;
  Handle h(yajl_alloc(&Value_Builder::callbacks, nullptr, &builder));
  if (!h) {
    if (error != nullptr) *error = "cannot allocate the parser";
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  if (yajl_parse(h.get(), bytes, len) != yajl_status_ok ||
      yajl_complete_parse(h.get()) != yajl_status_ok || !builder.done()) {
    if (error != nullptr) *error = parse_error(h.get(), builder, text, len);
    return false;
  }
  out = builder.take();
  return true;
}

bool JSON_Load(const std::string& text, Value& out, std::string* error) {
  return JSON_Load(text.data(), text.size(), out, error);
}

Value JSON_Load(const char* text, size_t len) {
  Value v;
  JSON_Load(text, len, v);
  return v;
}

Value JSON_Load(const char* text) {
  return text == nullptr ? Value() : JSON_Load(text, std::strlen(text));
}

Value JSON_Load(const std::string& text) { return JSON_Load(text.data(), text.size()); }

}  // namespace json_spirit
