// The fault matrix: backups and restores run through the host's job engine against the
// simulator while one fault at a time is injected: every cloud action the jobs send
// fails at its step (an error answer, a dropped connection, a "false" answer, a change
// that never ends), the pool's writes, syncs, renames and directory syncs fail, the job
// is cancelled at several points, and a job process is killed mid-backup and run again.
// After each fault the job's outcome and alerts must be the designed ones, the cloud
// must hold nothing the run made (or only what the next run clears, which it must
// then do), the pool nothing unfinished, and every committed set must read back as its
// volumes' bytes. The restores start from clean ones of each kind (a new instance on
// clouds with and without temporary snapshots, and onto an existing instance), whose
// bytes, history and leftovers are checked too. Each group prints one table line per
// fault and its total.
#include "job_fixture.h"
#include "job_engine/job_alert.h"
#include "pool/pool_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using K = Job_Event_Record;
using ::testing::AnyOf;
using ::testing::HasSubstr;
using ::testing::Not;
// One upload at a time, so that the pool's faults hit a known image.
const char BACKUP_OPTIONS[] = R"({"parallel_disks_per_vm": 1})";

// ---- process-wide hooks: the sleep seam and the pool's file system ------------------

// Waits are not slept. A case may stop its job at the n-th wait of the run: cancel it or,
// in a child process that is to be killed (stall_fd set), tell the parent and wait.
std::atomic<Job*> cancel_job{nullptr};
std::atomic<int> sleeps_left{0};
int stall_fd = -1;
void cancel_now() {
  const char c = 'k';
  if (stall_fd >= 0 && ::write(stall_fd, &c, 1) == 1)
    for (;;) ::pause();
  if (Job* job = cancel_job.exchange(nullptr)) job->stop();
}
void matrix_sleep(unsigned int) {
  if (sleeps_left.load() > 0 && --sleeps_left == 0) cancel_now();
}

// The pool's file system with one fault: calls of kind `call` number nth .. nth+times-1
// fail with `err`, or, when `err` is 0, stop the job there instead (cancel_now).
class Pool_Fault : public Pool_File_System {
 public:
  enum Call { NONE, WRITE, FSYNC, RENAME, SYNC_DIRECTORY, OPEN };

  Pool_Fault(Call call, int err, int nth, int times)
      : call_(call), err_(err), nth_(nth), times_(times), previous_(install(this)) {}
  ~Pool_Fault() override { install(previous_); }

  using FS = Pool_File_System;
  int open(const char* path, int flags, mode_t mode) override {
    return hit(OPEN) ? -1 : FS::open(path, flags, mode);
  }
  int open_unnamed(const char* dir, mode_t mode) override {
    return hit(OPEN) ? -1 : FS::open_unnamed(dir, mode);
  }
  ssize_t writev(int fd, const iovec* iov, int count) override {
    return hit(WRITE) ? -1 : FS::writev(fd, iov, count);
  }
  int fsync(int fd) override { return hit(FSYNC) ? -1 : FS::fsync(fd); }
  int rename(const char* from, const char* to, bool replace) override {
    return hit(RENAME) ? -1 : FS::rename(from, to, replace);
  }
  int sync_directory(const char* dir) override {
    return hit(SYNC_DIRECTORY) ? -1 : FS::sync_directory(dir);
  }

 private:
  bool hit(Call call) {
    const int seen = call == call_ ? ++seen_ : 0;
    if (seen < nth_ || seen >= nth_ + times_) return false;
    if (err_ == 0) cancel_now();
    errno = err_;
    return err_ != 0;
  }

  const Call call_;
  const int err_, nth_, times_;
  std::atomic<int> seen_{0};
  Pool_File_System* previous_;
};
using P = Pool_Fault;

// ---- the faults ----------------------------------------------------------------------

// One fault of the matrix and what the run must come to.
struct Fault {
  std::string name{};                        // its table label
  Pool_Fault::Call pool = Pool_Fault::NONE;  // a fault of the pool's file system
  int err = 0;                               // its errno; 0 stops the job there
  int nth = 1, times = 1000000;              // which uses of the pool call fail
  K::Kind want = K::FAILURE;
  std::string sim{};                         // a fault for /_sim/faults (JSON), or empty
  int cancel_at_sleep = 0;                   // stop the job at its n-th wait (0: never)
  std::vector<unsigned long> alerts{};       // in order
  bool residue = false;                      // may leave what the next run must clear
  std::string stranded{};                    // what the cloud keeps: a change it never ended
};

