// Helpers shared by the scheduling framework's tests: a task whose run is a test-supplied
// body, a wait on a condition without sleeping, and a reader of the end-of-run summaries.
#ifndef TESTS_MODULE_MODELS_TASK_TASK_TEST_UTIL_H
#define TESTS_MODULE_MODELS_TASK_TASK_TEST_UTIL_H

#include "models/task/task_base.h"
#include "support/latch.h"
#include "support/log_capture.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace task_test {

class Test_Task : public Thread_Task<Test_Task> {
 public:
  using Body = std::function<Task_Base::Error(Test_Task&)>;
  Test_Task(std::string name, std::string owner, Body body) : body_(std::move(body)) {
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

// Yields until `pred` holds; false once the generous time-out has passed.
template <class Pred>
bool eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + test::GENEROUS;
  while (!pred() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  return pred();
}

// {enqueued, succeeded, failed, pending} of every end-of-run summary line, in order.
using Summary = std::array<unsigned, 4>;
inline std::vector<Summary> summaries(const test::Log_Capture& log) {
  std::vector<Summary> out;
  for (const auto& e : log.entries()) {
    Summary s;
    if (e.priority == LM_DEBUG &&
        std::sscanf(e.text.c_str(), "Enqueued: %u, succeeded: %u, failed: %u, pending: %u.",
                    &s[0], &s[1], &s[2], &s[3]) == 4)
      out.push_back(s);
  }
  return out;
}
using Summaries = std::vector<Summary>;

}  // namespace task_test

#endif  // TESTS_MODULE_MODELS_TASK_TASK_TEST_UTIL_H
