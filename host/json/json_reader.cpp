// Streaming JSON reader over yajl: each read feeds the parser, whose events build the
// value; the bound value is written only once the text is complete.
#include "json/json_reader.h"

#include <yajl/yajl_parse.h>

#include <utility>

void JSON_Reader::Handle_Deleter::operator()(yajl_handle_t* h) const { yajl_free(h); }

JSON_Reader::JSON_Reader(json_spirit::Value& result) : result_(&result) {}

JSON_Reader::JSON_Reader() : result_(&own_) {}

JSON_Reader::~JSON_Reader() = default;

int JSON_Reader::open() {
  builder_.reset();
  complete_ = false;
  error_.clear();
  handle_.reset(yajl_alloc(&json_spirit::Value_Builder::callbacks, nullptr, &builder_));
  if (!handle_) {
    error_ = "cannot allocate the parser";
    return -1;
  }
  return 0;
}

int JSON_Reader::read(const char* text, size_t len, bool final) {
  if (complete_) {
    if (len == 0 && final) return 0;
    error_ = "text after the end of the JSON value";
    return -1;
  }
  if (!handle_) {
    error_ = "reader not open";
    return -1;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(text != nullptr ? text : "");
  if (text == nullptr) len = 0;
  if (len > 0 && yajl_parse(handle_.get(), bytes, len) != yajl_status_ok)
    return fail(bytes, len);
  if (!final) return 0;
  if (yajl_complete_parse(handle_.get()) != yajl_status_ok || !builder_.done())
    return fail(bytes, len);
  return finish();
}

int JSON_Reader::fail(const unsigned char* text, size_t len) {
  if (!builder_.error().empty()) {
    error_ = builder_.error();
  } else {
    unsigned char* msg = yajl_get_error(handle_.get(), 0, text, len);
    error_ = msg != nullptr ? reinterpret_cast<const char*>(msg) : "parse error";
    if (msg != nullptr) yajl_free_error(handle_.get(), msg);
    while (!error_.empty() && (error_.back() == '\n' || error_.back() == ' ')) error_.pop_back();
  }
  // A refused text cannot be resumed; the caller opens again for a new one.
  handle_.reset();
  return -1;
}

int JSON_Reader::finish() {
  *result_ = builder_.take();
  complete_ = true;
  handle_.reset();
  return 0;
}