// A fault of the simulator that must fail the job with `alerts`.
Fault sim_fault(const std::string& name, const std::string& json,
                std::vector<unsigned long> alerts = {}) {
  Fault f{name};
  f.sim = json;
  f.alerts = std::move(alerts);
  return f;
}

// The faults of cloud actions, each "Action#nth" with optional flags after a space: an
// error answer and a dropped connection each; with flag f, a "false" answer; with flag c,
// a change that ends in an error state and one that never ends.
std::vector<Fault> action_faults(const std::vector<std::string>& actions) {
  std::vector<Fault> out;
  for (const std::string& a : actions) {
    const size_t hash = a.find('#'), space = std::min(a.find(' '), a.size());
    const std::string flags = a.substr(space);
    std::vector<std::string> kinds = {"error", "disconnect"};
    if (flags.find('f') != std::string::npos) kinds.push_back("return_false");
    if (flags.find('c') != std::string::npos) kinds.insert(kinds.end(), {"end_status", "stuck"});
    const std::string nth = a.substr(hash + 1, space - hash - 1);
    const std::string json = R"({"action": ")" + a.substr(0, hash) + R"(", "nth": )" + nth +
                             R"(, "status": "error", "kind": ")";
    for (const std::string& kind : kinds)
      out.push_back(sim_fault(a.substr(0, space) + " " + kind, json + kind + "\"}"));
  }
  return out;
}

// Sets what the faults whose names start with one of `prefixes` must come to; with
// `stranded`, what the cloud keeps of them (it refuses to delete what is still changing).
void expect(std::vector<Fault>& faults, const std::vector<std::string>& prefixes, K::Kind want,
            std::vector<unsigned long> alerts = {}, bool residue = false,
            const std::string& stranded = "") {
  for (const std::string& p : prefixes) {
    size_t found = 0;
    for (Fault& f : faults)
      if (f.name.compare(0, p.size(), p) == 0 && ++found) {
        f.want = want;
        f.alerts = alerts;
        f.residue = residue;
        f.stranded = stranded;
      }
    EXPECT_NE(found, 0u) << p << " is not in the table";
  }
}

// The outcome, the alerts and what is left behind: one cell of the table.
std::string verdict(K::Kind kind, const std::vector<unsigned long>& alerts,
                    const std::string& left) {
  std::string out = kind == K::SUCCESS    ? "success"
                    : kind == K::CANCELED ? "canceled"
                    : kind == K::FAILURE  ? "failure"
                                          : "unfinished";
  for (size_t i = 0; i < alerts.size(); ++i)
    out += (i == 0 ? " alerts " : ",") + std::to_string(alerts[i]);
  return out + " | " + (left.empty() ? "nothing left" : left);
}

class Fault_Matrix : public test::Cloud_Job_Test {
 protected:
  Fault_Matrix() : Cloud_Job_Test(&matrix_sleep) {}

  void TearDown() override {
    if (!lines_.empty()) {
      std::printf("\n%-64s %s\n", "fault", "outcome | left behind");
      for (const std::string& line : lines_) std::printf("%s\n", line.c_str());
      std::printf("total: %zu faults, %zu as designed\n\n", lines_.size(), lines_.size() - wrong_);
    }
    Cloud_Job_Test::TearDown();
  }

  // The simulator (cloud `version`) with the agent, "i-vm" (a root and a data volume)
  // and the running "i-tgt", and the host home for it.
  void start_cloud(const std::string& version) {
    ASSERT_NO_FATAL_FAILURE(Cloud_Job_Test::start_cloud(
        version,
        {test::seed_instance("vm", "10.10.1.31"), test::seed_instance("tgt", "10.10.1.32")}));
    for (const char* v : {"vol-vm-root", "vol-vm-data"}) source_digests_.push_back(sim_->digest(v));
    target_digest_ = sim_->digest("vol-tgt-data");
  }

