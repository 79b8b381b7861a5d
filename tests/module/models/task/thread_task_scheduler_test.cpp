#include "models/task/thread_task_scheduler.h"

#include "module/models/task/task_test_util.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using task_test::Latch;
using task_test::Summary;
using task_test::summaries;

struct Job {
  std::string name;
  std::string owner;
  int index = 0;
};
using Scheduler = Thread_Task_Scheduler<Job>;
using Job_Ptr = std::shared_ptr<Job>;

Job_Ptr job(const std::string& name, const std::string& owner = "", int index = 0) {
  return std::make_shared<Job>(Job{name, owner, index});
}

bool enqueue(Scheduler& s, const Job_Ptr& j) {
  return s.enqueue_task(j, j->owner.c_str(), 0, j->name.c_str(), nullptr);
}

Scheduler::Worker succeed() {
  return [](const Job_Ptr&) { return Task_Base::CODE_SUCCESS; };
}

// ---- behaviour of one run ----------------------------------------------------------

TEST(Thread_Task_Scheduler, RetryRuleBoundsTheRunsOfATaskThatAlwaysAsksAgain) {
  struct Case {
    unsigned int retry_times;
    int runs;
  };
  for (const Case& c : {Case{0, 1}, Case{3, 4}}) {
    SCOPED_TRACE("retry_times " + std::to_string(c.retry_times));
    test::Log_Capture log;
    std::atomic<int> runs{0};
    Scheduler s(1024);
    ASSERT_TRUE(s.enable_retry(c.retry_times, 0));
    ASSERT_TRUE(enqueue(s, job("vol-1")));
    ASSERT_TRUE(s.activate(2, [&runs](const Job_Ptr&) {
      ++runs;
      return Task_Base::CODE_FAILED_RETRY;
    }));
    ASSERT_TRUE(s.wait());
    EXPECT_EQ(c.runs, runs.load());
    for (int n = 1; n <= c.runs; ++n)
      EXPECT_TRUE(log.contains("owner: , count: " + std::to_string(n) + ".", LM_DEBUG)) << n;
    EXPECT_TRUE(log.contains("Failed to enqueue task, id: " + std::to_string(c.runs + 1) +
                                 ", name: vol-1, count: " + std::to_string(c.runs) + ".",
                             LM_ERROR))
        << log.text();
    EXPECT_EQ((std::vector<Summary>{Summary{1, 0, 1, 0}}), summaries(log));
  }
}

