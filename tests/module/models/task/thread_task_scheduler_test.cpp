#include "models/task/thread_task_scheduler.h"

#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <map>
#include <mutex>
#include <random>

namespace {

using task_test::Latch;
using task_test::Summaries;
using task_test::summaries;
using Error = Task_Base::Error;

struct Job {
  std::string name, owner;
  int index;
};
using Scheduler = Thread_Task_Scheduler<Job>;
using Job_Ptr = std::shared_ptr<Job>;
const Error OK = Task_Base::CODE_SUCCESS, FAILED = Task_Base::CODE_FAILED,
            RETRY = Task_Base::CODE_FAILED_RETRY;

bool enqueue(Scheduler& s, const std::string& name, const std::string& owner = "", int i = 0) {
  return s.enqueue_task(std::make_shared<Job>(Job{name, owner, i}), owner.c_str(), 0,
                        name.c_str(), nullptr);
}
Scheduler::Worker succeed() {
  return [](const Job_Ptr&) { return OK; };
}

// How many task functions run at once, overall and per owner.
struct Concurrency {
  std::mutex mutex;
  int running = 0, most = 0, most_per_owner = 0;
  std::map<std::string, int> per_owner;
  void enter(const std::string& o) {
    std::lock_guard<std::mutex> lock(mutex);
    most = std::max(most, ++running);
    most_per_owner = std::max(most_per_owner, ++per_owner[o]);
  }
  void leave(const std::string& o) {
    std::lock_guard<std::mutex> lock(mutex);
    --running, --per_owner[o];
  }
};

// A task asking again and again runs 1 + retry_times; a retry that succeeds counts once.
TEST(Thread_Task_Scheduler, RetryRule) {
  const struct { unsigned retry_times; int succeed_at, runs; Summaries sums; } cases[] = {
      {0, 0, 1, {{1, 0, 1, 0}}}, {3, 0, 4, {{1, 0, 1, 0}}}, {3, 3, 3, {{1, 1, 0, 0}}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.retry_times);
    test::Log_Capture log;
    std::atomic<int> runs{0};
    Scheduler s(1024);
    ASSERT_TRUE(s.enable_retry(c.retry_times, 0));
    ASSERT_TRUE(enqueue(s, "vol-1"));
    ASSERT_TRUE(s.activate(2, [&](const Job_Ptr&) { return ++runs == c.succeed_at ? OK : RETRY; }));
    ASSERT_TRUE(s.wait());
    EXPECT_EQ(c.runs, runs.load());
    EXPECT_EQ(c.sums, summaries(log));
    EXPECT_EQ(c.succeed_at == 0, log.contains("Failed to enqueue task, id: " +
        std::to_string(c.runs + 1) + ", name: vol-1, count: " + std::to_string(c.runs) + ".", LM_ERROR));
  }
}

TEST(Thread_Task_Scheduler, QueueCapacityRefusesTheTaskBeyondIt) {
  test::Log_Capture log;
  Scheduler s(1024);
  for (int i = 1; i <= 1024; ++i) ASSERT_TRUE(enqueue(s, "t", "host-" + std::to_string(i % 7)));
  EXPECT_FALSE(enqueue(s, "t1025"));
  EXPECT_TRUE(log.contains("Failed to enqueue task, id: 1025, name: t1025, count: 0.", LM_ERROR));
  ASSERT_TRUE(s.activate(8, succeed()));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ((Summaries{{1024, 1024, 0, 0}}), summaries(log));
}

TEST(Thread_Task_Scheduler, StopAbandonsWaitingTasksAndLetsRunningOnesFinish) {
  test::Log_Capture log;
  std::atomic<bool> stop{false};
  Latch started(2), release, stop_seen;
  std::mutex mutex;
  std::vector<std::string> ran;
  Scheduler s(1024);
  s.dispatch_interval(std::chrono::milliseconds(5));
  ASSERT_TRUE(s.register_stop_callback([&] {
    if (stop) stop_seen.count_down();
    return stop.load();
  }));
  ASSERT_TRUE(s.enable_owner_limit(1));
  ASSERT_TRUE(s.enable_retry(3, 0));
  for (const char* owner : {"a", "b", "c", "d", "e"}) ASSERT_TRUE(enqueue(s, owner, owner));
  ASSERT_TRUE(s.activate(2, [&](const Job_Ptr& j) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ran.push_back(j->name);
    }
    started.count_down();
    EXPECT_TRUE(release.wait());
    return j->owner == "a" ? OK : RETRY;
  }));
  ASSERT_TRUE(started.wait());
  stop = true;
  ASSERT_TRUE(stop_seen.wait());  // retries after this point are refused
  release.count_down();
  ASSERT_TRUE(s.wait());
  std::sort(ran.begin(), ran.end());
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), ran);
  EXPECT_EQ((Summaries{{5, 1, 1, 3}}), summaries(log));
  EXPECT_FALSE(enqueue(s, "late"));
}

