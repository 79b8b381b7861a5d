// Parsers of a job's source and options documents: YAJL handlers that the module's
// creators make for the host. Each builds the whole document into the value of a new
// result object (for this module tavrocloud::Job_Parameters), which the host takes with
// result() and keeps in the job definition; the source parser also picks the top-level
// "id" and "name" into the object's Job_Source part.
#ifndef JOB_DEF_JOB_JSON_PARSER_H
#define JOB_DEF_JOB_JSON_PARSER_H

#include "job_engine/json_parser.h"
#include "job_engine/yajl_handler.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>

#include <cerrno>
#include <cstddef>
#include <new>
#include <string>

// A YAJL handler that yields a shared T once the parse is done.
template <typename T>
class YAJL_Parser : public YAJL_Handler {
 public:
  typedef ACE_Refcounted_Auto_Ptr<T, ACE_Thread_Mutex> pointer;

  // The object built so far, shared with the caller; null when none could be made.
  virtual pointer result() = 0;
};

// T: default-constructible, with value() giving the json_spirit::Value to fill.
// When no T could be made (errno ENOMEM), every event is refused, so the parse fails
// rather than producing nothing.
template <typename T>
class Job_JSON_Parser : public YAJL_Parser<T> {
 public:
  typedef typename YAJL_Parser<T>::pointer pointer;

  Job_JSON_Parser() : result_(), parser_() {
    T* const object = new (std::nothrow) T();
    if (object == nullptr)
      errno = ENOMEM;
    else
      result_.reset(object);
    parser_.result(object != nullptr ? &object->value() : nullptr);
  }
  ~Job_JSON_Parser() override {}

  pointer result() override { return result_; }

  bool handle_null_i() override { return ready() && parser_.handle_null_i(); }
  bool handle_boolean_i(bool value) override {
    return ready() && parser_.handle_boolean_i(value);
  }
  // Numbers given as values go to the builder as text, as yajl's number events do.
  bool handle_integer_i(long long value) override {
    return ready() && parser_.YAJL_Handler::handle_integer_i(value);
  }
  bool handle_double_i(double value) override {
    return ready() && parser_.YAJL_Handler::handle_double_i(value);
  }
  bool handle_number_i(const char* text, size_t length) override {
    return ready() && parser_.handle_number_i(text, length);
  }
  bool handle_string_i(const char* text, size_t length) override {
    return ready() && parser_.handle_string_i(text, length);
  }
  bool handle_start_map_i() override { return ready() && parser_.handle_start_map_i(); }
  bool handle_map_key_i(const char* text, size_t length) override {
    return ready() && parser_.handle_map_key_i(text, length);
  }
  bool handle_end_map_i() override { return ready() && parser_.handle_end_map_i(); }
  bool handle_start_array_i() override { return ready() && parser_.handle_start_array_i(); }
  bool handle_end_array_i() override { return ready() && parser_.handle_end_array_i(); }

 protected:
  bool ready() const { return result_.get() != nullptr; }

  pointer result_;
  JSON_Parser parser_;
};

// The source parser: as Job_JSON_Parser, and a string that is the value of the
// top-level object's "id" or "name" member also becomes the result's id or name.
template <typename T>
class Job_Source_Parser : public Job_JSON_Parser<T> {
 public:
  bool handle_string_i(const char* text, size_t length) override {
    if (this->parser_.levels() == 1 && this->ready()) {
      const std::string& key = this->parser_.key();
      if (key == "id")
        this->result_->set_id(text, length);
      else if (key == "name")
        this->result_->set_name(text, length);
    }
    return Job_JSON_Parser<T>::handle_string_i(text, length);
  }
};

#endif  // JOB_DEF_JOB_JSON_PARSER_H