  // Back to the seed's cloud (same version), every fault and the call log cleared.
  void reseed() {
    const std::string version = test::json_str(sim_->get("/health"), "version");
    ASSERT_TRUE(sim_->post("/seed", R"({"file": ")" + seed_path() + R"("})"));
    ASSERT_TRUE(sim_->post("/config", R"({"version": ")" + version + R"("})"));
  }

  Job_var backup_job(const std::string& options = BACKUP_OPTIONS, size_t retry_count = 0) const {
    test::Job_Spec spec;
    spec.id = "matrix-backup";
    spec.source =
        R"({"id": "res-matrix", "entries": [{"id": "i-vm", "name": "vm-vm", "type": "Instance"}]})";
    spec.options = options;
    spec.retry_count = retry_count;
    return job<test::Backup_Job>(spec);
  }

  // A restore of i-vm's set as the new instance "restored", or of its volumes onto i-tgt.
  Job_var restore_job(bool onto_target) const {
    test::Job_Spec spec;
    spec.type = JOB_DEFINITION_RESTORE;
    spec.subtype = onto_target ? JOB_DEFINITION_SUBTYPE_DISK : JOB_DEFINITION_SUBTYPE_VM;
    spec.id = "matrix-restore";
    const std::string entry =
        test::restore_entry(set_uuid_, timepoint_, "i-vm", "restored", onto_target ? "i-tgt" : "");
    spec.source = R"({"id": "res-matrix", "name": "matrix", "entries": [)" + entry + "]}";
    spec.options = R"({"parallel_disks_per_vm": 1, "start_vm": true})";
    return job<test::Restore_Job>(spec);
  }

  // Runs `job` with `fault` in place.
  test::Job_Run run_with(Job& job, const Fault& fault) {
    EXPECT_TRUE(fault.sim.empty() || sim_->post("/faults", fault.sim)) << fault.sim;
    std::unique_ptr<Pool_Fault> pool;
    if (fault.pool != Pool_Fault::NONE)
      pool = std::make_unique<Pool_Fault>(fault.pool, fault.err, fault.nth, fault.times);
    cancel_job = &job;
    sleeps_left = fault.cancel_at_sleep;
    const test::Job_Run done = run(job);
    cancel_job = nullptr;
    sleeps_left = 0;
    pool.reset();
    sim_->clear_faults();
    return done;
  }

  // What the cloud holds beyond the seed, after every change in progress ended; "" when
  // nothing.
  std::string cloud_leftovers() const {
    EXPECT_TRUE(sim_->post("/settle", "{}"));
    std::string out;
    for (const auto& [kind, items] : test::object_of(sim_->get("/leftovers"))) {
      if (items.type() == json_spirit::array_type && !items.get_array().empty())
        out += (out.empty() ? "" : " ") + kind + "=" + std::to_string(items.get_array().size());
    }
    return out;
  }

  // Records the table line of `fault` and checks it against what it must come to.
  void record(const Fault& fault, const test::Job_Run& run, const Job& job,
              const std::string& left) {
    const std::string want = verdict(fault.want, fault.alerts, fault.stranded);
    // Faults show in error alerts; the warnings of a run (a power cycle) are its own.
    const std::string got =
        verdict(run.outcome(), test::alert_ids(job, Error_ID::LEVEL_ERROR), left);
    wrong_ += got != want;
    const std::string pad(fault.name.size() < 64 ? 65 - fault.name.size() : 1, ' ');
    lines_.push_back(fault.name + pad + got + (got == want ? "" : "   <-- NOT AS DESIGNED"));
    EXPECT_EQ(want, got) << run.log;
  }

  // After a run that may have left a residue: a clean run that must clear it and
  // succeed. What the cloud and the pool hold then.
  std::string clear_and_check(bool residue, const std::string& options = BACKUP_OPTIONS,
                              bool killed = false) {
    std::string left = cloud_leftovers();
    if (residue && !left.empty()) {
      Job_var again = backup_job(options);
      const test::Job_Run next = run_with(*again, Fault());
      EXPECT_EQ(next.outcome(), K::SUCCESS) << next.log;
      EXPECT_NE(next.log.find("has been cleared successfully"), std::string::npos)
          << "the next run did not clear the residue\n" << next.log;
      const std::string after = cloud_leftovers();
      left = after.empty() ? "" : "after the next run: " + after;
    }
    const std::string pool = pool_leftovers(killed);
    return pool.empty() ? left : left + (left.empty() ? "" : " ") + "pool: " + pool;
  }

