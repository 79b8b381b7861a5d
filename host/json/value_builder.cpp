// yajl events to json_spirit values. Every callback catches everything: an exception must
// not unwind through the C parser.
#include "json/value_builder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace json_spirit {

namespace {

Value_Builder& self(void* ctx) { return *static_cast<Value_Builder*>(ctx); }

template <typename F>
int guarded(F&& f) {
  try {
    return f() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int on_null(void* ctx) { return guarded([&] { return self(ctx).null(); }); }
int on_boolean(void* ctx, int b) { return guarded([&] { return self(ctx).boolean(b != 0); }); }
int on_number(void* ctx, const char* s, size_t len) {
  return guarded([&] { return self(ctx).number(s, len); });
}
int on_string(void* ctx, const unsigned char* s, size_t len) {
  return guarded([&] { return self(ctx).string(reinterpret_cast<const char*>(s), len); });
}
int on_start_map(void* ctx) { return guarded([&] { return self(ctx).start_map(); }); }
int on_map_key(void* ctx, const unsigned char* s, size_t len) {
  return guarded([&] { return self(ctx).map_key(reinterpret_cast<const char*>(s), len); });
}
int on_end_map(void* ctx) { return guarded([&] { return self(ctx).end_map(); }); }
int on_start_array(void* ctx) { return guarded([&] { return self(ctx).start_array(); }); }
int on_end_array(void* ctx) { return guarded([&] { return self(ctx).end_array(); }); }

bool is_integer_text(const std::string& s) {
  return s.find_first_of(".eE") == std::string::npos;
}

}  // namespace

const yajl_callbacks Value_Builder::callbacks = {
    on_null,      on_boolean, nullptr,        nullptr,    on_number,      on_string,
    on_start_map, on_map_key, on_end_map, on_start_array, on_end_array};

bool Value_Builder::null() { return add(Value()); }
bool Value_Builder::boolean(bool b) { return add(Value(b)); }
bool Value_Builder::integer(long long i) { return add(Value(i)); }
bool Value_Builder::real(double d) { return add(Value(d)); }

bool Value_Builder::number(const char* text, size_t len) {
  const std::string s(text, len);
  if (is_integer_text(s)) {
    errno = 0;
    char* end = nullptr;
    long long i = std::strtoll(s.c_str(), &end, 10);
    if (errno == 0 && *end == '\0') return add(Value(i));
    if (s[0] != '-') {
      errno = 0;
      unsigned long long u = std::strtoull(s.c_str(), &end, 10);
      if (errno == 0 && *end == '\0') return add(Value(u));
    }
  }
  errno = 0;
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0') return fail("malformed number");
  // Overflow gives +-HUGE_VAL, which no JSON text could be written back as.
  if (errno == ERANGE && (d > 1.0 || d < -1.0)) return fail("number out of range");
  return add(Value(d));
}

bool Value_Builder::string(const char* text, size_t len) {
  return add(Value(std::string(text, len)));
}

bool Value_Builder::start_map() {
  if (stack_.size() >= max_depth) return fail("document nested too deeply");
  stack_.push_back(Frame{Value(Object()), std::string()});
  return true;
}

bool Value_Builder::map_key(const char* text, size_t len) {
  if (stack_.empty() || stack_.back().container.type() != obj_type)
    return fail("member name outside an object");
  stack_.back().key.assign(text, len);
  return true;
}

bool Value_Builder::end_map() {
  if (stack_.empty() || stack_.back().container.type() != obj_type)
    return fail("unbalanced end of object");
  Value v = std::move(stack_.back().container);
  stack_.pop_back();
  return add(std::move(v));
}

bool Value_Builder::start_array() {
  if (stack_.size() >= max_depth) return fail("document nested too deeply");
  stack_.push_back(Frame{Value(Array()), std::string()});
  return true;
}

bool Value_Builder::end_array() {
  if (stack_.empty() || stack_.back().container.type() != array_type)
    return fail("unbalanced end of array");
  Value v = std::move(stack_.back().container);
  stack_.pop_back();
  return add(std::move(v));
}

Value Value_Builder::take() {
  Value v = std::move(result_);
  reset();
  return v;
}

void Value_Builder::reset() {
  stack_.clear();
  result_ = Value();
  done_ = false;
  error_.clear();
}

bool Value_Builder::add(Value&& v) {
  if (stack_.empty()) {
    if (done_) return fail("more than one top-level value");
    result_ = std::move(v);
    done_ = true;
    return true;
  }
  Frame& top = stack_.back();
  if (top.container.type() == array_type) {
    top.container.get_array().push_back(std::move(v));
  } else {
    // A repeated member name keeps the last value.
    top.container.get_obj()[top.key] = std::move(v);
  }
  return true;
}

bool Value_Builder::fail(const char* why) {
  error_ = why;
  return false;
}

}  // namespace json_spirit