TEST(Thread_Task_Scheduler, ARetryThatSucceedsCountsOnce) {
  test::Log_Capture log;
  std::atomic<int> runs{0};
  Scheduler s(1024);
  ASSERT_TRUE(s.enable_retry(3, 0));
  ASSERT_TRUE(enqueue(s, job("i-1", "host")));
  ASSERT_TRUE(s.activate(1, [&runs](const Job_Ptr&) {
    return ++runs < 3 ? Task_Base::CODE_FAILED_RETRY : Task_Base::CODE_SUCCESS;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ(3, runs.load());
  EXPECT_EQ((std::vector<Summary>{Summary{1, 1, 0, 0}}), summaries(log));
}

TEST(Thread_Task_Scheduler, QueueCapacityRefusesTheTaskBeyondIt) {
  test::Log_Capture log;
  Scheduler s(1024);
  for (int i = 1; i <= 1024; ++i)
    ASSERT_TRUE(enqueue(s, job("t" + std::to_string(i), "host-" + std::to_string(i % 7))));
  EXPECT_FALSE(enqueue(s, job("t1025")));
  EXPECT_TRUE(log.contains("Failed to enqueue task, id: 1025, name: t1025, count: 0.", LM_ERROR))
      << log.text();

  std::atomic<int> runs{0};
  ASSERT_TRUE(s.activate(8, [&runs](const Job_Ptr&) {
    ++runs;
    return Task_Base::CODE_SUCCESS;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ(1024, runs.load());
  EXPECT_EQ((std::vector<Summary>{Summary{1024, 1024, 0, 0}}), summaries(log));
}

TEST(Thread_Task_Scheduler, StopAbandonsWaitingTasksAndLetsRunningOnesFinish) {
  test::Log_Capture log;
  std::atomic<bool> stop{false};
  Latch started(2);
  Latch release;
  std::mutex mutex;
  std::vector<std::string> ran;
  Latch stop_seen;
  Scheduler s(1024);
  s.dispatch_interval(std::chrono::milliseconds(5));
  ASSERT_TRUE(s.register_stop_callback([&] {
    if (stop) stop_seen.count_down();
    return stop.load();
  }));
  ASSERT_TRUE(s.enable_owner_limit(1));
  ASSERT_TRUE(s.enable_retry(3, 0));
  for (const char* owner : {"a", "b", "c", "d", "e"})
    ASSERT_TRUE(enqueue(s, job(std::string("i-") + owner, owner)));
  ASSERT_TRUE(s.activate(2, [&](const Job_Ptr& j) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ran.push_back(j->name);
    }
    started.count_down();
    EXPECT_TRUE(release.wait());
    return j->owner == "a" ? Task_Base::CODE_SUCCESS : Task_Base::CODE_FAILED_RETRY;
  }));
  ASSERT_TRUE(started.wait());
  stop = true;
  ASSERT_TRUE(stop_seen.wait());  // retries after this point are refused
  release.count_down();
  ASSERT_TRUE(s.wait());

  std::sort(ran.begin(), ran.end());
  EXPECT_EQ((std::vector<std::string>{"i-a", "i-b"}), ran);
  EXPECT_EQ((std::vector<Summary>{Summary{5, 1, 1, 3}}), summaries(log));
  EXPECT_FALSE(enqueue(s, job("late")));
}

TEST(Thread_Task_Scheduler, ATaskFunctionThatThrowsCountsAsFailed) {
  test::Log_Capture log;
  Scheduler s(1024);
  ASSERT_TRUE(enqueue(s, job("bad")));
  ASSERT_TRUE(enqueue(s, job("good")));
  ASSERT_TRUE(s.activate(1, [](const Job_Ptr& j) -> Task_Base::Error {
    if (j->name == "bad") throw std::runtime_error("no such volume");
    return Task_Base::CODE_SUCCESS;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_TRUE(log.contains("name: bad, what: no such volume.", LM_ERROR)) << log.text();
  EXPECT_EQ((std::vector<Summary>{Summary{2, 1, 1, 0}}), summaries(log));
}

TEST(Thread_Task_Scheduler, TasksWithoutOwnerShareTheEmptyOwner) {
  test::Log_Capture log;
  std::atomic<int> running{0};
  std::atomic<int> most{0};
  Scheduler s(1024);
  ASSERT_TRUE(s.enable_owner_limit(1));
  ASSERT_TRUE(s.enqueue_task(job("x"), nullptr, 0, "x", nullptr));
  ASSERT_TRUE(s.enqueue_task(job("y"), "", 0, "y", ""));
  ASSERT_TRUE(s.enqueue_task(job("z"), nullptr, 0, nullptr, nullptr));
  ASSERT_TRUE(s.activate(3, [&](const Job_Ptr&) {
    const int now = ++running;
    int seen = most;
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
    --running;
    return Task_Base::CODE_SUCCESS;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ(1, most.load());
  EXPECT_TRUE(log.contains("Enqueueing task, id: 3, name: , owner: , count: 1.", LM_DEBUG));
  EXPECT_EQ((std::vector<Summary>{Summary{3, 3, 0, 0}}), summaries(log));
}

// ---- refusals ------------------------------------------------------------------------

TEST(Thread_Task_Scheduler, RefusesBadConfigurationAndActivation) {
  test::Log_Capture log;
  Scheduler s(1024);
  struct Case {
    std::function<bool()> call;
    const char* message;
  };
  const Case cases[] = {
      {[&] { return s.enable_owner_limit(0); }, "limit_per_owner(0) < 1:"},
      {[&] { return s.enable_owner_limit(2147483648u); },
       "limit_per_owner(2147483648) > INT_MAX(2147483647):"},
      {[&] { return s.enable_owner_limit(UINT32_MAX); },
       "limit_per_owner(4294967295) > INT_MAX(2147483647):"},
      {[&] { return s.enqueue_task(nullptr, "o", 0, "n", nullptr); }, "params is NULL:"},
      {[&] { return s.activate(0, succeed()); }, "n_worker_threads(0) < 1:"},
      {[&] { return s.activate(-2, succeed()); }, "n_worker_threads(-2) < 1:"},
      {[&] { return s.activate(2, Scheduler::Worker()); }, "worker is NULL:"},
  };
  for (const Case& c : cases) {
    log.clear();
    EXPECT_FALSE(c.call()) << c.message;
    EXPECT_TRUE(log.contains(c.message, LM_EMERGENCY)) << c.message << "\n" << log.text();
  }

  // None of the refused calls configured or started anything: the run works as plain.
  log.clear();
  ASSERT_TRUE(s.enable_owner_limit(INT_MAX));
  std::atomic<int> runs{0};
  ASSERT_TRUE(enqueue(s, job("a", "h")));
  ASSERT_TRUE(enqueue(s, job("b", "h")));
  ASSERT_TRUE(s.activate(2, [&runs](const Job_Ptr&) {
    ++runs;
    return Task_Base::CODE_SUCCESS;
  }));
  EXPECT_FALSE(s.activate(2, succeed()));
  EXPECT_TRUE(log.contains("worker_ is true:", LM_EMERGENCY));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ(2, runs.load());
}

TEST(Thread_Task_Scheduler, ActivateWithNothingQueuedEndsAtOnceAndTakesNoMore) {
  test::Log_Capture log;
  Scheduler s(1024);
  ASSERT_TRUE(s.activate(4, succeed()));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ((std::vector<Summary>{Summary{0, 0, 0, 0}}), summaries(log));
  EXPECT_FALSE(enqueue(s, job("late")));
}

// A task accepted while the run is ending must still run: an enqueue either is refused
// or its task is run.
TEST(Thread_Task_Scheduler, NoLateTaskIsAcceptedWithoutBeingRun) {
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    test::Log_Capture log;
    std::atomic<int> runs{0};
    std::atomic<int> accepted{1};
    Scheduler s(1024);
    s.dispatch_interval(std::chrono::milliseconds(1));
    ASSERT_TRUE(enqueue(s, job("first")));
    ASSERT_TRUE(s.activate(2, [&runs](const Job_Ptr&) {
      ++runs;
      return Task_Base::CODE_SUCCESS;
    }));
    std::thread late([&] {
      for (int i = 0; i < 50 && enqueue(s, job("late-" + std::to_string(i))); ++i) ++accepted;
    });
    late.join();
    ASSERT_TRUE(s.wait());
    EXPECT_EQ(accepted.load(), runs.load());
    const auto sums = summaries(log);
    ASSERT_EQ(1u, sums.size());
    EXPECT_EQ(0u, sums[0].pending);
    EXPECT_EQ(static_cast<unsigned>(accepted.load()), sums[0].enqueued);
  }
}

TEST(Thread_Task_Scheduler, DestroyedWithoutWaitStopsTheRunFirst) {
  test::Log_Capture log;
  Latch started;
  Latch release;
  std::atomic<int> runs{0};
  auto s = std::make_unique<Scheduler>(1024);
  ASSERT_TRUE(enqueue(*s, job("running")));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(enqueue(*s, job("waiting")));
  ASSERT_TRUE(s->activate(1, [&](const Job_Ptr& j) {
    ++runs;
    if (j->name == "running") {
      started.count_down();
      EXPECT_TRUE(release.wait());
    }
    return Task_Base::CODE_SUCCESS;
  }));
  ASSERT_TRUE(started.wait());
  std::thread destroyer([&s] { s.reset(); });
  release.count_down();
  destroyer.join();
  const auto sums = summaries(log);
  ASSERT_EQ(1u, sums.size());
  EXPECT_EQ(static_cast<unsigned>(runs.load()), sums[0].succeeded);
  EXPECT_EQ(5u, sums[0].succeeded + sums[0].pending);
}

// ---- stress (bounded to seconds; the folder runs under tsan) ---------------------------

// Tracks how many task functions run at once, overall and per owner.
class Concurrency {
 public:
  void enter(const std::string& owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    most_ = std::max(most_, ++running_);
    int& n = per_owner_[owner];
    most_per_owner_ = std::max(most_per_owner_, ++n);
  }
  void leave(const std::string& owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    --per_owner_[owner];
  }
  int most() {
    std::lock_guard<std::mutex> lock(mutex_);
    return most_;
  }
  int most_per_owner() {
    std::lock_guard<std::mutex> lock(mutex_);
    return most_per_owner_;
  }

 private:
  std::mutex mutex_;
  int running_ = 0, most_ = 0, most_per_owner_ = 0;
  std::map<std::string, int> per_owner_;
};

// The result of each run of each task, decided in advance from a seed.
struct Script {
  static constexpr int kRunsMax = 3;  // retry limit 2
  std::vector<std::array<Task_Base::Error, kRunsMax>> results;
  std::vector<int> sleep_us;

  Script(int tasks, unsigned seed) : results(tasks), sleep_us(tasks) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 9), pause(0, 400);
    for (int i = 0; i < tasks; ++i) {
      for (auto& r : results[i]) {
        const int p = pick(rng);
        r = p < 5 ? Task_Base::CODE_SUCCESS
                  : p < 7 ? Task_Base::CODE_FAILED : Task_Base::CODE_FAILED_RETRY;
      }
      sleep_us[i] = pause(rng);
    }
  }

  // The runs each task gets and whether its last run counts as a success.
  int expected_runs(int i) const {
    int runs = 1;
    while (runs < kRunsMax && results[i][runs - 1] == Task_Base::CODE_FAILED_RETRY) ++runs;
    return runs;
  }
  bool expected_success(int i) const {
    return results[i][expected_runs(i) - 1] == Task_Base::CODE_SUCCESS;
  }
};

TEST(Thread_Task_Scheduler_Stress, ManyOwnersLimitsRetriesAndCountsAddUp) {
  constexpr int kTasks = 2000, kOwners = 50, kWorkers = 8;
  test::Log_Capture log;
  const Script script(kTasks, 20240601u);
  Concurrency concurrency;
  std::vector<std::atomic<int>> runs(kTasks);
  Scheduler s(4096);
  ASSERT_TRUE(s.enable_owner_limit(2));
  ASSERT_TRUE(s.enable_retry(2, 0));
  for (int i = 0; i < kTasks; ++i)
    ASSERT_TRUE(enqueue(s, job("t" + std::to_string(i), "owner-" + std::to_string(i % kOwners), i)));
  ASSERT_TRUE(s.activate(kWorkers, [&](const Job_Ptr& j) {
    concurrency.enter(j->owner);
    const int run = runs[j->index]++;
    std::this_thread::sleep_for(std::chrono::microseconds(script.sleep_us[j->index]));
    concurrency.leave(j->owner);
    return run < Script::kRunsMax ? script.results[j->index][run] : Task_Base::CODE_FAILED;
  }));
  ASSERT_TRUE(s.wait());

  EXPECT_LE(concurrency.most(), kWorkers);
  EXPECT_LE(concurrency.most_per_owner(), 2);
  unsigned succeeded = 0, failed = 0;
  for (int i = 0; i < kTasks; ++i) {
    ASSERT_EQ(script.expected_runs(i), runs[i].load()) << "task " << i;
    (script.expected_success(i) ? succeeded : failed)++;
  }
  EXPECT_EQ((std::vector<Summary>{(Summary{kTasks, succeeded, failed, 0})}), summaries(log));
}

TEST(Thread_Task_Scheduler_Stress, InstanceTasksRunTheirOwnVolumeSchedulers) {
  constexpr int kInstances = 24, kVolumes = 5;
  test::Log_Capture log;
  Concurrency instances;
  std::atomic<int> volume_runs{0};
  std::atomic<int> instances_ok{0};
  Scheduler outer(1024);
  ASSERT_TRUE(outer.enable_owner_limit(2));
  for (int i = 0; i < kInstances; ++i)
    ASSERT_TRUE(enqueue(outer, job("i-" + std::to_string(i), "host-" + std::to_string(i % 4), i)));
  ASSERT_TRUE(outer.activate(4, [&](const Job_Ptr& instance) {
    instances.enter(instance->owner);
    std::atomic<int> volumes_ok{0};
    {
      Scheduler inner(1024);
      inner.enable_retry(1, 0);
      for (int v = 0; v < kVolumes; ++v)
        inner.enqueue_task(job("vol-" + std::to_string(v), "", v), nullptr, 0, "vol", nullptr);
      // Every other volume fails once and asks for a retry.
      std::vector<std::atomic<int>> tries(kVolumes);
      inner.activate(3, [&](const Job_Ptr& volume) {
        ++volume_runs;
        if (tries[volume->index]++ == 0 && volume->index % 2 == 0)
          return Task_Base::CODE_FAILED_RETRY;
        ++volumes_ok;
        return Task_Base::CODE_SUCCESS;
      });
      inner.wait();
    }
    instances.leave(instance->owner);
    if (volumes_ok != kVolumes) return Task_Base::CODE_FAILED;
    ++instances_ok;
    return Task_Base::CODE_SUCCESS;
  }));
  ASSERT_TRUE(outer.wait());

  EXPECT_EQ(kInstances, instances_ok.load());
  EXPECT_EQ(kInstances * (kVolumes + (kVolumes + 1) / 2), volume_runs.load());
  EXPECT_LE(instances.most(), 4);
  EXPECT_LE(instances.most_per_owner(), 2);
  const auto sums = summaries(log);
  ASSERT_EQ(static_cast<size_t>(kInstances + 1), sums.size());
  for (int i = 0; i < kInstances; ++i)
    EXPECT_EQ((Summary{kVolumes, kVolumes, 0, 0}), sums[i]);
  EXPECT_EQ((Summary{kInstances, kInstances, 0, 0}), sums.back()) << "the outer run ends last";
}

TEST(Thread_Task_Scheduler_Stress, CancellationAtARandomMoment) {
  constexpr int kTasks = 400, kWorkers = 8;
  std::mt19937 rng(77u);
  for (int round = 0; round < 6; ++round) {
    const int cancel_at = std::uniform_int_distribution<int>(1, kTasks)(rng);
    SCOPED_TRACE("cancel at run " + std::to_string(cancel_at));
    test::Log_Capture log;
    std::atomic<bool> cancel{false};
    std::atomic<int> runs{0};
    std::atomic<int> started_after_cancel{0};
    Scheduler s(1024);
    ASSERT_TRUE(s.register_stop_callback([&cancel] { return cancel.load(); }));
    ASSERT_TRUE(s.enable_owner_limit(2));
    ASSERT_TRUE(s.enable_retry(2, 0));
    for (int i = 0; i < kTasks; ++i)
      ASSERT_TRUE(enqueue(s, job("t" + std::to_string(i), "o" + std::to_string(i % 20), i)));
    ASSERT_TRUE(s.activate(kWorkers, [&](const Job_Ptr& j) {
      if (cancel) ++started_after_cancel;
      if (++runs == cancel_at) cancel = true;
      std::this_thread::yield();
      return j->index % 5 == 0 ? Task_Base::CODE_FAILED_RETRY : Task_Base::CODE_SUCCESS;
    }));
    ASSERT_TRUE(s.wait());

    EXPECT_LT(started_after_cancel.load(), kWorkers) << "only tasks already handed out start";
    const auto sums = summaries(log);
    ASSERT_EQ(1u, sums.size());
    EXPECT_EQ(static_cast<unsigned>(kTasks), sums[0].enqueued);
    EXPECT_EQ(sums[0].enqueued, sums[0].succeeded + sums[0].failed + sums[0].pending);
    EXPECT_FALSE(enqueue(s, job("late")));
  }
}

}  // namespace