  // One backup per fault and what it must come to; the cloud goes back to the seed after
  // each.
  void backup_cases(const std::vector<Fault>& faults, const std::string& options = BACKUP_OPTIONS,
                    size_t retries = 0) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(fault.name);
      Job_var job = backup_job(options, retries);
      const test::Job_Run run = run_with(*job, fault);
      record(fault, run, *job, clear_and_check(fault.residue, options));
      ASSERT_NO_FATAL_FAILURE(reseed());
    }
  }

  // A clean backup of i-vm whose set the restores read, then a clean restore of each
  // kind: the restored volumes hold the source's bytes, the history and the totals count
  // them, and the cloud keeps what the restore made (made_, which every successful
  // restore with a fault must match) and nothing of its way there.
  void prepare_restores(const std::vector<bool>& kinds) {
    Job_var job = backup_job();
    ASSERT_EQ(run_with(*job, Fault()).outcome(), K::SUCCESS);
    const std::vector<Catalog_Entry> sets = catalog_sets();
    ASSERT_EQ(sets.size(), 1u);
    set_uuid_ = sets[0].uuid;
    timepoint_ = sets[0].timepoint;
    ASSERT_NO_FATAL_FAILURE(reseed());
    for (bool onto_target : kinds) {
      Job_var clean = restore_job(onto_target);
      ASSERT_EQ(run_with(*clean, Fault()).outcome(), K::SUCCESS);
      EXPECT_EQ(restored_digests(onto_target), source_digests_);
      const json_spirit::Array history = clean->result().at("tavrocloud").get_array();
      const json_spirit::Object& h = history.at(0).get_obj();
      const Job_Activity& activity = clean->activity();
      std::ostringstream got;
      got << history.size() << " " << h.at("uuid").get_str() << " " << h.at("state").get_str()
          << " " << h.at("size").get_uint64() << " " << activity.size << " "
          << clean->restore_paths().at(0).pool_uuid << " " << clean->restore_paths().size();
      const VM_Job_Progress& last = clean->progress().back().progresses.at(0);
      got << ", volumes " << last.processed_virtual_disk_count << " of " << last.virtual_disk_count;
      EXPECT_EQ(got.str(), "1 i-vm completed 2147483648 2147483648 pool-e2e 1, volumes 2 of 2");
      EXPECT_TRUE(activity.set_size > 0 && activity.set_size == activity.set_storage_size);
      made_[onto_target] = cloud_leftovers();
      EXPECT_THAT(made_[onto_target],
                  Not(AnyOf(HasSubstr("snapshots"), HasSubstr("loop_devices"))));
      ASSERT_NO_FATAL_FAILURE(reseed());
    }
  }

  // One restore per fault. A failed one must leave the cloud as the seed was; a
  // successful one exactly what a clean restore leaves, with the volumes' bytes; either
  // leaves i-tgt running with its own bytes. The cloud goes back to the seed after each.
  void restore_cases(const std::vector<Fault>& faults, bool onto_target) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(fault.name);
      Job_var job = restore_job(onto_target);
      const test::Job_Run run = run_with(*job, fault);
      std::string left = cloud_leftovers();
      if (sim_->instance_status("i-tgt") != "running" ||
          sim_->digest("vol-tgt-data") != target_digest_)
        left += " (i-tgt touched)";
      if (run.outcome() == K::SUCCESS) {
        if (restored_digests(onto_target) != source_digests_)
          left += " (restored bytes differ)";
        else if (left == made_[onto_target])
          left.clear();
      }
      record(fault, run, *job, left);
      ASSERT_NO_FATAL_FAILURE(reseed());
    }
  }

  // The digests of the restored volumes, but i-tgt's own.
  std::vector<std::string> restored_digests(bool onto_target) const {
    return sim_->instance_digests(onto_target ? "i-tgt" : "restored", "vol-tgt-");
  }

  std::string set_uuid_, timepoint_;
  std::map<bool, std::string> made_;
  std::vector<std::string> source_digests_;  // root, data
  std::string target_digest_;                // of i-tgt's data volume
  std::vector<std::string> lines_;
  size_t wrong_ = 0;
};

