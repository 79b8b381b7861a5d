// Hands hints about ranges of an open file to the kernel on a thread of its own, so the
// reader or writer of the file never waits for them: a writer has the write-back of what
// it wrote started step by step, so the sync that makes the file durable at the end
// finds little left to do; a reader has the bytes ahead of it fetched, so its reads find
// them in the cache. Starting write-back or a fetch allocates pages and queues requests,
// which takes a while and may wait for a full device queue. Only hints: a failure costs
// speed, never data (durability still comes from the sync).
#ifndef POOL_FILE_HINTS_H
#define POOL_FILE_HINTS_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class File_Hints {
 public:
  enum Kind { WRITE_BACK, FETCH };

  // Serves the open descriptor `fd`, which must stay open until stop() or destruction.
  // Without a thread (none could be made) each hint is given inline.
  File_Hints(int fd, Kind kind);
  ~File_Hints();
  File_Hints(const File_Hints&) = delete;
  File_Hints& operator=(const File_Hints&) = delete;

  // Asks for the hint over [from, to). A range that touches the one still waiting joins
  // it; any other replaces it.
  void request(uint64_t from, uint64_t to);

  // Ends the thread: write-back still waiting is started first, a waiting fetch dropped.
  void stop();

 private:
  void give(uint64_t from, uint64_t to) const;
  void run();

  const int fd_;
  const Kind kind_;
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t from_ = 0;  // the waiting range, guarded by mutex_; empty when from_ == to_
  uint64_t to_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

#endif  // POOL_FILE_HINTS_H
