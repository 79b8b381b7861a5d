#include "pool/file_hints.h"

#include <fcntl.h>

#include <algorithm>
#include <system_error>

File_Hints::File_Hints(int fd, Kind kind) : fd_(fd), kind_(kind) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // Inline mode.
  }
}

File_Hints::~File_Hints() { stop(); }

void File_Hints::request(uint64_t from, uint64_t to) {
  if (to <= from) return;
  if (!thread_.joinable()) {
    give(from, to);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (from_ < to_ && from <= to_ && to >= from_) {
      from_ = std::min(from_, from);
      to_ = std::max(to_, to);
    } else {
      from_ = from;
      to_ = to;
    }
  }
  cv_.notify_one();
}

void File_Hints::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (kind_ == FETCH) from_ = to_;
  }
  cv_.notify_one();
  thread_.join();
}

void File_Hints::give(uint64_t from, uint64_t to) const {
  // A failed write-back shows at the sync that follows the writing.
  if (kind_ == WRITE_BACK) {
    ::sync_file_range(fd_, static_cast<off64_t>(from), static_cast<off64_t>(to - from),
                      SYNC_FILE_RANGE_WRITE);
  } else {
    ::posix_fadvise(fd_, static_cast<off_t>(from), static_cast<off_t>(to - from),
                    POSIX_FADV_WILLNEED);
  }
}

void File_Hints::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    cv_.wait(lock, [this] { return stopping_ || from_ < to_; });
    if (from_ >= to_) return;  // stopping, nothing left
    const uint64_t from = from_, to = to_;
    from_ = to_;
    lock.unlock();
    give(from, to);
    lock.lock();
  }
}