TEST_F(Fault_Matrix, Backup_With_Temporary_Snapshots) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  const std::string refused =
      R"({"action": "GetCloudVersion", "code": "AuthFailure", "http_status": 401, "nth": )";
  std::vector<Fault> faults = {
      sim_fault("GetCloudVersion#1 keys refused (executor)", refused + "1}", {1}),
      sim_fault("GetCloudVersion#2 keys refused (handler)", refused + "2}", {1})};
  const std::vector<Fault> actions = action_faults({
      "GetCloudVersion#1", "DescribeInstances#1", "DescribeInstances#2", "DescribeInstanceTypes#1",
      "DescribeVolumes#2", "DescribeImages#1", "DescribeNodes#1", "DescribeStorages#1",
      "CreateTmpSnapshots#1 c", "CreateTmpSnapshots#2 c", "DescribeTmpSnapshots#1",
      "AttachTmpSnapshot#1 fc", "AttachTmpSnapshot#2 fc", "DetachTmpSnapshot#1 fc",
      "DeleteTmpSnapshots#2 fc", "DescribeNetworkInterfaces#1", "DescribeVpcs#1",
      "DescribeSubnets#1"});
  faults.insert(faults.end(), actions.begin(), actions.end());
  // Without the version the cloud takes the snapshot-volume path, which works.
  expect(faults, {"GetCloudVersion#1 error"}, K::SUCCESS);
  expect(faults, {"GetCloudVersion#1 disconnect"}, K::FAILURE, {1});
  expect(faults, {"DescribeInstances#2 "}, K::FAILURE, {7});
  // An image that cannot be read leaves the set's image description empty.
  expect(faults, {"DescribeImages#1 ", "DescribeVpcs#1 ", "DescribeSubnets#1 "}, K::SUCCESS);
  expect(faults, {"CreateTmpSnapshots#", "DescribeTmpSnapshots#1 "}, K::FAILURE, {8}, true);
  expect(faults, {"AttachTmpSnapshot#1 stuck", "AttachTmpSnapshot#2 stuck"}, K::FAILURE, {}, true);
  expect(faults, {"DetachTmpSnapshot#1 ", "DeleteTmpSnapshots#2 "}, K::SUCCESS, {}, true);
  backup_cases(faults);
}

TEST_F(Fault_Matrix, Backup_With_Snapshot_Volumes_And_Power_Cycle) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.7"));
  std::vector<Fault> faults = action_faults({
      "StopInstances#1 c", "BackupInstance#1 c", "DescribeInstanceBackups#1", "CreateVolume#1 c",
      "CreateVolume#2 c", "AttachVolume#1 c", "AttachVolume#2 c", "DetachVolume#2 c",
      "DeleteVolume#1 f", "DeleteInstanceBackup#1", "StartInstances#1 c"});
  expect(faults, {"StopInstances#1 error", "StopInstances#1 disconnect"}, K::FAILURE, {4});
  // A stop that does not end leaves the instance stopping: it cannot be started either.
  expect(faults, {"StopInstances#1 end_status", "StopInstances#1 stuck"}, K::FAILURE, {4, 5});
  expect(faults, {"CreateVolume#1 stuck", "CreateVolume#2 stuck"}, K::FAILURE, {}, false,
         "volumes=1");
  expect(faults, {"DetachVolume#2 "}, K::SUCCESS);
  expect(faults, {"DetachVolume#2 stuck"}, K::SUCCESS, {}, false, "volumes=1");
  expect(faults, {"DeleteVolume#1 ", "DeleteInstanceBackup#1 "}, K::SUCCESS);
  expect(faults, {"StartInstances#1 "}, K::SUCCESS, {5});
  backup_cases(faults, R"({"parallel_disks_per_vm": 1, "restart_vm": true})");
}

