// Test sink for the ACE log: while a Log_Capture lives, every record logged by any
// thread is kept (priority and formatted text) instead of going to stderr.
#ifndef TESTS_SUPPORT_LOG_CAPTURE_H
#define TESTS_SUPPORT_LOG_CAPTURE_H

#include <ace/Log_Priority.h>

#include <memory>
#include <string>
#include <vector>

namespace test {

struct Log_Entry {
  ACE_Log_Priority priority;
  std::string text;
};

class Log_Capture {
 public:
  Log_Capture();
  ~Log_Capture();
  Log_Capture(const Log_Capture&) = delete;
  Log_Capture& operator=(const Log_Capture&) = delete;

  std::vector<Log_Entry> entries() const;
  // All texts joined, in logging order.
  std::string text() const;
  // True when some record holds `needle` (and has `priority`, when one is given).
  bool contains(const std::string& needle) const;
  bool contains(const std::string& needle, ACE_Log_Priority priority) const;
  size_t count(const std::string& needle) const;
  void clear();

  class Backend;

 private:
  std::unique_ptr<Backend> backend_;
};

}  // namespace test

#endif  // TESTS_SUPPORT_LOG_CAPTURE_H
