// bench-component: mod_task
//
// Costs of the thread task scheduler: the overhead per task from enqueue to completion
// with task functions that do nothing, spread over many owners; and how long a run takes
// to reach full concurrency with long tasks, which is bounded by the dispatcher's
// cadence (one task per owner per pass, a pass at every completion and at least every 3
// seconds). Both run at the production dispatcher interval.
#include "models/task/thread_task_scheduler.h"

#include <ace/Log_Msg.h>
#include <ace/Log_Msg_Backend.h>
#include <ace/Log_Record.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Item {
  int index = 0;
};
using Scheduler = Thread_Task_Scheduler<Item>;

// Routes the log to a backend that drops every record. With `debug` false the debug
// records (several per task) are masked as well, as in a job that logs at info level.
class Log_Sink {
 public:
  explicit Log_Sink(bool debug) {
    ACE_Log_Msg::msg_backend(&backend_);
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::CUSTOM);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::STDERR);
    saved_mask_ = ACE_LOG_MSG->priority_mask(ACE_Log_Msg::PROCESS);
    u_long mask = saved_mask_;
    if (debug) {
      mask |= LM_DEBUG;
    } else {
      mask &= ~static_cast<u_long>(LM_DEBUG);
    }
    ACE_LOG_MSG->priority_mask(mask, ACE_Log_Msg::PROCESS);
  }
  ~Log_Sink() {
    ACE_LOG_MSG->priority_mask(saved_mask_, ACE_Log_Msg::PROCESS);
    ACE_LOG_MSG->clr_flags(ACE_Log_Msg::CUSTOM);
    ACE_LOG_MSG->set_flags(ACE_Log_Msg::STDERR);
    ACE_Log_Msg::msg_backend(nullptr);
  }
  Log_Sink(const Log_Sink&) = delete;
  Log_Sink& operator=(const Log_Sink&) = delete;

 private:
  class Drop : public ACE_Log_Msg_Backend {
   public:
    int open(const ACE_TCHAR*) override { return 0; }
    int reset() override { return 0; }
    int close() override { return 0; }
    ssize_t log(ACE_Log_Record&) override { return 0; }
  };
  Drop backend_;
  u_long saved_mask_ = 0;
};

// args: tasks, owners, debug records formatted (0/1). 8 workers, owner limit 2.
void BM_TrivialTasks(benchmark::State& state) {
  const int tasks = static_cast<int>(state.range(0));
  const int owners = static_cast<int>(state.range(1));
  Log_Sink sink(state.range(2) != 0);
  std::vector<std::shared_ptr<Item>> items;
  for (int i = 0; i < tasks; ++i) items.push_back(std::make_shared<Item>(Item{i}));
  std::vector<std::string> owner_names;
  for (int o = 0; o < owners; ++o) owner_names.push_back("host-" + std::to_string(o));

  for (auto _ : state) {
    Scheduler s(tasks);
    s.enable_owner_limit(2);
    for (int i = 0; i < tasks; ++i)
      s.enqueue_task(items[i], owner_names[i % owners].c_str(), 0, "task", nullptr);
    s.activate(8, [](const std::shared_ptr<Item>&) { return Task_Base::CODE_SUCCESS; });
    s.wait();
  }
  state.SetItemsProcessed(state.iterations() * tasks);
  state.counters["per_task"] = benchmark::Counter(
      static_cast<double>(tasks),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_TrivialTasks)
    ->ArgNames({"tasks", "owners", "debug"})
    ->Args({1000, 1, 0})
    ->Args({1000, 16, 0})
    ->Args({1000, 256, 0})
    ->Args({10000, 256, 0})
    ->Args({1000, 256, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// args: N tasks and N workers, one owner (1) or N owners (0). Measures activate until
// the N-th task function has started; the tasks then wait to be released.
void BM_TimeToFullConcurrency(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const bool one_owner = state.range(1) != 0;
  Log_Sink sink(false);
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable cond;
    int started = 0;
    bool release = false;
    Scheduler s(1024);
    for (int i = 0; i < n; ++i) {
      const std::string owner = one_owner ? "volumes" : "host-" + std::to_string(i);
      s.enqueue_task(std::make_shared<Item>(Item{i}), owner.c_str(), 0, "task", nullptr);
    }
    const auto begin = std::chrono::steady_clock::now();
    s.activate(n, [&](const std::shared_ptr<Item>&) {
      std::unique_lock<std::mutex> lock(mutex);
      ++started;
      cond.notify_all();
      cond.wait(lock, [&] { return release; });
      return Task_Base::CODE_SUCCESS;
    });
    {
      std::unique_lock<std::mutex> lock(mutex);
      cond.wait(lock, [&] { return started == n; });
    }
    const auto end = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex);
      release = true;
    }
    cond.notify_all();
    s.wait();
    state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
  }
}
BENCHMARK(BM_TimeToFullConcurrency)
    ->ArgNames({"tasks", "one_owner"})
    ->Args({8, 0})
    ->Args({2, 1})
    ->Args({4, 1})
    ->Args({8, 1})
    ->Iterations(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