TEST_F(Fault_Matrix, Backup_Pool_Faults_And_Cancellation) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  std::vector<Fault> faults = {
      {"pool: create of the first image ENOSPC", P::OPEN, ENOSPC, 1},
      {"pool: create of the second image EIO", P::OPEN, EIO, 2},
      {"pool: first write EIO", P::WRITE, EIO, 1},
      {"pool: 3rd write ENOSPC", P::WRITE, ENOSPC, 3},
      {"pool: fsync of the first image EIO", P::FSYNC, EIO, 1},
      {"pool: fsync of the second image ENOSPC", P::FSYNC, ENOSPC, 2},
      {"pool: rename of the first image EIO", P::RENAME, EIO, 1},
      {"pool: rename of the second image EIO", P::RENAME, EIO, 2},
      {"pool: directory sync of the first image EIO", P::SYNC_DIRECTORY, EIO, 1},
      {"pool: directory sync of the second image ENOSPC", P::SYNC_DIRECTORY, ENOSPC, 2},
      {"cancel: at the first pool write", P::WRITE, 0, 1, 1, K::CANCELED},
      {"cancel: at the 3rd pool write", P::WRITE, 0, 3, 1, K::CANCELED},
  };
  // The waits of a run: the two snapshots' creation, their attachments, then the
  // clean-up after the upload, where a cancellation no longer stops a finished backup.
  for (int at : {1, 2, 3, 4, 5}) {
    faults.push_back({"cancel: at wait " + std::to_string(at), P::NONE, 0, 1, 0,
                      at < 5 ? K::CANCELED : K::SUCCESS, "", at});
  }
  backup_cases(faults);
  // Faults that pass: the volume task's or the instance task's re-run succeeds, or a
  // clean-up step refused three times in a row succeeds at its last try.
  const std::string refused = R"({"kind": "error", "action": )";
  backup_cases({{"pool: one write EIO, one re-run allowed", P::WRITE, EIO, 2, 1, K::SUCCESS},
                {"pool: one fsync EIO, one re-run allowed", P::FSYNC, EIO, 2, 1, K::SUCCESS},
                {"AttachTmpSnapshot#1 error once, one re-run allowed", P::NONE, 0, 1, 1,
                 K::SUCCESS, refused + R"("AttachTmpSnapshot"})"},
                {"DeleteTmpSnapshots#2 error three times in a row", P::NONE, 0, 1, 1, K::SUCCESS,
                 refused + R"("DeleteTmpSnapshots", "nth": 2, "times": 3})"}},
               BACKUP_OPTIONS, 1);
}

TEST_F(Fault_Matrix, Restore) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  ASSERT_NO_FATAL_FAILURE(prepare_restores({false, true}));
  std::vector<Fault> new_instance = action_faults({
      "CreateVolume#1 c", "CreateVolume#2 c", "AttachVolume#1 c", "DetachVolume#1 c",
      "ConvertVolume#1 f", "CreateNetworkInterface#2", "RunInstances#1 c", "AttachVolume#3 c",
      "StartInstances#1 c"});
  expect(new_instance, {"CreateVolume#1 stuck", "CreateVolume#2 stuck", "DetachVolume#1 stuck"},
         K::FAILURE, {}, false, "volumes=1");
  expect(new_instance, {"RunInstances#1 "}, K::FAILURE, {9});
  // The power state is only logged.
  expect(new_instance, {"StartInstances#1 "}, K::SUCCESS);
  restore_cases(new_instance, false);
  std::vector<Fault> onto_target = action_faults({"AttachVolume#3 c"});
  for (Fault& f : onto_target) f.name += " (onto i-tgt)";
  restore_cases(onto_target, true);
}

TEST_F(Fault_Matrix, Restore_With_Snapshots) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.7"));
  ASSERT_NO_FATAL_FAILURE(prepare_restores({false}));
  std::vector<Fault> faults = action_faults(
      {"CreateSnapshot#1 c", "RunInstances#1 c", "DeleteSnapshot#1 f", "DeleteVolume#1 f"});
  expect(faults, {"RunInstances#1 "}, K::FAILURE, {9});
  expect(faults, {"DeleteSnapshot#1 ", "DeleteVolume#1 "}, K::SUCCESS);
  restore_cases(faults, false);
}

