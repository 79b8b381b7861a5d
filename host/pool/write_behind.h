// Starts the write-back of a file's written data on a thread of its own, step by step
// while the file is still being written, so that the sync that makes it durable at the
// end finds little left to do. Handing dirty data to the disk allocates its blocks and
// queues its requests, which takes a while and may wait for a full device queue; the
// writer should not wait for it. Only a hint: durability still comes from the sync.
#ifndef POOL_WRITE_BEHIND_H
#define POOL_WRITE_BEHIND_H

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class Write_Behind {
 public:
  // Serves the open descriptor `fd`, which must stay open until stop() or destruction.
  // Without a thread (none could be made) the write-back is started inline.
  explicit Write_Behind(int fd);
  ~Write_Behind();
  Write_Behind(const Write_Behind&) = delete;
  Write_Behind& operator=(const Write_Behind&) = delete;

  // The file's bytes below `written` may be handed to the disk.
  void advance(uint64_t written);

  // Waits for the write-back started so far to be queued and ends the thread.
  void stop();

 private:
  void start(uint64_t from, uint64_t to);
  void run();

  const int fd_;
  std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t target_ = 0;  // guarded by mutex_
  uint64_t done_ = 0;    // guarded by mutex_ while the thread runs
  bool stopping_ = false;
  std::thread thread_;
};

#endif  // POOL_WRITE_BEHIND_H
