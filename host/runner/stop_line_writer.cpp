#include "runner/stop_line_writer.h"

#include <chrono>
#include <utility>

namespace runner {

Stop_Line_Writer::Stop_Line_Writer(Job_Progress_View& view)
    : view_(view), thread_([this] { run(); }) {}

Stop_Line_Writer::~Stop_Line_Writer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

size_t Stop_Line_Writer::hand(std::string lines) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(lines));
  changed_.notify_all();
  return ++handed_;
}

bool Stop_Line_Writer::written_within(size_t place, int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(seconds),
                           [this, place] { return written_ >= place; });
}

// Ends only once closing and nothing is left queued.
void Stop_Line_Writer::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return closing_ || !queue_.empty(); });
    if (queue_.empty()) return;
    const std::string lines = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    view_.say(lines);
    lock.lock();
    ++written_;
    changed_.notify_all();
  }
}

}  // namespace runner
