// The receiving end of a yajl parse: one virtual operation per parse event. The host
// drives a document through yajl into a handler (yajl_parse_document); the module's job
// document parsers are handlers made by its creators.
#ifndef HOST_JOB_ENGINE_YAJL_HANDLER_H
#define HOST_JOB_ENGINE_YAJL_HANDLER_H

#include <cstddef>
#include <string>

// Every event returns true to let the parse go on, false to stop it (the parse then
// fails). Numbers arrive as their text through handle_number_i, as yajl 2 sends them
// when a number callback is set; handle_integer_i and handle_double_i exist for callers
// that hold a number already and pass it on as text to handle_number_i. The defaults
// accept every event and keep nothing.
class YAJL_Handler {
 public:
  YAJL_Handler() = default;
  YAJL_Handler(const YAJL_Handler&) = delete;
  YAJL_Handler& operator=(const YAJL_Handler&) = delete;
  virtual ~YAJL_Handler();

  virtual bool handle_null_i();
  virtual bool handle_boolean_i(bool value);
  virtual bool handle_integer_i(long long value);
  virtual bool handle_double_i(double value);
  virtual bool handle_number_i(const char* text, size_t length);
  virtual bool handle_string_i(const char* text, size_t length);
  virtual bool handle_start_map_i();
  virtual bool handle_map_key_i(const char* text, size_t length);
  virtual bool handle_end_map_i();
  virtual bool handle_start_array_i();
  virtual bool handle_end_array_i();
};

// Feeds one JSON document of `length` bytes through yajl to `handler`. True when the
// document was well formed and every event was accepted; else false and, when `error`
// is given, a one-line reason in it. An exception from the handler stops the parse
// (false) and does not leave this function.
bool yajl_parse_document(YAJL_Handler& handler, const char* text, size_t length,
                         std::string* error = nullptr);

#endif  // HOST_JOB_ENGINE_YAJL_HANDLER_H
