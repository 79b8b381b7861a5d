#include "models/task/thread_task_scheduler.h"

#include "module/models/task/task_test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace {

using test::Latch;
using task_test::Summaries;
using task_test::summaries;
using Error = Task_Base::Error;

struct Job {
  std::string name, owner;
  int index;
};
using Scheduler = Thread_Task_Scheduler<Job>;
using Job_Ptr = std::shared_ptr<Job>;
const Error OK = Task_Base::CODE_SUCCESS, FAILED = Task_Base::CODE_FAILED;
const Error RETRY = Task_Base::CODE_FAILED_RETRY;

// Enqueues a task; a null `owner` or `name` is passed on as such.
bool enqueue(Scheduler& s, const char* name, const char* owner = "", int i = 0) {
  const auto job = std::make_shared<Job>(Job{name ? name : "", owner ? owner : "", i});
  return s.enqueue_task(job, owner, 0, name, nullptr);
}
const Scheduler::Worker succeed = [](const Job_Ptr&) { return OK; };

// One row per run of tasks without owner (null and "" are one owner, limited to one task
// at a time, no retries): tasks enqueued (the queue holds 1024) and what run n of
// task i returns; then the runs, the summary and a line logged. A run refuses a second
// activation, and takes no task once it has ended.
TEST(Thread_Task_Scheduler, RunsRetriesAndRefusals) {
  using Result = Error (*)(int task, int run);
  const Result retry = [](int, int) { return RETRY; };
  const Result ok = [](int, int) { return OK; };
  const Result second_throws = [](int task, int) {
    return task == 1 ? throw std::runtime_error("no such volume") : OK;
  };
  struct Row { int tasks; Result result; int runs; Summaries sums; const char* logged; };
  const Row rows[] = {
      {0, nullptr, 0, {{0, 0, 0, 0}}, ""},
      {1, retry, 1, {{1, 0, 1, 0}}, "Failed to enqueue task, id: 2, name: t0, count: 1."},
      {1025, ok, 1024, {{1024, 1024, 0, 0}}, "enqueue task, id: 1025, name: t1024, count: 0."},
      {3, second_throws, 3, {{3, 2, 1, 0}}, "name: t1, what: no such volume."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.runs);
    test::Log_Capture log;
    std::vector<std::atomic<int>> runs(row.tasks);
    std::atomic<int> running{0};
    Scheduler s(1024);
    ASSERT_TRUE(s.enable_retry(0, 0) && s.enable_owner_limit(1));
    for (int i = 0; i < row.tasks; ++i) {
      const std::string name = "t" + std::to_string(i);
      EXPECT_EQ(i < 1024, enqueue(s, i == 2 ? nullptr : name.c_str(), i % 2 ? "" : nullptr, i));
    }
    ASSERT_TRUE(s.activate(4, [&](const Job_Ptr& j) {
      EXPECT_EQ(1, ++running) << "one task of the owner at a time";
      const int run = ++runs[j->index];
      --running;
      return row.result(j->index, run);
    }));
    EXPECT_FALSE(s.activate(4, succeed));
    ASSERT_TRUE(s.wait());
    EXPECT_FALSE(enqueue(s, "late"));
    EXPECT_EQ(row.runs, std::accumulate(runs.begin(), runs.end(), 0));
    EXPECT_EQ(row.sums, summaries(log));
    EXPECT_TRUE(log.contains(row.logged)) << log.text();
  }
}

// Tasks a and b run (one per owner), b asks again after the stop was seen: refused, so it
// fails; c, d and e never leave the queue.
TEST(Thread_Task_Scheduler, StopAbandonsWaitingTasksAndLetsRunningOnesFinish) {
  test::Log_Capture log;
  std::atomic<bool> stop{false};
  std::atomic<int> runs{0};
  Latch started(2), release, stop_seen;
  Scheduler s(1024);
  s.dispatch_interval(std::chrono::milliseconds(5));
  ASSERT_TRUE(s.register_stop_callback([&] {
    const bool stopping = stop;
    if (stopping) stop_seen.count_down();
    return stopping;
  }));
  ASSERT_TRUE(s.enable_owner_limit(1) && s.enable_retry(3, 0));
  for (const char* owner : {"a", "b", "c", "d", "e"}) ASSERT_TRUE(enqueue(s, owner, owner));
  ASSERT_TRUE(s.activate(2, [&](const Job_Ptr& j) {
    ++runs;
    started.count_down();
    EXPECT_TRUE(release.wait());
    return j->owner == "a" ? OK : RETRY;
  }));
  ASSERT_TRUE(started.wait());
  stop = true;
  ASSERT_TRUE(stop_seen.wait());  // retries after this point are refused
  release.count_down();
  ASSERT_TRUE(s.wait());
  EXPECT_EQ(2, runs.load());
  EXPECT_EQ((Summaries{{5, 1, 1, 3}}), summaries(log));
}