// On node-local storage ("localvg") the restore makes each volume on the agent's node
// (node-a1), where it can be written, and moves it to the target node only when that is
// another: the instance starts there with its volumes and the source's bytes.
TEST_F(Fault_Matrix, Restore_Onto_Node_Local_Storage) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  ASSERT_NO_FATAL_FAILURE(prepare_restores({}));
  const struct {
    std::string node;  // the entry's target node
    std::string want;  // where the restored instance and its volumes are; the moves asked for
  } cases[] = {
      {"node-a2", "running on node-a2, volumes on node-a2 node-a2, 2 moves"},
      {"node-a1", "running on node-a1, volumes on node-a1 node-a1, 0 moves"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.node);
    std::string entry = test::restore_entry(set_uuid_, timepoint_, "i-vm", "restored");
    const std::pair<std::string, std::string> changes[] = {
        {R"("st-ceph-01", "storage_type": "ceph")",
         R"("st-localvg-a2", "storage_type": "localvg")"},
        {R"("target_node_id": "node-a1")", R"("target_node_id": ")" + c.node + '"'}};
    for (const auto& [from, to] : changes)
      for (size_t at = 0; (at = entry.find(from, at)) != std::string::npos; at += to.size())
        entry.replace(at, from.size(), to);
    test::Job_Spec spec;
    spec.type = JOB_DEFINITION_RESTORE;
    spec.subtype = JOB_DEFINITION_SUBTYPE_VM;
    spec.id = "local-restore";
    spec.source = R"({"id": "res-matrix", "name": "matrix", "entries": [)" + entry + "]}";
    spec.options = R"({"parallel_disks_per_vm": 1, "start_vm": true})";
    Job_var restore = job<test::Restore_Job>(spec);
    const test::Job_Run done = run_with(*restore, Fault());
    EXPECT_EQ(done.outcome(), K::SUCCESS) << done.log;
    EXPECT_EQ(restored_digests(false), source_digests_);
    json_spirit::Object state = test::object_of(sim_->get("/state"));
    std::string got, id;
    for (const json_spirit::Value& i : state["instances"].get_array()) {
      const json_spirit::Object& o = i.get_obj();
      if (o.at("name").get_str() != "restored") continue;
      id = o.at("id").get_str();
      got = o.at("status").get_str() + " on " + o.at("node_id").get_str();
    }
    got += ", volumes on";
    for (const json_spirit::Value& v : state["volumes"].get_array()) {
      const auto att = v.get_obj().find("attachment");
      if (att != v.get_obj().end() && att->second.type() == json_spirit::obj_type &&
          att->second.get_obj().at("instance_id").get_str() == id)
        got += " " + v.get_obj().at("node_id").get_str();
    }
    const json_spirit::Value moves = JSON_Load(sim_->get("/calls?action=ModifyVolumeStorage"));
    if (moves.type() == json_spirit::array_type)
      got += ", " + std::to_string(moves.get_array().size()) + " moves";
    EXPECT_EQ(got, c.want);
    ASSERT_NO_FATAL_FAILURE(reseed());
  }
}

// A job process killed (SIGKILL) where its fault stops it, then a new run, which must
// clear what the killed one left in the cloud and succeed.
TEST_F(Fault_Matrix, Backup_Killed_And_Run_Again) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  const Fault kills[] = {
      {"SIGKILL as the first snapshot attaches, a new run", P::NONE, 0, 1, 0, K::SUCCESS, "", 3},
      {"SIGKILL in the middle of the first image, a new run", P::WRITE, 0, 3, 1, K::SUCCESS},
  };
  for (const Fault& kill : kills) {
    SCOPED_TRACE(kill.name);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      stall_fd = fds[1];
      Job_var job = backup_job();
      run_with(*job, kill);
      ::_exit(3);  // the run ended without reaching its stall
    }
    ::close(fds[1]);
    char c = 0;
    const bool stalled = ::read(fds[0], &c, 1) == 1;
    ::close(fds[0]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(stalled) << "the child ended before its stall";
    // The killed run left nothing in the pool: no image, not even a partial one.
    EXPECT_EQ(pool_leftovers(true), "");
    EXPECT_NE(cloud_leftovers(), "") << "the killed run made nothing to clear";
    Job_var again = backup_job();
    const test::Job_Run run = run_with(*again, Fault());
    EXPECT_NE(run.log.find("has been cleared successfully"), std::string::npos)
        << "the new run did not clear the killed run's snapshots\n" << run.log;
    record(kill, run, *again, clear_and_check(false, BACKUP_OPTIONS, true));
    ASSERT_NO_FATAL_FAILURE(reseed());
  }
}

}  // namespace
