// Locks that keep two runs off one job definition, or off one cloud instance, at a
// time, across every process of this host that shares the home. A job takes its
// definition's lock when it starts (Job::start); an instance handler takes its
// instance's lock before it changes anything of that instance in the cloud, so that what
// it finds of the instance there (a temporary snapshot, say) is a leftover of a killed
// run and never the live work of another job.
//
// A lock is an flock on the file "<home>/lock/<kind>/<name>" (folders 0700, files
// 0600): the kernel drops it when its holder closes the file, ends or is killed, so a
// killed run never blocks the next one. The files stay; an unheld file locks nothing.
#ifndef HOST_JOB_ENGINE_RUN_LOCK_H
#define HOST_JOB_ENGINE_RUN_LOCK_H

#include <cstddef>
#include <string>

class Run_Lock {
 public:
  enum Kind { JOB, INSTANCE };
  enum Outcome { TAKEN, BUSY, FAILED };

  Run_Lock() = default;
  ~Run_Lock() { release(); }
  Run_Lock(const Run_Lock&) = delete;
  Run_Lock& operator=(const Run_Lock&) = delete;

  // Takes the lock of `id` of `kind` without waiting (a lock this object held is let go
  // first). TAKEN: held until release() or the object's end. BUSY: another holder has it,
  // another Run_Lock of this process or of any other. FAILED: `id` is empty or too long
  // for a file name, or the lock file could not be made or locked (logged).
  Outcome try_lock(Kind kind, const std::string& id);
  // Lets the lock go (nothing when none is held).
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The longest lock file name.
constexpr size_t RUN_LOCK_NAME_MAX = 240;

// The file name that locks `id`: letters, digits, '-' and '_' as they are, every other
// byte as "%XX" (upper-case hex), so distinct ids get distinct names and no name holds
// '/' or is "." or "..". Empty when `id` is empty or its name would be longer than
// RUN_LOCK_NAME_MAX.
std::string run_lock_file_name(const std::string& id);

#endif  // HOST_JOB_ENGINE_RUN_LOCK_H