// An owner at its limit does not hold back the owners after it: b's second task runs
// while a's first still takes a's only place.
TEST(Thread_Task_Scheduler, AnOwnerAtItsLimitHoldsBackOnlyItself) {
  test::Log_Capture log;
  Latch b_ran(2);
  Scheduler s(1024);
  ASSERT_TRUE(s.enable_owner_limit(1));
  for (const char* owner : {"a", "a", "b", "b"}) ASSERT_TRUE(enqueue(s, owner, owner));
  ASSERT_TRUE(s.activate(3, [&](const Job_Ptr& j) {
    if (j->owner == "b") b_ran.count_down();
    return j->owner == "b" || b_ran.wait(std::chrono::seconds(5)) ? OK : FAILED;
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_EQ((Summaries{{4, 4, 0, 0}}), summaries(log));
}

// A refused call configures or starts nothing: the scheduler still runs afterwards.
TEST(Thread_Task_Scheduler, RefusesBadConfigurationAndActivation) {
  test::Log_Capture log;
  Scheduler s(1024);
  const std::pair<std::function<bool()>, const char*> cases[] = {
      {[&] { return s.enable_owner_limit(0); }, "limit_per_owner(0) < 1:"},
      {[&] { return s.enable_owner_limit(2147483648u); },
       "limit_per_owner(2147483648) > INT_MAX(2147483647):"},
      {[&] { return s.enqueue_task(nullptr, "o", 0, "n", nullptr); }, "params is NULL:"},
      {[&] { return s.activate(-2, succeed); }, "n_worker_threads(-2) < 1:"},
      {[&] { return s.activate(2, Scheduler::Worker()); }, "worker is NULL:"},
  };
  for (const auto& c : cases) {
    log.clear();
    EXPECT_FALSE(c.first()) << c.second;
    EXPECT_TRUE(log.contains(c.second, LM_EMERGENCY)) << c.second << "\n" << log.text();
  }
  ASSERT_TRUE(s.enable_owner_limit(INT_MAX) && enqueue(s, "a", "h"));
  ASSERT_TRUE(s.activate(2, succeed) && s.wait());
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
    ASSERT_TRUE(s.activate(2, [&runs](const Job_Ptr&) {
      ++runs;
      return OK;
    }));
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
  for (const char* name : {"running", "waiting", "waiting", "waiting", "waiting"})
    ASSERT_TRUE(enqueue(*s, name));
  ASSERT_TRUE(s->activate(1, [&](const Job_Ptr& j) {
    ++runs;
    if (j->name == "running") started.count_down();
    return j->name == "running" && !release.wait() ? FAILED : OK;
  }));
  ASSERT_TRUE(started.wait());
  std::thread destroyer([&s] { s.reset(); });
  release.count_down();
  destroyer.join();
  EXPECT_EQ((Summaries{{5, runs.load(), 0, 5 - runs.load()}}), summaries(log));
}

// ---- stress (bounded to seconds; the folder runs under tsan) ---------------------------

// Raises `most` to `now` when that is more, for counting how many tasks run at once.
void raise_to(std::atomic<int>& most, int now) {
  for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
  }
}

TEST(Thread_Task_Scheduler_Stress, ManyOwnersLimitsRetriesAndCountsAddUp) {
  constexpr int kTasks = 2000, kWorkers = 8, kOwners = 50;
  test::Log_Capture log;
  // Run r of task i asks for a retry while r < i % 4 (the limit of two retries fails the
  // tasks with i % 4 == 3), then odd tasks succeed and even ones fail: a quarter succeed.
  const auto result = [](int i, int r) { return r < i % 4 ? RETRY : i % 2 ? OK : FAILED; };
  std::vector<std::atomic<int>> runs(kTasks), per_owner(kOwners);
  std::atomic<int> running{0}, most{0}, most_per_owner{0};
  Scheduler s(4096);
  ASSERT_TRUE(s.enable_owner_limit(2) && s.enable_retry(2, 0));
  for (int i = 0; i < kTasks; ++i)
    ASSERT_TRUE(enqueue(s, "t", ("owner-" + std::to_string(i % kOwners)).c_str(), i));
  ASSERT_TRUE(s.activate(kWorkers, [&](const Job_Ptr& j) {
    raise_to(most, ++running);
    raise_to(most_per_owner, ++per_owner[j->index % kOwners]);
    const int run = runs[j->index]++;
    std::this_thread::sleep_for(std::chrono::microseconds(j->index * 37 % 400));
    --per_owner[j->index % kOwners];
    --running;
    return result(j->index, run);
  }));
  ASSERT_TRUE(s.wait());
  EXPECT_LE(most.load(), kWorkers);
  EXPECT_LE(most_per_owner.load(), 2);
  for (int i = 0; i < kTasks; ++i) ASSERT_EQ(std::min(i % 4, 2) + 1, runs[i].load()) << i;
  EXPECT_EQ((Summaries{{kTasks, kTasks / 4, kTasks - kTasks / 4, 0}}), summaries(log));
}

// A stop at a random moment: only tasks already handed out start after it, and every task
// is counted once.
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
    ASSERT_TRUE(s.enable_owner_limit(2) && s.enable_retry(2, 0));
    for (int i = 0; i < kTasks; ++i)
      ASSERT_TRUE(enqueue(s, "t", ("o" + std::to_string(i % 20)).c_str(), i));
    ASSERT_TRUE(s.activate(kWorkers, [&](const Job_Ptr& j) {
      if (cancel) ++started_after_cancel;
      if (++runs == cancel_at) cancel = true;
      std::this_thread::yield();
      return j->index % 5 == 0 ? RETRY : OK;
    }));
    ASSERT_TRUE(s.wait());
    EXPECT_LT(started_after_cancel.load(), kWorkers);
    const auto sums = summaries(log);
    ASSERT_EQ(1u, sums.size());
    EXPECT_EQ(kTasks, sums[0][0]);
    EXPECT_EQ(sums[0][0], sums[0][1] + sums[0][2] + sums[0][3]);
  }
}

}  // namespace
