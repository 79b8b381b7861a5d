#include "support/log_capture.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>

#include <algorithm>
#include <mutex>

namespace test {

class Log_Capture::Backend : public ACE_Log_Msg_Backend {
 public:
  int open(const ACE_TCHAR*) override { return 0; }
  int reset() override { return 0; }
  int close() override { return 0; }
  ssize_t log(ACE_Log_Record& record) override {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({static_cast<ACE_Log_Priority>(record.type()), record.msg_data()});
    return 0;
  }

  mutable std::mutex mutex_;
  std::vector<Log_Entry> entries_;
};

Log_Capture::Log_Capture() : backend_(new Backend) {
  ACE_Log_Msg::msg_backend(backend_.get());
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
}

Log_Capture::~Log_Capture() {
  ACE_LOG_MSG->clr_flags(ACE_Log_Msg::CUSTOM);
  ACE_LOG_MSG->set_flags(ACE_Log_Msg::STDERR);
  ACE_Log_Msg::msg_backend(nullptr);
}

std::vector<Log_Entry> Log_Capture::entries() const {
  std::lock_guard<std::mutex> lock(backend_->mutex_);
  return backend_->entries_;
}

std::string Log_Capture::text() const {
  std::string all;
  for (const auto& e : entries()) all += e.text;
  return all;
}

bool Log_Capture::contains(const std::string& needle) const { return count(needle) > 0; }

bool Log_Capture::contains(const std::string& needle, ACE_Log_Priority priority) const {
  const auto all = entries();
  return std::any_of(all.begin(), all.end(), [&](const Log_Entry& e) {
    return e.priority == priority && e.text.find(needle) != std::string::npos;
  });
}

size_t Log_Capture::count(const std::string& needle) const {
  const auto all = entries();
  return std::count_if(all.begin(), all.end(), [&](const Log_Entry& e) {
    return e.text.find(needle) != std::string::npos;
  });
}

void Log_Capture::clear() {
  std::lock_guard<std::mutex> lock(backend_->mutex_);
  backend_->entries_.clear();
}

}  // namespace test
