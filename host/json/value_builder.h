// Turns a stream of yajl parse events into one json_spirit::Value. Used by JSON_Load,
// JSON_Reader and by any host parser that drives yajl itself (the job engine's parsers
// may forward their events here instead of building values on their own).
#ifndef HOST_JSON_VALUE_BUILDER_H
#define HOST_JSON_VALUE_BUILDER_H

#include "json/value.h"

#include <yajl/yajl_common.h>
#include <yajl/yajl_parse.h>

#include <cstddef>
#include <string>
#include <vector>

namespace json_spirit {

// Builds values without recursion, so the depth of a document costs heap, not stack.
// Every event returns true to go on and false to stop the parse (with error() set).
class Value_Builder {
 public:
  // Deepest nesting of arrays and objects accepted: what the yajl generator can write
  // back, so every loaded value can be dumped again. Deeper documents fail (which also
  // bounds the recursion of copying, comparing and destroying a loaded Value).
  static const size_t max_depth = YAJL_MAX_DEPTH - 1;

  Value_Builder() = default;
  Value_Builder(const Value_Builder&) = delete;
  Value_Builder& operator=(const Value_Builder&) = delete;

  bool null();
  bool boolean(bool b);
  bool integer(long long i);
  bool real(double d);
  // A number as its text: integers become int64, larger positive ones uint64, everything
  // else (fractions, exponents, integers beyond uint64) a double.
  bool number(const char* text, size_t len);
  bool string(const char* text, size_t len);
  bool start_map();
  bool map_key(const char* text, size_t len);
  bool end_map();
  bool start_array();
  bool end_array();

  // True once exactly one complete top-level value was built.
  bool done() const { return done_; }
  // The built value (null before done()); leaves the builder empty and ready again.
  Value take();
  // Why the last event was refused ("" when none was).
  const std::string& error() const { return error_; }
  // Forgets everything built so far.
  void reset();

  // yajl callbacks whose context pointer is a Value_Builder*. They use the number
  // callback, so integers and doubles arrive as text.
  static const yajl_callbacks callbacks;

 private:
  struct Frame {
    Value container;  // an object or an array being filled
    std::string key;  // the pending member name, for objects
  };
  bool add(Value&& v);
  bool fail(const char* why);

  std::vector<Frame> stack_;
  Value result_;
  bool done_ = false;
  std::string error_;
};

}  // namespace json_spirit

#endif  // HOST_JSON_VALUE_BUILDER_H
