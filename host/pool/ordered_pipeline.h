// Runs a transform (compression, expansion, checksums) over a stream of blocks on a few
// worker threads while keeping the stream's order: a producer fills slots in order, the
// workers transform them, a consumer takes them in the order they were filled. The
// producer and the consumer may be two different threads. The image writer and reader
// use it so that codec work and disk transfers overlap.
//
// The transform runs on the workers and must not log (the job's log is per thread);
// an exception from it counts as a failed block.
#ifndef POOL_ORDERED_PIPELINE_H
#define POOL_ORDERED_PIPELINE_H

#include "pool/block_codec.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// Slots for a pipeline of `threads` workers whose slots take `slot_bytes` each: two per
// worker and two more (one being filled, one being drained) keep every thread busy;
// with huge slots only one per worker and those two, so memory stays bounded.
inline size_t pipeline_depth(size_t threads, size_t slot_bytes) {
  constexpr size_t BUDGET = size_t(64) << 20;
  const size_t roomy = 2 * threads + 2;
  const size_t lean = threads + 2;
  if (slot_bytes == 0 || roomy * slot_bytes <= BUDGET) return roomy;
  return std::max(lean, BUDGET / slot_bytes);
}

template <typename Slot>
class Ordered_Pipeline {
 public:
  // The transform gets a slot and the worker's own codec; it answers false on failure.
  using Transform = std::function<bool(Slot&, Block_Codec&)>;

  // `depth` slots in flight at most (at least one per worker).
  Ordered_Pipeline(size_t threads, size_t depth, Transform transform)
      : threads_(threads == 0 ? 1 : threads),
        slots_(depth < threads_ ? threads_ : depth),
        done_(slots_.size(), 0),
        failed_(slots_.size(), 0),
        transform_(std::move(transform)) {}

  ~Ordered_Pipeline() { stop(); }

  Ordered_Pipeline(const Ordered_Pipeline&) = delete;
  Ordered_Pipeline& operator=(const Ordered_Pipeline&) = delete;

  // Every slot, for sizing their buffers before start().
  std::vector<Slot>& slots() { return slots_; }

  // Starts the workers; false when a thread could not be made.
  bool start() {
    try {
      for (size_t i = 0; i < threads_; ++i) workers_.emplace_back([this] { run(); });
    } catch (const std::system_error&) {
      stop();
      return false;
    }
    return true;
  }

  // Cancels and joins the workers.
  void stop() {
    cancel();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
  }

  // Producer: waits for a free slot to fill; null once cancelled.
  Slot* acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    producer_waiting_ = true;
    free_cv_.wait(lock, [&] { return cancelled_ || submitted_ - head_ < slots_.size(); });
    producer_waiting_ = false;
    return cancelled_ ? nullptr : &slots_[submitted_ % slots_.size()];
  }

  // Producer: hands the slot from acquire() to the workers.
  void submit() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t i = submitted_ % slots_.size();
      done_[i] = 0;
      failed_[i] = 0;
      ++submitted_;
    }
    work_cv_.notify_one();
  }

  // Producer: no more slots will come.
  void close_input() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      input_closed_ = true;
    }
    done_cv_.notify_all();
  }

  // Consumer: waits for the oldest slot in flight; `ok` tells whether its transform
  // succeeded. Null when cancelled, or when the input is closed and all was consumed.
  Slot* wait_oldest(bool& ok) {
    std::unique_lock<std::mutex> lock(mutex_);
    const size_t i = head_ % slots_.size();
    done_cv_.wait(lock, [&] {
      return cancelled_ || (head_ < submitted_ && done_[i]) || (input_closed_ && head_ == submitted_);
    });
    if (cancelled_ || head_ == submitted_) return nullptr;
    ok = failed_[i] == 0;
    return &slots_[i];
  }

  // Consumer: frees the oldest slot for reuse.
  void release_oldest() {
    bool wake;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++head_;
      wake = producer_waiting_;
    }
    if (wake) free_cv_.notify_one();
  }

  // Either side: ends the stream early; waits in acquire and wait_oldest return null.
  void cancel() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cancelled_ = true;
    }
    work_cv_.notify_all();
    free_cv_.notify_all();
    done_cv_.notify_all();
  }

  bool cancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
  }

  // Slots released by the consumer so far.
  uint64_t released() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return head_;
  }

 private:
  void run() {
    Block_Codec codec;
    for (;;) {
      size_t i;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_cv_.wait(lock, [&] { return cancelled_ || claimed_ < submitted_; });
        if (cancelled_) return;
        i = claimed_++ % slots_.size();
      }
      bool ok = false;
      try {
        ok = transform_(slots_[i], codec);
      } catch (...) {
        ok = false;
      }
      bool wake;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[i] = 1;
        failed_[i] = ok ? 0 : 1;
        // The consumer waits for the oldest slot only.
        wake = i == head_ % slots_.size();
      }
      if (wake) done_cv_.notify_all();
    }
  }

  const size_t threads_;
  std::vector<Slot> slots_;
  // Everything below is guarded by mutex_.
  std::vector<char> done_;
  std::vector<char> failed_;
  Transform transform_;
  mutable std::mutex mutex_;
  std::condition_variable work_cv_;
  std::condition_variable free_cv_;
  std::condition_variable done_cv_;
  uint64_t submitted_ = 0;
  uint64_t claimed_ = 0;
  uint64_t head_ = 0;
  bool input_closed_ = false;
  bool producer_waiting_ = false;
  bool cancelled_ = false;
  std::vector<std::thread> workers_;
};

// Joins a helper thread of a pipeline on every way out of a scope (also when a caller's
// callback throws): the pipeline is cancelled first, so the thread ends promptly.
template <typename Slot>
class Pipeline_Thread_Joiner {
 public:
  Pipeline_Thread_Joiner(Ordered_Pipeline<Slot>& pipeline, std::thread& thread)
      : pipeline_(pipeline), thread_(thread) {}
  ~Pipeline_Thread_Joiner() { join(false); }
  Pipeline_Thread_Joiner(const Pipeline_Thread_Joiner&) = delete;
  Pipeline_Thread_Joiner& operator=(const Pipeline_Thread_Joiner&) = delete;

  // Waits for the thread; with `cancel` it is told to stop first.
  void join(bool cancel) {
    if (!thread_.joinable()) return;
    if (cancel || std::uncaught_exceptions() > 0) pipeline_.cancel();
    thread_.join();
  }

 private:
  Ordered_Pipeline<Slot>& pipeline_;
  std::thread& thread_;
};

#endif  // POOL_ORDERED_PIPELINE_H
