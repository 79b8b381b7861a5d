#include "tavrocloud/job/instance_history.h"
#include "tavrocloud/job/instance_progress_info.h"
#include "tavrocloud/job/progress_reporter.h"

#include "job_engine/job.h"
#include "job_engine/job_event_handler.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

TEST_TEMP_HOME();

namespace {

using tavrocloud::Instance_Histories;
using tavrocloud::Instance_Mem_Map_Handle;
using tavrocloud::Progress_Reporter;
using tavrocloud::VM_History_State;
using S = VM_Job_Progress;

Job_var make_job(const std::string& id) {
  Job_Definition_var def(new Job_Definition);
  def->set_id(id);
  def->set_type(JOB_DEFINITION_BACKUP);
  return Job_var(new Job(def));
}

TEST(Progress_Reporter, ReportsRecordsAndFinalStates) {
  Job_var job = make_job("progress-1");
  Job_Event_Handler events(*job);
  Progress_Reporter reporter(events, job->activity());
  // Odd identifiers must still name a record inside the job's directory.
  const std::vector<std::pair<std::string, S::VM_State>> added = {
      {"i-run", S::STATE_PENDING}, {"i/../../x", S::STATE_PENDING},
      {"i-skip", S::STATE_SKIPPED}, {"i-done", S::STATE_COMPLETED}};
  for (const auto& a : added) ASSERT_TRUE(reporter.add(a.first, "n-" + a.first, a.second));
  {
    test::Log_Capture log;
    EXPECT_FALSE(reporter.add("", "x", S::STATE_PENDING));
    EXPECT_FALSE(reporter.add("x", "", S::STATE_PENDING));
    EXPECT_TRUE(log.contains("instance_id is empty"));
    EXPECT_TRUE(log.contains("instance_name is empty"));
  }
  ASSERT_TRUE(reporter.activate("progress-1"));
  {
    test::Log_Capture log;
    EXPECT_FALSE(reporter.add("late", "late", S::STATE_PENDING));
    EXPECT_FALSE(reporter.activate("progress-1"));
    EXPECT_EQ(log.count("vm_progress_wrapper_.empty() is false"), 2u);
  }

  // A handler's view of the records the reporter made.
  Instance_Mem_Map_Handle run, odd;
  ASSERT_EQ(tavrocloud::open_progress_record(run, "progress-1", "i-run", false), 0);
  ASSERT_EQ(tavrocloud::open_progress_record(odd, "progress-1", "i/../../x", false), 0);
  run->set_state(S::STATE_RUNNING);
  run->start(4096, 2);
  run->add_processed(1024);
  run->add_processed_volume();
  odd->set_state(S::STATE_COMPLETED);
  EXPECT_TRUE(reporter.update_time("i-run", 100, true));
  EXPECT_FALSE(reporter.update_time("nobody", 100, true));

  ASSERT_TRUE(reporter.report(false));
  ASSERT_TRUE(reporter.report(true));
  const auto calls = job->progress();
  ASSERT_EQ(calls.size(), 2u);
  struct Want {
    S::VM_State mid, last;
    uint64_t processed;
  };
  const Want want[] = {{S::STATE_RUNNING, S::STATE_FAILED, 1024},
                       {S::STATE_COMPLETED, S::STATE_COMPLETED, 0},
                       {S::STATE_SKIPPED, S::STATE_SKIPPED, 0},
                       {S::STATE_COMPLETED, S::STATE_COMPLETED, 0}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(added[i].first);
    EXPECT_EQ(calls[0].progresses[i].state, want[i].mid);
    EXPECT_EQ(calls[1].progresses[i].state, want[i].last);
    EXPECT_EQ(calls[1].progresses[i].processed_bytes, want[i].processed);
  }
  EXPECT_TRUE(calls[1].final);
  EXPECT_EQ(calls[1].progresses[0].start_time, 100);
  EXPECT_EQ(calls[1].progresses[0].processed_virtual_disk_count, 1);
  EXPECT_EQ(calls[1].progresses[2].start_time, 0);  // skipped: no times
  EXPECT_NE(calls[1].progresses[3].end_time, 0);
}

TEST(Instance_Progress_Info, ConcurrentAdditionsAreNotLostAndRetriesNeverGoNegative) {
  Job_var job = make_job("progress-2");
  Job_Event_Handler events(*job);
  Progress_Reporter reporter(events, job->activity());
  ASSERT_TRUE(reporter.add("i-1", "one", S::STATE_PENDING));
  ASSERT_TRUE(reporter.activate("progress-2"));
  Instance_Mem_Map_Handle record;
  ASSERT_EQ(tavrocloud::open_progress_record(record, "progress-2", "i-1", false), 0);
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) record->add_processed(1);
      record->add_processed_volume();
    });
  std::thread reader([&] {
    for (int i = 0; i < 100; ++i) reporter.update_time("i-1", i, false), reporter.report(false);
  });
  for (auto& w : writers) w.join();
  reader.join();
  EXPECT_EQ(record->processed_size.load(), 40000u);
  EXPECT_EQ(record->processed_volume_num.load(), 4u);
  record->sub_processed(50000);
  EXPECT_EQ(record->processed_size.load(), 0u);
}

TEST(Instance_Histories, DumpAndStateNames) {
  Instance_Histories histories;
  histories["i-1"].state = VM_History_State::COMPLETED;
  histories["i-1"].source_size = 1ULL << 40;
  histories["i-1"].start_time = tavrocloud::history_time(86400);
  histories["i-1"].end_time = tavrocloud::history_time(0);
  histories["i-2"].state = VM_History_State::UNKNOWN;
  histories["i-3"].retry = true;  // default state: failed
  const json_spirit::Array dumped = histories.dump().get_array();
  ASSERT_EQ(dumped.size(), 3u);
  for (const json_spirit::Value& v : dumped) {
    const json_spirit::Object& o = v.get_obj();
    EXPECT_EQ(o.size(), 9u);
    const std::string id = o.at("uuid").get_str();
    EXPECT_EQ(o.at("state").get_str(), id == "i-1" ? "completed" : "failed") << id;
    EXPECT_EQ(o.at("retry").get_bool(), id == "i-3") << id;
    if (id != "i-1") continue;
    EXPECT_EQ(o.at("size").get_uint64(), 1ULL << 40);
    EXPECT_EQ(o.at("start_time").get_str(), "1970-01-02 00:00:00");
    EXPECT_EQ(o.at("end_time").get_str(), "-");
  }
  const std::pair<const char*, VM_History_State> names[] = {
      {"completed", VM_History_State::COMPLETED}, {"skipped", VM_History_State::SKIPPED},
      {"failed", VM_History_State::FAILED}, {"complete", VM_History_State::UNKNOWN},
      {"", VM_History_State::UNKNOWN}, {nullptr, VM_History_State::UNKNOWN}};
  for (const auto& n : names) EXPECT_EQ(tavrocloud::str_to_vm_hist_state(n.first), n.second);
}

}  // namespace