TEST(Thread_Task_Scheduler, ThrowingTaskFailsAndTasksWithoutOwnerShareTheEmptyOwner) {
  test::Log_Capture log;
  std::atomic<int> running{0}, most{0};
  Scheduler s(1024);
  ASSERT_TRUE(s.enable_owner_limit(1));
  ASSERT_TRUE(s.enqueue_task(std::make_shared<Job>(Job{"bad", "", 0}), nullptr, 0, "bad", nullptr));
  ASSERT_TRUE(s.enqueue_task(std::make_shared<Job>(Job{"y", "", 0}), "", 0, "y", ""));
  ASSERT_TRUE(s.enqueue_task(std::make_shared<Job>(Job{"z", "", 0}), nullptr, 0, nullptr, nullptr));
  ASSERT_TRUE(s.activate(3, [&](const Job_Ptr& j) -> Error {
    const int now = ++running;
    for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {}
    --running;
    if (j->name == "bad") throw std::runtime_error("no such volume");
    return OK;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ(1, most.load());
  EXPECT_TRUE(log.contains("name: bad, what: no such volume.", LM_ERROR)) << log.text();
  EXPECT_TRUE(log.contains("Enqueueing task, id: 3, name: , owner: , count: 1.", LM_DEBUG));
  EXPECT_EQ((Summaries{{3, 2, 1, 0}}), summaries(log));
}

TEST(Thread_Task_Scheduler, RefusesBadConfigurationAndActivation) {
  test::Log_Capture log;
  Scheduler s(1024);
  const std::pair<std::function<bool()>, const char*> cases[] = {
      {[&] { return s.enable_owner_limit(0); }, "limit_per_owner(0) < 1:"},
      {[&] { return s.enable_owner_limit(2147483648u); },
       "limit_per_owner(2147483648) > INT_MAX(2147483647):"},
      {[&] { return s.enqueue_task(nullptr, "o", 0, "n", nullptr); }, "params is NULL:"},
      {[&] { return s.activate(-2, succeed()); }, "n_worker_threads(-2) < 1:"},
      {[&] { return s.activate(2, Scheduler::Worker()); }, "worker is NULL:"},
  };
  for (const auto& c : cases) {
    log.clear();
    EXPECT_FALSE(c.first()) << c.second;
    EXPECT_TRUE(log.contains(c.second, LM_EMERGENCY)) << c.second << "\n" << log.text();
  }
  // None of the refused calls configured or started anything.
  log.clear();
  ASSERT_TRUE(s.enable_owner_limit(INT_MAX));
  ASSERT_TRUE(enqueue(s, "a", "h"));
  ASSERT_TRUE(enqueue(s, "b", "h"));
  ASSERT_TRUE(s.activate(2, succeed()));
  EXPECT_FALSE(s.activate(2, succeed()));
  EXPECT_TRUE(log.contains("worker_ is true:", LM_EMERGENCY));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ((Summaries{{2, 2, 0, 0}}), summaries(log));
  // With nothing queued a run ends at once and takes no more.
  log.clear();
  Scheduler empty(1024);
  ASSERT_TRUE(empty.activate(4, succeed()));
  ASSERT_TRUE(empty.wait());
  EXPECT_EQ((Summaries{{0, 0, 0, 0}}), summaries(log));
  EXPECT_FALSE(enqueue(empty, "late"));
}

// An enqueue racing the end of the run is either refused or its task is run.
TEST(Thread_Task_Scheduler, NoLateTaskIsAcceptedWithoutBeingRun) {
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    test::Log_Capture log;
    std::atomic<unsigned> runs{0}, accepted{1};
    Scheduler s(1024);
    s.dispatch_interval(std::chrono::milliseconds(1));
    ASSERT_TRUE(enqueue(s, "first"));
    ASSERT_TRUE(s.activate(2, [&runs](const Job_Ptr&) { return ++runs, OK; }));
    std::thread late([&] {
      for (int i = 0; i < 50 && enqueue(s, "late"); ++i) ++accepted;
    });
    late.join();
    ASSERT_TRUE(s.wait());
    EXPECT_EQ(accepted.load(), runs.load());
    EXPECT_EQ((Summaries{{accepted.load(), accepted.load(), 0, 0}}), summaries(log));
  }
}

TEST(Thread_Task_Scheduler, DestroyedWithoutWaitStopsTheRunFirst) {
  test::Log_Capture log;
  Latch started, release;
  std::atomic<unsigned> runs{0};
  auto s = std::make_unique<Scheduler>(1024);
  ASSERT_TRUE(enqueue(*s, "running"));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(enqueue(*s, "waiting"));
  ASSERT_TRUE(s->activate(1, [&](const Job_Ptr& j) {
    ++runs;
    if (j->name == "running") {
      started.count_down();
      EXPECT_TRUE(release.wait());
    }
    return OK;
  }));
  ASSERT_TRUE(started.wait());
  std::thread destroyer([&s] { s.reset(); });
  release.count_down();
  destroyer.join();
  const auto sums = summaries(log);
  ASSERT_EQ(1u, sums.size());
  EXPECT_EQ(runs.load(), sums[0][1]);
  EXPECT_EQ(5u, sums[0][1] + sums[0][3]);
}

// ---- stress (bounded to seconds; the folder runs under tsan) ---------------------------

TEST(Thread_Task_Scheduler_Stress, ManyOwnersLimitsRetriesAndCountsAddUp) {
  constexpr int kTasks = 2000, kWorkers = 8, kRuns = 3;  // retry limit 2
  test::Log_Capture log;
  // The result of each run of each task, decided in advance.
  std::mt19937 rng(20240601u);
  std::vector<std::array<Error, kRuns>> results(kTasks);
  std::vector<int> pause(kTasks), expected_runs(kTasks, 1);
  unsigned succeeded = 0;
  for (int i = 0; i < kTasks; ++i) {
    for (auto& r : results[i]) {
      const int p = std::uniform_int_distribution<int>(0, 9)(rng);
      r = p < 5 ? OK : p < 7 ? FAILED : RETRY;
    }
    pause[i] = std::uniform_int_distribution<int>(0, 400)(rng);
    while (expected_runs[i] < kRuns && results[i][expected_runs[i] - 1] == RETRY) ++expected_runs[i];
    succeeded += results[i][expected_runs[i] - 1] == OK;
  }
  Concurrency concurrency;
  std::vector<std::atomic<int>> runs(kTasks);
  Scheduler s(4096);
  ASSERT_TRUE(s.enable_owner_limit(2));
  ASSERT_TRUE(s.enable_retry(2, 0));
  for (int i = 0; i < kTasks; ++i) ASSERT_TRUE(enqueue(s, "t", "owner-" + std::to_string(i % 50), i));
  ASSERT_TRUE(s.activate(kWorkers, [&](const Job_Ptr& j) {
    concurrency.enter(j->owner);
    const int run = runs[j->index]++;
    std::this_thread::sleep_for(std::chrono::microseconds(pause[j->index]));
    concurrency.leave(j->owner);
    return run < kRuns ? results[j->index][run] : FAILED;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_LE(concurrency.most, kWorkers);
  EXPECT_LE(concurrency.most_per_owner, 2);
  for (int i = 0; i < kTasks; ++i) ASSERT_EQ(expected_runs[i], runs[i].load()) << "task " << i;
  EXPECT_EQ((Summaries{{kTasks, succeeded, kTasks - succeeded, 0}}), summaries(log));
}

TEST(Thread_Task_Scheduler_Stress, CancellationAtARandomMoment) {
  constexpr int kTasks = 400, kWorkers = 8;
  std::mt19937 rng(77u);
  for (int round = 0; round < 6; ++round) {
    const int cancel_at = std::uniform_int_distribution<int>(1, kTasks)(rng);
    SCOPED_TRACE(cancel_at);
    test::Log_Capture log;
    std::atomic<bool> cancel{false};
    std::atomic<int> runs{0}, started_after_cancel{0};
    Scheduler s(1024);
    ASSERT_TRUE(s.register_stop_callback([&cancel] { return cancel.load(); }));
    ASSERT_TRUE(s.enable_owner_limit(2));
    ASSERT_TRUE(s.enable_retry(2, 0));
    for (int i = 0; i < kTasks; ++i) ASSERT_TRUE(enqueue(s, "t", "o" + std::to_string(i % 20), i));
    ASSERT_TRUE(s.activate(kWorkers, [&](const Job_Ptr& j) {
      if (cancel) ++started_after_cancel;
      if (++runs == cancel_at) cancel = true;
      std::this_thread::yield();
      return j->index % 5 == 0 ? RETRY : OK;
    }));
    ASSERT_TRUE(s.wait());
    EXPECT_LT(started_after_cancel.load(), kWorkers) << "only tasks already handed out start";
    const auto sums = summaries(log);
    ASSERT_EQ(1u, sums.size());
    EXPECT_EQ(unsigned(kTasks), sums[0][0]);
    EXPECT_EQ(sums[0][0], sums[0][1] + sums[0][2] + sums[0][3]);
    EXPECT_FALSE(enqueue(s, "late"));
  }
}

}  // namespace
