// Helpers shared by the scheduling framework's tests: the shared count-down latch, a
// condition to wait on without sleeping, a minimal task type for driving the
// strategies, workers and engine directly, and a reader of the end-of-run summary line.
#ifndef TESTS_MODULE_MODELS_TASK_TASK_TEST_UTIL_H
#define TESTS_MODULE_MODELS_TASK_TASK_TEST_UTIL_H

#include "models/task/task_base.h"
#include "support/latch.h"
#include "support/log_capture.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace task_test {

constexpr std::chrono::seconds kGenerous = test::GENEROUS;
using test::Latch;

// Waits (without sleeping) until `pred` holds or the time-out passes.
class Condition {
 public:
  void notify() {
    std::lock_guard<std::mutex> lock(mutex_);
    cond_.notify_all();
  }
  template <class Pred>
  bool wait_until(Pred pred, std::chrono::seconds timeout = kGenerous) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, pred);
  }
  std::mutex& mutex() { return mutex_; }

 private:
  std::mutex mutex_;
  std::condition_variable cond_;
};

// A task whose run is a test-supplied body.
class Test_Task : public Thread_Task<Test_Task> {
 public:
  using Body = std::function<Task_Base::Error(Test_Task&)>;

  explicit Test_Task(std::string name = "t", std::string owner = "", Body body = nullptr)
      : body_(std::move(body)) {
    this->name(std::move(name));
    this->owner(std::move(owner));
  }

  Task_Base::Error call() override { return body_ ? body_(*this) : Task_Base::CODE_SUCCESS; }

 private:
  Body body_;
};

inline std::shared_ptr<Test_Task> make_task(std::string name, std::string owner = "",
                                            Test_Task::Body body = nullptr) {
  return std::make_shared<Test_Task>(std::move(name), std::move(owner), std::move(body));
}

struct Summary {
  unsigned enqueued = 0, succeeded = 0, failed = 0, pending = 0;
  bool operator==(const Summary& o) const {
    return enqueued == o.enqueued && succeeded == o.succeeded && failed == o.failed &&
           pending == o.pending;
  }
};

inline std::ostream& operator<<(std::ostream& os, const Summary& s) {
  return os << "{enqueued " << s.enqueued << ", succeeded " << s.succeeded << ", failed "
            << s.failed << ", pending " << s.pending << "}";
}

// Every end-of-run summary line captured, in logging order.
inline std::vector<Summary> summaries(const test::Log_Capture& log) {
  std::vector<Summary> out;
  for (const auto& e : log.entries()) {
    Summary s;
    if (e.priority == LM_DEBUG &&
        std::sscanf(e.text.c_str(), "Enqueued: %u, succeeded: %u, failed: %u, pending: %u.",
                    &s.enqueued, &s.succeeded, &s.failed, &s.pending) == 4)
      out.push_back(s);
  }
  return out;
}

}  // namespace task_test

#endif  // TESTS_MODULE_MODELS_TASK_TASK_TEST_UTIL_H
