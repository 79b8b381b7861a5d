#include "job_engine/json_parser.h"

#include <utility>

namespace {
const std::string no_key;
}

JSON_Parser::JSON_Parser() = default;

JSON_Parser::~JSON_Parser() = default;

const std::string& JSON_Parser::key() const { return keys_.empty() ? no_key : keys_.back(); }

bool JSON_Parser::settle(bool accepted) {
  if (accepted && builder_.done()) {
    json_spirit::Value document = builder_.take();
    if (target_ != nullptr) *target_ = std::move(document);
  }
  return accepted;
}

bool JSON_Parser::handle_null_i() { return settle(builder_.null()); }

bool JSON_Parser::handle_boolean_i(bool value) { return settle(builder_.boolean(value)); }

bool JSON_Parser::handle_number_i(const char* text, size_t length) {
  return settle(builder_.number(text, length));
}

bool JSON_Parser::handle_string_i(const char* text, size_t length) {
  return settle(builder_.string(text, length));
}

bool JSON_Parser::handle_start_map_i() {
  if (!builder_.start_map()) return false;
  keys_.emplace_back();
  return true;
}

bool JSON_Parser::handle_map_key_i(const char* text, size_t length) {
  if (!builder_.map_key(text, length)) return false;
  if (!keys_.empty()) keys_.back().assign(text, length);
  return true;
}

bool JSON_Parser::handle_end_map_i() {
  if (!keys_.empty()) keys_.pop_back();
  return settle(builder_.end_map());
}

bool JSON_Parser::handle_start_array_i() {
  if (!builder_.start_array()) return false;
  keys_.emplace_back();
  return true;
}

bool JSON_Parser::handle_end_array_i() {
  if (!keys_.empty()) keys_.pop_back();
  return settle(builder_.end_array());
}
