#include "pool/write_behind.h"

#include <fcntl.h>

#include <system_error>

Write_Behind::Write_Behind(int fd) : fd_(fd) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // Inline mode.
  }
}

Write_Behind::~Write_Behind() { stop(); }

void Write_Behind::advance(uint64_t written) {
  if (!thread_.joinable()) {
    start(done_, written);
    if (written > done_) done_ = written;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (written > target_) target_ = written;
  }
  cv_.notify_one();
}

void Write_Behind::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  cv_.notify_one();
  thread_.join();
}

void Write_Behind::start(uint64_t from, uint64_t to) {
  // A failure here surfaces at the sync that follows the writing.
  if (to > from)
    ::sync_file_range(fd_, static_cast<off64_t>(from), static_cast<off64_t>(to - from),
                      SYNC_FILE_RANGE_WRITE);
}

void Write_Behind::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return stopping_ || target_ > done_; });
    if (target_ <= done_) return;  // stopping, nothing left
    const uint64_t from = done_, to = target_;
    lock.unlock();
    start(from, to);
    lock.lock();
    done_ = to;
  }
}
