// The text of an errno value, held in the object, for log lines and error replies that
// name a system failure ("open failed: No such file or directory").
#ifndef HOST_RUNTIME_POSIX_ERROR_H
#define HOST_RUNTIME_POSIX_ERROR_H

#include <cerrno>
#include <cstdio>
#include <cstring>

class POSIX_Error {
 public:
  // Captures `code` (the calling thread's errno by default) and its text.
  explicit POSIX_Error(int code = errno) : code_(code) {
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = ::strerror_r(code, buf_, sizeof buf_);
    if (text != buf_) std::snprintf(buf_, sizeof buf_, "%s", text);
  }

  int code() const { return code_; }
  // The system's text for the code ("Unknown error 9999" for an unknown one).
  const char* c_str() const { return buf_; }

 private:
  int code_;
  char buf_[128];
};

#endif  // HOST_RUNTIME_POSIX_ERROR_H
