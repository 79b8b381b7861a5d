// The writer of the lines `quillon3 backup` and `quillon3 restore` show when they are
// stopped (job_commands.cpp's stop thread hands it one line per SIGINT, SIGTERM or
// SIGHUP). It writes them on a thread of its own, through the job's progress view: a
// stderr nobody drains (a stopped pager, a stalled log shipper) holds this writer and
// stderr's lock, never the thread that takes the stops.
//
// Lines are written in the order handed over. A line handed over before the writer is
// destroyed is written before the destructor returns, waiting on stderr as long as it
// takes: closing never drops a queued line.
#ifndef RUNNER_STOP_LINE_WRITER_H
#define RUNNER_STOP_LINE_WRITER_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "runner/job_progress.h"

namespace runner {

class Stop_Line_Writer {
 public:
  // `view` must outlive the writer.
  explicit Stop_Line_Writer(Job_Progress_View& view);
  // Writes what was handed over, then ends (waiting on stderr as long as it takes).
  ~Stop_Line_Writer();
  Stop_Line_Writer(const Stop_Line_Writer&) = delete;
  Stop_Line_Writer& operator=(const Stop_Line_Writer&) = delete;

  // Hands `lines` over to be written; never waits on stderr. Its place in the order (1 for
  // the first handed over), which written_within() takes.
  size_t hand(std::string lines);
  // True once the lines handed over at `place` were written; waits up to `seconds`.
  bool written_within(size_t place, int seconds);

 private:
  void run();

  Job_Progress_View& view_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;
  size_t handed_ = 0;  // counts the line being written, which the queue no longer holds
  size_t written_ = 0;
  bool closing_ = false;
  std::thread thread_;  // last: it uses the members above
};

}  // namespace runner

#endif  // RUNNER_STOP_LINE_WRITER_H
