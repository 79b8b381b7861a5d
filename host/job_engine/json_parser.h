// Builds one json_spirit::Value from the events of a yajl parse, into a target the
// caller names. The module's job document parsers forward their events here and look at
// where the parse stands (levels(), key()) to pick out members of the top-level object.
#ifndef HOST_JOB_ENGINE_JSON_PARSER_H
#define HOST_JOB_ENGINE_JSON_PARSER_H

#include "job_engine/yajl_handler.h"
#include "json/value.h"
#include "json/value_builder.h"

#include <cstddef>
#include <string>
#include <vector>

// Numbers: integers become int64, positive ones beyond INT64_MAX uint64, everything
// else a double. Duplicate member names keep the last value.
class JSON_Parser : public YAJL_Handler {
 public:
  JSON_Parser();
  ~JSON_Parser() override;

  // Where the finished document goes (assigned when its last event arrives). Null: the
  // events are followed (levels(), key()) but nothing is kept.
  void result(json_spirit::Value* target) { target_ = target; }

  // Number of arrays and objects open at the current event: 0 outside any, 1 for a
  // value inside the top-level object or array, and so on.
  size_t levels() const { return keys_.size(); }
  // The name of the member whose value the current event carries: the last key of the
  // innermost open object; "" inside an array or outside any object.
  const std::string& key() const;

  bool handle_null_i() override;
  bool handle_boolean_i(bool value) override;
  bool handle_number_i(const char* text, size_t length) override;
  bool handle_string_i(const char* text, size_t length) override;
  bool handle_start_map_i() override;
  bool handle_map_key_i(const char* text, size_t length) override;
  bool handle_end_map_i() override;
  bool handle_start_array_i() override;
  bool handle_end_array_i() override;

  // Why the builder refused the last event ("" when it did not).
  const std::string& error() const { return builder_.error(); }

 private:
  // Hands a finished document to the target.
  bool settle(bool accepted);

  json_spirit::Value_Builder builder_;
  json_spirit::Value* target_ = nullptr;
  std::vector<std::string> keys_;  // one per open container; arrays keep ""
};

#endif  // HOST_JOB_ENGINE_JSON_PARSER_H
