// Runs one callable on a thread of its own (through the ACE thread manager) and joins
// it. The job templates start a job's rollback on a detached helper that is destroyed at
// once; the executors start their progress thread on the host's Job_Thread_Helper, a
// subclass, and join it at the end of the run. Header-only, so that the host can derive
// from it without linking the module.
#ifndef YOLT_THREAD_HELPER_H
#define YOLT_THREAD_HELPER_H

#include "yolt/check.h"

#include <ace/Event.h>
#include <ace/Log_Msg.h>
#include <ace/OS_NS_Thread.h>
#include <ace/Thread_Manager.h>

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <utility>

// States: idle (nothing to join), running (a joinable thread runs its callable),
// finished (that thread returned but is not joined yet). A joinable helper must outlive
// its thread: its destructor joins. spawn() returns only after the new thread has taken
// its own copy of the callable, so a detached helper may be destroyed right afterwards.
class Thread_Helper {
 public:
  using function_type = std::function<void()>;

  // `flag`: ACE thread-creation flags (THR_DETACHED makes the thread detached);
  // `priority`: passed to the thread manager unchanged.
  Thread_Helper(int flag, int priority)
      : _tid(ACE_OS::NULL_thread),
        _running(std::make_unique<std::atomic<bool>>(false)),
        _started(nullptr),
        _flag(flag),
        _priority(priority) {}

  Thread_Helper(const Thread_Helper&) = delete;
  Thread_Helper& operator=(const Thread_Helper&) = delete;

  // Joins a joinable thread that is still there.
  virtual ~Thread_Helper() { join(); }

  // Starts `f(args...)`; -1 at once (no message) while a joinable run is going on.
  // Otherwise reaps a finished run and returns spawn()'s result.
  template <typename F, typename... Args>
  int spawn(F&& f, Args&&... args) {
    if (running()) return -1;
    join();
    _function = std::bind(std::forward<F>(f), std::forward<Args>(args)...);
    return spawn();
  }

  // Starts the stored callable: the thread manager's result (0 or more) on success,
  // -1 when there is no callable, a joinable run is still going on, or no thread could
  // be made (the helper may spawn again then).
  int spawn() {
    YOLT_CHECK_NULL(_running, -1);
    YOLT_CHECK_NULL(_function, -1);
    if (joinable()) {
      // One atomic step decides: a run still going on refuses; otherwise the previous
      // run has finished and its thread is reaped before its id is overwritten.
      const bool already_running = _running->exchange(true);
      YOLT_CHECK_TRUE(already_running, -1);
      join();
    }
    ACE_Event started(0, 0);
    ACE_thread_t detached_tid = ACE_OS::NULL_thread;
    _started = &started;
    const int result = ACE_Thread_Manager::instance()->spawn(
        &Thread_Helper::ACE_Thread_Func, this, _flag, joinable() ? &_tid : &detached_tid,
        nullptr, _priority, -1, nullptr, 0, nullptr);
    if (result < 0) {
      if (joinable()) {
        _tid = ACE_OS::NULL_thread;
        _running->store(false);
      }
    } else {
      started.wait();
    }
    _started = nullptr;
    return result;
  }

  // Waits for the joinable thread when there is one; then nothing is left to join.
  void join() {
    if (!exists()) return;
    ACE_Thread_Manager::instance()->join(_tid);
    _tid = ACE_OS::NULL_thread;
  }

  // A joinable thread was started and not joined yet (it may have finished).
  bool exists() const { return !ACE_OS::thr_equal(_tid, ACE_OS::NULL_thread); }

  // A joinable thread was started and has not finished its callable.
  bool running() const { return exists() && _running && _running->load(); }

 protected:
  // Runs first on the new thread, before the spawning thread is released.
  virtual void handle_starting() {}

  ACE_thread_t _tid;
  function_type _function;
  std::unique_ptr<std::atomic<bool>> _running;
  ACE_Event* _started;
  const long _flag;
  const long _priority;

 private:
  bool joinable() const { return (_flag & THR_DETACHED) == 0; }

  // Runs `f`, logging instead of letting an exception end the process.
  template <typename F>
  static bool run_guarded(F&& f, const char* what) {
    try {
      f();
      return true;
    } catch (const std::exception& e) {
      ACE_ERROR((LM_ERROR, "Thread %t: %s ended with an exception: %s\n", what, e.what()));
    } catch (...) {
      ACE_ERROR((LM_ERROR, "Thread %t: %s ended with an unknown exception\n", what));
    }
    return false;
  }

  static ACE_THR_FUNC_RETURN ACE_Thread_Func(void* arg) {
    Thread_Helper* const self = static_cast<Thread_Helper*>(arg);
    function_type f;
    const bool ready = run_guarded(
        [&] {
          self->handle_starting();
          f = self->_function;
        },
        "handle_starting");
    std::atomic<bool>* const running = self->joinable() ? self->_running.get() : nullptr;
    // From here on the helper may be gone (detached) or reused: touch only `running`.
    if (self->_started != nullptr) self->_started->signal();
    if (ready && f) run_guarded(f, "the thread function");
    if (running != nullptr) running->store(false);
    return 0;
  }
};

#endif  // YOLT_THREAD_HELPER_H
