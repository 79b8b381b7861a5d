#include "tavrocloud/job/instance_progress_info.h"
#include "tavrocloud/job/progress_reporter.h"

#include "fixtures.h"
#include "job_engine/job_event_handler.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

TEST_TEMP_HOME();

namespace {

using tavrocloud::Instance_Mem_Map_Handle;
using S = VM_Job_Progress;

std::string states(const Job_Progress_Record& report) {
  std::string out;
  for (const auto& p : report.progresses)
    out += std::to_string(p.state) + "/" + std::to_string(p.processed_bytes) +
           (p.start_time == 100 ? "/100" : p.start_time != 0 ? "/start" : "") +
           (p.end_time != 0 ? "/end " : " ");
  return out;
}

// Records are added before the reporter is activated, never after; an identifier that
// is not a plain word still names a record inside the job's directory. At the final
// report a record still running is failed, a skipped one has no times.
TEST(Progress_Reporter, ReportsRecordsAndFinalStates) {
  Job_var job = test::make_job("progress-1", JOB_DEFINITION_BACKUP);
  Job_Event_Handler events(*job);
  tavrocloud::Progress_Reporter reporter(events, job->activity());
  const std::pair<const char*, S::VM_State> records[] = {
      {"i-run", S::STATE_PENDING}, {"i/../../x", S::STATE_PENDING},
      {"i-skip", S::STATE_SKIPPED}, {"i-done", S::STATE_COMPLETED}};
  for (const auto& [id, state] : records) ASSERT_TRUE(reporter.add(id, id, state));
  test::Log_Capture log;
  EXPECT_FALSE(reporter.add("", "x", S::STATE_PENDING) || reporter.add("x", "", S::STATE_PENDING));
  ASSERT_TRUE(reporter.activate("progress-1"));
  EXPECT_FALSE(reporter.add("late", "late", S::STATE_PENDING) || reporter.activate("progress-1"));
  EXPECT_EQ(log.count("instance_id is empty") + log.count("instance_name is empty"), 2u);
  EXPECT_EQ(log.count("vm_progress_wrapper_.empty() is false"), 2u);

  Instance_Mem_Map_Handle run, odd;  // a handler's view of the records
  ASSERT_EQ(tavrocloud::open_progress_record(run, "progress-1", "i-run", false), 0);
  ASSERT_EQ(tavrocloud::open_progress_record(odd, "progress-1", "i/../../x", false), 0);
  run->set_state(S::STATE_RUNNING);
  run->start(4096, 2);
  run->add_processed(1024);
  odd->set_state(S::STATE_COMPLETED);
  EXPECT_TRUE(reporter.update_time("i-run", 100, true));
  EXPECT_FALSE(reporter.update_time("nobody", 100, true));
  ASSERT_TRUE(reporter.report(false) && reporter.report(true));
  const auto calls = job->progress();
  ASSERT_EQ(calls.size(), 2u);
  const auto st = [](S::VM_State s) { return std::to_string(s); };
  const std::string rest = " " + st(S::STATE_COMPLETED) + "/0 " + st(S::STATE_SKIPPED) + "/0 " +
                           st(S::STATE_COMPLETED) + "/0/start/end ";
  EXPECT_EQ(states(calls[0]) + states(calls[1]) + (calls[1].final ? "final" : ""),
            st(S::STATE_RUNNING) + "/1024/100" + rest + st(S::STATE_FAILED) + "/1024/100" + rest +
                "final");
}

TEST(Instance_Progress_Info, ConcurrentAdditionsAreNotLostAndRetriesNeverGoNegative) {
  Job_var job = test::make_job("progress-2", JOB_DEFINITION_BACKUP);
  Job_Event_Handler events(*job);
  tavrocloud::Progress_Reporter reporter(events, job->activity());
  ASSERT_TRUE(reporter.add("i-1", "one", S::STATE_PENDING) && reporter.activate("progress-2"));
  Instance_Mem_Map_Handle record;
  ASSERT_EQ(tavrocloud::open_progress_record(record, "progress-2", "i-1", false), 0);
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) record->add_processed(1);
      record->add_processed_volume();
    });
  std::thread reader([&] {
    for (int i = 0; i < 100; ++i) {
      reporter.update_time("i-1", i, false);
      reporter.report(false);
    }
  });
  for (auto& w : writers) w.join();
  reader.join();
  EXPECT_EQ(record->processed_size.load(), 40000u);
  EXPECT_EQ(record->processed_volume_num.load(), 4u);
  record->sub_processed(50000);
  EXPECT_EQ(record->processed_size.load(), 0u);
}

}  // namespace
