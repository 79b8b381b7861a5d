// Streaming JSON reader: the text may arrive in pieces (a socket, a file read in blocks,
// an XML text node delivered in several parts) and is parsed as it comes into one
// json_spirit::Value. Used by the cloud response parsers and the host's own readers.
#ifndef HOST_JSON_JSON_READER_H
#define HOST_JSON_JSON_READER_H

#include "json/value.h"
#include "json/value_builder.h"

#include <cstddef>
#include <memory>
#include <string>

struct yajl_handle_t;

// Usage: JSON_Reader r(v); r.open(); r.read(p, n, false) ...; r.read(p, n, true).
// The result is written to the bound value only when the text completes: a failed or
// unfinished text leaves it as it was.
class JSON_Reader {
 public:
  // Binds the reader to `result`, which must outlive it.
  explicit JSON_Reader(json_spirit::Value& result);
  // Binds the reader to a value of its own, reached through value().
  JSON_Reader();
  ~JSON_Reader();
  JSON_Reader(const JSON_Reader&) = delete;
  JSON_Reader& operator=(const JSON_Reader&) = delete;

  // Starts a new text (forgetting any earlier one). Returns 0, or -1 when the parser
  // cannot be made.
  int open();

  // Parses the next `len` bytes; `final` marks the end of the text. Returns 0, or -1 on
  // bad text, on a read before open(), or on text after the end. Once a text completed,
  // further final reads of zero bytes return 0 and change nothing.
  int read(const char* text, size_t len, bool final);

  // True once a complete value was stored into the bound value.
  bool complete() const { return complete_; }
  // Why the last read failed ("" when none did).
  const std::string& error() const { return error_; }

  json_spirit::Value& value() { return *result_; }
  const json_spirit::Value& value() const { return *result_; }

 private:
  struct Handle_Deleter {
    void operator()(yajl_handle_t* h) const;
  };
  int fail(const unsigned char* text, size_t len);
  int finish();

  json_spirit::Value own_;
  json_spirit::Value* result_;
  json_spirit::Value_Builder builder_;
  std::unique_ptr<yajl_handle_t, Handle_Deleter> handle_;
  bool complete_ = false;
  std::string error_;
};

#endif  // HOST_JSON_JSON_READER_H
