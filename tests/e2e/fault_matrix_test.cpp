// The fault matrix: backups and restores run through the host's job engine against the
// simulator while one fault at a time is injected: every cloud action the jobs send
// fails at its step (an error answer, a dropped connection, a "false" answer, a change
// that never ends), the pool's writes, syncs, renames and directory syncs fail, the job
// is cancelled at several points, and a job process is killed mid-backup and run again.
// After each fault the job's outcome and alerts must be the designed ones, the cloud
// must hold nothing the run made (or only what the next run clears, which it must
// then do), the pool nothing unfinished, and every committed set must read back as its
// volumes' bytes. Each group prints one table line per fault and its total.
#include "catalog/restful_catalog_operator.h"
#include "content_digest.h"
#include "job/controllable_job_t.h"
#include "job_driver.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "pool/pool_file_system.h"
#include "private_dev_disk.h"
#include "runtime/sleep.h"
#include "sim_process.h"
#include "support/log_capture.h"
#include "support/temp_home.h"
#include "tavrocloud/job/backup_executor.h"
#include "tavrocloud/job/restore_executor.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Backup_Job = Controllable_Job_T<tavrocloud::Backup_Executor>;
using Restore_Job = Controllable_Job_T<tavrocloud::Restore_Executor>;

const char ACCESS_KEY[] = "AKIDTAVROSIMDEMO0001";
const char SECRET_KEY[] = "tavrosim/Demo+Secret/Key0001";
const char CLOUD[] = "cloud-matrix";
const char POOL[] = "pool-matrix";
const char INSTANCE[] = "i-vm";
const std::vector<std::string> VOLUMES = {"vol-vm-root", "vol-vm-data"};
const uint64_t GIB = 1ull << 30;
// One upload at a time, so that the pool's faults hit a known image.
const char BACKUP_OPTIONS[] = R"({"parallel_disks_per_vm": 1})";

// ---- process-wide hooks: the sleep seam and the pool's file system ------------------

// Waits are not slept. A case may cancel its job at the n-th wait of the run.
std::atomic<Job*> cancel_job{nullptr};
std::atomic<int> sleeps_left{0};
void matrix_sleep(unsigned int) {
  if (sleeps_left.load() > 0 && --sleeps_left == 0) {
    Job* job = cancel_job.exchange(nullptr);
    if (job != nullptr) job->stop();
  }
}

// The pool's file system with one fault: calls of kind `call` number nth .. nth+times-1
// fail with `err`, or, when `err` is 0, cancel `cancel_job` instead.
class Pool_Fault : public Pool_File_System {
 public:
  enum Call { NONE, WRITE, FSYNC, RENAME, SYNC_DIRECTORY, OPEN };

  Pool_Fault(Call call, int err, int nth, int times, int delay_ms = 0)
      : call_(call), err_(err), nth_(nth), times_(times), delay_ms_(delay_ms),
        previous_(install(this)) {}
  ~Pool_Fault() override { install(previous_); }
  Pool_Fault(const Pool_Fault&) = delete;
  Pool_Fault& operator=(const Pool_Fault&) = delete;

  int open(const char* path, int flags, mode_t mode) override {
    return hit(OPEN) ? -1 : Pool_File_System::open(path, flags, mode);
  }
  int open_unnamed(const char* dir, mode_t mode) override {
    return hit(OPEN) ? -1 : Pool_File_System::open_unnamed(dir, mode);
  }
  ssize_t writev(int fd, const struct iovec* iov, int count) override {
    if (delay_ms_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
    return hit(WRITE) ? -1 : Pool_File_System::writev(fd, iov, count);
  }
  int fsync(int fd) override { return hit(FSYNC) ? -1 : Pool_File_System::fsync(fd); }
  int rename(const char* from, const char* to, bool replace) override {
    return hit(RENAME) ? -1 : Pool_File_System::rename(from, to, replace);
  }
  int sync_directory(const char* dir) override {
    return hit(SYNC_DIRECTORY) ? -1 : Pool_File_System::sync_directory(dir);
  }

 private:
  bool hit(Call call) {
    if (call != call_) return false;
    const int seen = ++seen_;
    if (seen < nth_ || seen >= nth_ + times_) return false;
    if (err_ == 0) {
      Job* job = cancel_job.exchange(nullptr);
      if (job != nullptr) job->stop();
      return false;
    }
    errno = err_;
    return true;
  }

  const Call call_;
  const int err_, nth_, times_, delay_ms_;
  std::atomic<int> seen_{0};
  Pool_File_System* previous_;
};

// ---- helpers -------------------------------------------------------------------------

json_spirit::Object object_of(const std::string& json) {
  const json_spirit::Value v = JSON_Load(json);
  return v.type() == json_spirit::obj_type ? v.get_obj() : json_spirit::Object();
}

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string source_dir() {
  const char* dir = std::getenv("QUILLON3_SOURCE_DIR");
  return dir != nullptr && *dir != '\0' ? dir : ".";
}

const char* outcome_name(Job_Event_Record::Kind kind) {
  switch (kind) {
    case Job_Event_Record::SUCCESS: return "success";
    case Job_Event_Record::CANCELED: return "canceled";
    case Job_Event_Record::FAILURE: return "failure";
    default: return "unfinished";
  }
}

// One fault of the matrix and what the run must come to.
struct Fault {
  std::string name;                   // its table label
  std::string sim;                    // a fault for /_sim/faults (JSON), or empty
  Pool_Fault::Call pool = Pool_Fault::NONE;
  int err = 0;                        // errno of the pool fault; 0 cancels the job there
  int nth = 1, times = 1000000;       // which uses of the pool call fail
  int cancel_at_sleep = 0;            // cancel the job at its n-th wait (0: never)
  Job_Event_Record::Kind want = Job_Event_Record::FAILURE;
  std::vector<unsigned long> alerts;  // in order
  bool residue = false;               // may leave what the next run must clear
  std::string stranded;               // what the cloud keeps: a change it never ended
};

// A cloud fault on the nth call of `action`.
std::string sim_fault(const std::string& action, const std::string& kind, int nth = 1) {
  std::string f = R"({"action": ")" + action + R"(", "kind": ")" + kind + R"(", "nth": )" +
                  std::to_string(nth);
  if (kind == "error") f += R"(, "code": "InternalError", "message": "injected", "http_status": 500)";
  if (kind == "end_status") f += R"(, "status": "error")";
  return f + "}";
}

std::vector<unsigned long> alert_ids(const Job& job) {
  std::vector<unsigned long> ids;
  for (const auto& a : job.alerts()) ids.push_back(a.id);
  return ids;
}

std::string ids_text(const std::vector<unsigned long>& ids) {
  std::string out;
  for (unsigned long id : ids) out += (out.empty() ? "" : ",") + std::to_string(id);
  return out.empty() ? "-" : out;
}

class Fault_Matrix : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { skip_reason_ = test::enter_private_dev_disk(); }

  void SetUp() override {
    if (!skip_reason_.empty()) GTEST_SKIP() << "e2e skipped: " << skip_reason_;
    home_ = std::make_unique<test::Temp_Home>("fault-matrix-");
    ASSERT_TRUE(home_->made());
    previous_sleep_ = set_sleep_hook(&matrix_sleep);
    missing_dmi_ = home_->dir() + "/no-product-uuid";
    previous_dmi_ = tavrocloud::RESTful_Client::set_product_uuid_path(missing_dmi_);
  }

  void TearDown() override {
    if (!skip_reason_.empty()) return;
    if (!lines_.empty()) {
      std::printf("\n%-64s %-10s %-8s %6s  %s\n", "fault", "outcome", "alerts", "ms", "left behind");
      for (const std::string& line : lines_) std::printf("%s\n", line.c_str());
      std::printf("total: %zu faults, %zu as designed\n\n", lines_.size(), lines_.size() - wrong_);
    }
    if (sim_ != nullptr) {
      EXPECT_TRUE(sim_->stop());
    }
    sim_.reset();
    std::error_code ec;
    if (!data_dir_.empty()) fs::remove_all(data_dir_, ec);
    tavrocloud::RESTful_Client::set_product_uuid_path(previous_dmi_);
    set_sleep_hook(previous_sleep_);
    home_.reset();
  }

  // The simulator (cloud `version`) with the agent, "i-vm" (a root and a data volume, in
  // `status`) and the running "i-tgt", and the host home for it.
  void start_cloud(const std::string& version, const std::string& status = "running") {
    json_spirit::Object seed = object_of(read_file(source_dir() + "/sim/seed.json"));
    json_spirit::Array instances{seed["instances"].get_array().at(0)};  // the agent
    for (const std::string v : {"vm", "tgt"}) {
      instances.push_back(JSON_Load(
          R"({"id": "i-)" + v + R"(", "name": "vm-)" + v + R"(", "status": ")" +
          (v == "vm" ? status : "running") + R"(", "type": "ts.small", "image": "img-centos7-x64",
              "node": "node-a1", "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"],
              "ip": "10.10.1.)" + (v == "vm" ? "31" : "32") + R"("}],
              "volumes": [{"id": "vol-)" + v + R"(-root", "size": 1, "storage": "st-ceph-01",
                           "device": "/dev/vda", "root": true},
                          {"id": "vol-)" + v + R"(-data", "size": 1, "storage": "st-ceph-01",
                           "device": "/dev/vdb"}]})"));
    }
    seed["instances"] = instances;
    seed["volumes"] = json_spirit::Array();
    seed_path_ = home_->dir() + "/seed.json";
    std::ofstream(seed_path_) << JSON_Dump(seed);
    test::Sim_Options options;
    options.seed = seed_path_;
    options.loop = "losetup";
    options.version = version;
    // The volumes' backing files live in memory: the matrix reads them many times.
    char shm[] = "/dev/shm/fault-matrix-XXXXXX";
    ASSERT_NE(::mkdtemp(shm), nullptr);
    data_dir_ = shm;
    options.extra_args = {"--dmi-path", missing_dmi_, "--data-dir", data_dir_};
    sim_ = std::make_unique<test::Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
    ASSERT_EQ(test::prepare_job_home(home_->dir(), sim_->port(), CLOUD, ACCESS_KEY, SECRET_KEY, POOL),
              "");
    for (const std::string& v : VOLUMES) source_digest_[v] = digest(v);
  }

  // Back to the seed's cloud (same version), every fault and the call log cleared.
  void reseed() {
    const std::string version = object_of(sim_->get("/health"))["version"].get_str();
    ASSERT_TRUE(sim_->post("/seed", R"({"file": ")" + seed_path_ + R"("})"));
    ASSERT_TRUE(sim_->post("/config", R"({"version": ")" + version + R"("})"));
  }

  std::string digest(const std::string& id) const {
    const auto obj = object_of(sim_->get("/digest?id=" + id));
    const auto it = obj.find("digest");
    return it != obj.end() && it->second.type() == json_spirit::str_type ? it->second.get_str() : "";
  }

  Job_var backup_job(const std::string& options, size_t retry_count = 0) const {
    test::Job_Spec spec;
    spec.id = "matrix-backup";
    spec.cloud_uuid = CLOUD;
    spec.pool_uuid = POOL;
    spec.source = R"({"id": "res-matrix", "name": "matrix", "entries": [{"id": "i-vm",
                      "name": "vm-vm", "type": "Instance"}]})";
    spec.options = options;
    spec.retry_count = retry_count;
    return Job_var(new Backup_Job(test::make_job_definition(spec)));
  }

  // Runs `job` with `fault` in place; the closing event, "" when it never closed.
  Job_Event_Record::Kind run_with(Job& job, const Fault& fault, std::string* log_text = nullptr) {
    if (!fault.sim.empty()) {
      EXPECT_TRUE(sim_->post("/faults", fault.sim)) << fault.sim;
    }
    std::unique_ptr<Pool_Fault> pool;
    if (fault.pool != Pool_Fault::NONE)
      pool = std::make_unique<Pool_Fault>(fault.pool, fault.err, fault.nth, fault.times);
    if (fault.cancel_at_sleep > 0 || (fault.pool != Pool_Fault::NONE && fault.err == 0)) {
      cancel_job = &job;
      sleeps_left = fault.cancel_at_sleep;
    }
    test::Log_Capture log;
    const test::Job_Run run = test::run_job(job, nullptr, 600);
    cancel_job = nullptr;
    sleeps_left = 0;
    pool.reset();
    std::string body;
    sim_->control("DELETE", "/faults", "", body);
    EXPECT_TRUE(run.completed) << fault.name;
    if (log_text != nullptr) *log_text = log.text();
    return run.outcome();
  }

  // What the cloud holds beyond the seed, after every change in progress ended; "" when
  // nothing.
  std::string cloud_leftovers() const {
    EXPECT_TRUE(sim_->post("/settle", "{}"));
    json_spirit::Object left = object_of(sim_->get("/leftovers"));
    std::string out;
    for (const auto& item : left) {
      if (item.second.type() != json_spirit::array_type || item.second.get_array().empty())
        continue;
      out += (out.empty() ? "" : " ") + item.first + "=" + std::to_string(item.second.get_array().size());
    }
    return out;
  }

  // The pool must hold exactly the images of the committed sets, each reading back as
  // its volume's bytes, and nothing unfinished; what it holds beyond that, "" if nothing.
  std::string pool_leftovers() {
    std::map<std::string, std::string> pieces;  // path below the job's folder -> volume
    RESTful_Catalog_Operator catalog("127.0.0.1", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> sets;
    EXPECT_TRUE(catalog.list("tavro", sets));
    for (const Catalog_Entry& set : sets)
      for (const json_spirit::Value& piece : set.set.at("pieces").get_array())
        pieces[piece.get_obj().at("path").get_str()] = piece.get_obj().at("object").get_str();
    std::string out;
    const std::string root = home_->dir() + "/pool";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      const std::string rel = fs::relative(entry.path(), root);
      const std::string name = entry.path().filename();
      const auto piece = std::find_if(pieces.begin(), pieces.end(), [&rel](const auto& p) {
        return rel.size() > p.first.size() && rel.compare(rel.size() - p.first.size(), p.first.size(), p.first) == 0;
      });
      if (name.front() == '.') {
        out += " partial:" + name;
      } else if (piece == pieces.end()) {
        out += " unrecorded:" + name;
      } else {
        // A published image never changes: each is read back once.
        if (verified_.count(rel) == 0 && image_digest(rel) != source_digest_[piece->second])
          out += " bad-image:" + name;
        verified_.insert(rel);
        pieces.erase(piece);
      }
    }
    for (const auto& missing : pieces) out += " missing:" + missing.first;
    return out.empty() ? out : out.substr(1);
  }

  std::string image_digest(const std::string& path) const {
    Client_IO_Ex io;
    if (!io.connect("file://" + home_->dir() + "/pool", Client_IO_Base::Options()) ||
        !io.open(path, Client_IO_Base::MODE_READ, 0, 0))
      return "missing";
    test::Digest d(GIB);
    Image_Block_Reader reader;
    const bool ok = reader.read_blocks_align(
        io,
        [&d](const char* data, size_t length, int64_t offset) {
          d.feed(data, length, static_cast<uint64_t>(offset));
          return true;
        },
        131072);
    io.close();
    return ok ? d.hex() : "damaged";
  }

  // Records the table line of `fault` and checks it against what it must come to.
  void record(const Fault& fault, Job_Event_Record::Kind got, const std::vector<unsigned long>& alerts,
              const std::string& left, const std::string& log_text) {
    const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now() - case_start_)
                                          .count());
    const bool as_designed = got == fault.want && alerts == fault.alerts && left == fault.stranded;
    if (!as_designed) ++wrong_;
    char line[512];
    std::snprintf(line, sizeof line, "%-64s %-10s %-8s %6ld  %s%s", fault.name.c_str(),
                  outcome_name(got), ids_text(alerts).c_str(), ms,
                  left.empty() ? "nothing" : left.c_str(),
                  as_designed ? "" : "   <-- NOT AS DESIGNED");
    lines_.push_back(line);
    EXPECT_EQ(outcome_name(got), std::string(outcome_name(fault.want))) << fault.name << "\n" << log_text;
    EXPECT_EQ(ids_text(alerts), ids_text(fault.alerts)) << fault.name;
    EXPECT_EQ(left, fault.stranded) << fault.name << "\n" << log_text;
  }

  // One backup with `fault`, then, when the fault leaves a residue, a clean run that must
  // clear it; the cloud goes back to the seed afterwards.
  void backup_case(const Fault& fault, const std::string& options, size_t retry_count = 0) {
    case_start_ = std::chrono::steady_clock::now();
    Job_var job = backup_job(options, retry_count);
    std::string log_text;
    const Job_Event_Record::Kind got = run_with(*job, fault, &log_text);
    const std::vector<unsigned long> alerts = alert_ids(*job);
    std::string left = cloud_leftovers();
    if (fault.residue && !left.empty()) {
      // The next run must clear what this one left and succeed.
      Job_var again = backup_job(options);
      std::string again_log;
      const Job_Event_Record::Kind next = run_with(*again, Fault(), &again_log);
      EXPECT_EQ(next, Job_Event_Record::SUCCESS) << fault.name << "\n" << again_log;
      EXPECT_NE(again_log.find("has been cleared successfully"), std::string::npos)
          << "the next run did not clear the residue\n" << again_log;
      const std::string after = cloud_leftovers();
      left = after.empty() ? "" : "after the next run: " + after;
    }
    const std::string pool = pool_leftovers();
    if (!pool.empty()) left += (left.empty() ? "" : " ") + std::string("pool: ") + pool;
    record(fault, got, alerts, left, log_text);
    ASSERT_NO_FATAL_FAILURE(reseed());
  }

  // A clean backup of i-vm whose set the restores read.
  void back_up_for_restores() {
    Job_var job = backup_job(BACKUP_OPTIONS);
    std::string log_text;
    ASSERT_EQ(run_with(*job, Fault(), &log_text), Job_Event_Record::SUCCESS) << log_text;
    RESTful_Catalog_Operator catalog("127.0.0.1", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> sets;
    ASSERT_TRUE(catalog.list("tavro", sets));
    ASSERT_EQ(sets.size(), 1u);
    set_uuid_ = sets[0].uuid;
    timepoint_ = sets[0].timepoint;
    ASSERT_NO_FATAL_FAILURE(reseed());
  }

  // The restore entry of i-vm's set: a new instance "restored" with two interfaces, or
  // the volumes onto i-tgt.
  std::string restore_entry(bool onto_target) const {
    return R"({"catalog_uuid": ")" + set_uuid_ + R"(", "backup_start_time": ")" + timepoint_ +
           R"(", "src_instance_id": "i-vm", "src_instance_name": "vm-vm",
           "target_instance_name": "restored", "target_node_id": "node-a1",
           "target_cluster_id": "cluster-a",)" +
           (onto_target ? R"( "target_instance_id": "i-tgt",)" : "") + R"(
           "flavor": {"type": "ts.small", "display_name": "small", "cpu": 1, "ram": 1024},
           "nic": [{"vpc_id": "vpc-prod", "vpc_name": "p", "subnet_id": "subnet-prod-a",
                    "subnet_name": "a", "type": "main"},
                   {"vpc_id": "vpc-prod", "vpc_name": "p", "subnet_id": "subnet-prod-a",
                    "subnet_name": "a", "type": "extend"}],
           "volumes": [{"id": "vol-vm-root", "name": "root", "storage_id": "st-ceph-01",
                        "storage_type": "ceph", "size": 1},
                       {"id": "vol-vm-data", "name": "data", "storage_id": "st-ceph-01",
                        "storage_type": "ceph", "size": 1}]})";
  }

  Job_var restore_job(bool onto_target) const {
    test::Job_Spec spec;
    spec.type = JOB_DEFINITION_RESTORE;
    spec.subtype = onto_target ? JOB_DEFINITION_SUBTYPE_DISK : JOB_DEFINITION_SUBTYPE_VM;
    spec.id = "matrix-restore";
    spec.cloud_uuid = CLOUD;
    spec.pool_uuid = POOL;
    spec.source = R"({"id": "res-matrix", "name": "matrix", "entries": [)" + restore_entry(onto_target) + "]}";
    spec.options = R"({"parallel_disks_per_vm": 1, "start_vm": true})";
    return Job_var(new Restore_Job(test::make_job_definition(spec)));
  }

  // The digests of the restored volumes, sorted: those of the new instance, or those
  // that i-tgt holds beyond its own two.
  std::vector<std::string> restored_digests(bool onto_target) {
    tavrocloud::RESTful_Client client;
    const tavrocloud::Login account("127.0.0.1", sim_->port(), false, "",
                                    secure_string(ACCESS_KEY), secure_string(SECRET_KEY));
    std::string id = "i-tgt";
    if (!onto_target) {
      tavrocloud::Instances found;
      EXPECT_TRUE(client.login(account) && client.query_instances_by_name("restored", found));
      tavrocloud::RESTful_Client::filter_instances_by_status(found, tavrocloud::TERMINATED, false);
      id = found.size() == 1 ? found[0].id : "";
    } else {
      EXPECT_TRUE(client.login(account));
    }
    tavrocloud::Volumes volumes;
    EXPECT_TRUE(client.query_instance_volumes(id, volumes));
    std::vector<std::string> out;
    for (const auto& v : volumes)
      if (v.id.compare(0, 8, "vol-tgt-") != 0) out.push_back(digest(v.id));
    std::sort(out.begin(), out.end());
    return out;
  }

  // One restore with `fault`. A failed one must leave the cloud as the seed was; a
  // successful one exactly what a clean restore leaves (`made`), with the volumes'
  // bytes. The cloud goes back to the seed afterwards.
  void restore_case(const Fault& fault, bool onto_target, const std::string& made) {
    case_start_ = std::chrono::steady_clock::now();
    Job_var job = restore_job(onto_target);
    std::string log_text;
    const Job_Event_Record::Kind got = run_with(*job, fault, &log_text);
    std::string left = cloud_leftovers();
    if (got == Job_Event_Record::SUCCESS) {
      std::vector<std::string> want;
      for (const auto& d : source_digest_) want.push_back(d.second);
      std::sort(want.begin(), want.end());
      if (restored_digests(onto_target) != want) left += " (restored bytes differ)";
      else if (left == made) left.clear();
    }
    record(fault, got, alert_ids(*job), left, log_text);
    ASSERT_NO_FATAL_FAILURE(reseed());
  }

  std::string set_uuid_, timepoint_;

  static std::string skip_reason_;
  std::unique_ptr<test::Temp_Home> home_;
  std::string data_dir_;  // the simulator's backing files
  std::unique_ptr<test::Sim_Process> sim_;
  Sleep_Hook previous_sleep_ = nullptr;
  std::string missing_dmi_, previous_dmi_, seed_path_;
  std::map<std::string, std::string> source_digest_;
  std::set<std::string> verified_;  // images that read back as their volumes' bytes
  std::vector<std::string> lines_;
  size_t wrong_ = 0;
  std::chrono::steady_clock::time_point case_start_;
};

std::string Fault_Matrix::skip_reason_;

// The faults every cloud action of a run gets: an error answer and a dropped
// connection; a "false" answer where the action answers a flag; a change that ends in
// an error state and one that never ends where it starts one.
std::vector<Fault> action_faults(const std::string& action, int nth, bool flag, bool change) {
  std::vector<std::string> kinds = {"error", "disconnect"};
  if (flag) kinds.push_back("return_false");
  if (change) kinds.insert(kinds.end(), {"end_status", "stuck"});
  std::vector<Fault> out;
  for (const std::string& kind : kinds) {
    Fault f;
    f.name = action + "#" + std::to_string(nth) + " " + kind;
    f.sim = sim_fault(action, kind, nth);
    out.push_back(f);
  }
  return out;
}

Fault pool_fault(const std::string& name, Pool_Fault::Call call, int err, int nth, int times = 1000000) {
  Fault f;
  f.name = name;
  f.pool = call;
  f.err = err;
  f.nth = nth;
  f.times = times;
  return f;
}

// Sets what `faults` named in `names` must come to.
// Sets what the faults named in `names` must come to.
void expect(std::vector<Fault>& faults, const std::set<std::string>& names, Job_Event_Record::Kind want,
            std::vector<unsigned long> alerts = {}, bool residue = false) {
  size_t found = 0;
  for (Fault& f : faults) {
    if (names.count(f.name) == 0) continue;
    f.want = want;
    f.alerts = alerts;
    f.residue = residue;
    ++found;
  }
  EXPECT_EQ(found, names.size()) << "a name is not in the table";
}

// Names the faults in `names` whose change never ends: the cloud keeps `left` (it
// refuses to delete what is still changing).
void strand(std::vector<Fault>& faults, const std::set<std::string>& names, const std::string& left) {
  for (Fault& f : faults)
    if (names.count(f.name) != 0) f.stranded = left;
}

// Every fault of `action` at `nth` that `action_faults` makes, for `expect`.
std::set<std::string> all_of(const std::string& action, int nth, bool flag, bool change) {
  std::set<std::string> names;
  for (const Fault& f : action_faults(action, nth, flag, change)) names.insert(f.name);
  return names;
}

void append(std::vector<Fault>& to, const std::vector<Fault>& more) {
  to.insert(to.end(), more.begin(), more.end());
}


TEST_F(Fault_Matrix, Backup_With_Temporary_Snapshots) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  std::vector<Fault> faults;
  Fault refused;
  refused.name = "GetCloudVersion#1 refused keys (executor login)";
  refused.sim = R"({"action": "GetCloudVersion", "code": "AuthFailure", "message": "no", "http_status": 401})";
  refused.alerts = {1};
  faults.push_back(refused);
  refused.name = "GetCloudVersion#2 refused keys (handler login)";
  refused.sim = R"({"action": "GetCloudVersion", "nth": 2, "code": "AuthFailure", "message": "no", "http_status": 401})";
  faults.push_back(refused);
  append(faults, action_faults("GetCloudVersion", 1, false, false));
  append(faults, action_faults("DescribeInstances", 1, false, false));
  append(faults, action_faults("DescribeInstances", 2, false, false));
  append(faults, action_faults("DescribeInstanceTypes", 1, false, false));
  append(faults, action_faults("DescribeVolumes", 2, false, false));
  append(faults, action_faults("DescribeImages", 1, false, false));
  append(faults, action_faults("DescribeNodes", 1, false, false));
  append(faults, action_faults("DescribeStorages", 1, false, false));
  append(faults, action_faults("CreateTmpSnapshots", 1, false, true));
  append(faults, action_faults("CreateTmpSnapshots", 2, false, true));
  append(faults, action_faults("DescribeTmpSnapshots", 1, false, false));
  append(faults, action_faults("AttachTmpSnapshot", 1, true, true));
  append(faults, action_faults("AttachTmpSnapshot", 2, true, true));
  append(faults, action_faults("DetachTmpSnapshot", 1, true, true));
  append(faults, action_faults("DeleteTmpSnapshots", 2, true, true));
  append(faults, action_faults("DescribeNetworkInterfaces", 1, false, false));
  append(faults, action_faults("DescribeVpcs", 1, false, false));
  append(faults, action_faults("DescribeSubnets", 1, false, false));
  using K = Job_Event_Record;
  // Without the version the cloud takes the snapshot-volume path, which works.
  expect(faults, {"GetCloudVersion#1 error"}, K::SUCCESS);
  expect(faults, {"GetCloudVersion#1 disconnect"}, K::FAILURE, {1});
  expect(faults, all_of("DescribeInstances", 2, false, false), K::FAILURE, {7});
  // An image that cannot be read leaves the set's image description empty.
  expect(faults, all_of("DescribeImages", 1, false, false), K::SUCCESS);
  for (int nth : {1, 2}) expect(faults, all_of("CreateTmpSnapshots", nth, false, true), K::FAILURE, {8}, true);
  expect(faults, all_of("DescribeTmpSnapshots", 1, false, false), K::FAILURE, {8}, true);
  for (int nth : {1, 2}) expect(faults, {"AttachTmpSnapshot#" + std::to_string(nth) + " stuck"}, K::FAILURE, {}, true);
  expect(faults, all_of("DetachTmpSnapshot", 1, true, true), K::SUCCESS, {}, true);
  expect(faults, all_of("DeleteTmpSnapshots", 2, true, true), K::SUCCESS, {}, true);
  expect(faults, all_of("DescribeVpcs", 1, false, false), K::SUCCESS);
  expect(faults, all_of("DescribeSubnets", 1, false, false), K::SUCCESS);
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_NO_FATAL_FAILURE(backup_case(f, BACKUP_OPTIONS));
  }
}

TEST_F(Fault_Matrix, Backup_With_Snapshot_Volumes_And_Power_Cycle) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.7"));
  std::vector<Fault> faults;
  append(faults, action_faults("StopInstances", 1, false, true));
  append(faults, action_faults("BackupInstance", 1, false, true));
  append(faults, action_faults("DescribeInstanceBackups", 1, false, false));
  append(faults, action_faults("CreateVolume", 1, false, true));
  append(faults, action_faults("CreateVolume", 2, false, true));
  append(faults, action_faults("AttachVolume", 1, false, true));
  append(faults, action_faults("AttachVolume", 2, false, true));
  append(faults, action_faults("DetachVolume", 2, false, true));
  append(faults, action_faults("DeleteVolume", 1, true, false));
  append(faults, action_faults("DeleteInstanceBackup", 1, false, false));
  append(faults, action_faults("StartInstances", 1, false, true));
  using K = Job_Event_Record;
  expect(faults, {"StopInstances#1 error", "StopInstances#1 disconnect"}, K::FAILURE, {4});
  // A stop that does not end leaves the instance stopping: it cannot be started either.
  expect(faults, {"StopInstances#1 end_status", "StopInstances#1 stuck"}, K::FAILURE, {4, 5});
  strand(faults, {"CreateVolume#1 stuck", "CreateVolume#2 stuck", "DetachVolume#2 stuck"}, "volumes=1");
  expect(faults, all_of("DetachVolume", 2, false, true), K::SUCCESS);
  expect(faults, all_of("DeleteVolume", 1, true, false), K::SUCCESS);
  expect(faults, all_of("DeleteInstanceBackup", 1, false, false), K::SUCCESS);
  expect(faults, all_of("StartInstances", 1, false, true), K::SUCCESS, {5});
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_NO_FATAL_FAILURE(backup_case(f, R"({"parallel_disks_per_vm": 1, "restart_vm": true})"));
  }
}

TEST_F(Fault_Matrix, Backup_Pool_Faults_And_Cancellation) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  std::vector<Fault> faults = {
      pool_fault("pool: create of the first image ENOSPC", Pool_Fault::OPEN, ENOSPC, 1),
      pool_fault("pool: create of the second image EIO", Pool_Fault::OPEN, EIO, 2),
      pool_fault("pool: first write EIO", Pool_Fault::WRITE, EIO, 1),
      pool_fault("pool: 3rd write ENOSPC", Pool_Fault::WRITE, ENOSPC, 3),
      pool_fault("pool: fsync of the first image EIO", Pool_Fault::FSYNC, EIO, 1),
      pool_fault("pool: fsync of the second image ENOSPC", Pool_Fault::FSYNC, ENOSPC, 2),
      pool_fault("pool: rename of the first image EIO", Pool_Fault::RENAME, EIO, 1),
      pool_fault("pool: rename of the second image EIO", Pool_Fault::RENAME, EIO, 2),
      pool_fault("pool: directory sync of the first image EIO", Pool_Fault::SYNC_DIRECTORY, EIO, 1),
      pool_fault("pool: directory sync of the second image ENOSPC", Pool_Fault::SYNC_DIRECTORY, ENOSPC, 2),
      pool_fault("cancel: at the first pool write", Pool_Fault::WRITE, 0, 1, 1),
      pool_fault("cancel: at the 3rd pool write", Pool_Fault::WRITE, 0, 3, 1),
  };
  // The waits of a run: the two snapshots' creation, their attachments, then the
  // clean-up after the upload, where a cancellation no longer stops a finished backup.
  for (int at : {1, 2, 3, 4, 5}) {
    Fault f;
    f.name = "cancel: at wait " + std::to_string(at);
    f.cancel_at_sleep = at;
    f.want = at < 5 ? Job_Event_Record::CANCELED : Job_Event_Record::SUCCESS;
    faults.push_back(f);
  }
  for (Fault& f : faults)
    if (f.name.compare(0, 17, "cancel: at the fi") == 0 || f.name.compare(0, 17, "cancel: at the 3r") == 0)
      f.want = Job_Event_Record::CANCELED;
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_NO_FATAL_FAILURE(backup_case(f, BACKUP_OPTIONS));
  }
  // A fault that passes: the volume task's re-run succeeds.
  std::vector<Fault> transient = {
      pool_fault("pool: one write EIO, one re-run allowed", Pool_Fault::WRITE, EIO, 2, 1),
      pool_fault("pool: one fsync EIO, one re-run allowed", Pool_Fault::FSYNC, EIO, 2, 1),
  };
  for (Fault& f : transient) {
    SCOPED_TRACE(f.name);
    f.want = Job_Event_Record::SUCCESS;
    ASSERT_NO_FATAL_FAILURE(backup_case(f, BACKUP_OPTIONS, 1));
  }
}

TEST_F(Fault_Matrix, Restore) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  ASSERT_NO_FATAL_FAILURE(back_up_for_restores());
  std::map<bool, std::string> made;
  for (bool onto_target : {false, true}) {
    Job_var job = restore_job(onto_target);
    std::string log_text;
    ASSERT_EQ(run_with(*job, Fault(), &log_text), Job_Event_Record::SUCCESS) << log_text;
    made[onto_target] = cloud_leftovers();
    ASSERT_NO_FATAL_FAILURE(reseed());
  }
  std::vector<Fault> new_instance;
  append(new_instance, action_faults("CreateVolume", 1, false, true));
  append(new_instance, action_faults("CreateVolume", 2, false, true));
  append(new_instance, action_faults("AttachVolume", 1, false, true));
  append(new_instance, action_faults("DetachVolume", 1, false, true));
  append(new_instance, action_faults("ConvertVolume", 1, true, false));
  append(new_instance, action_faults("CreateNetworkInterface", 2, false, false));
  append(new_instance, action_faults("RunInstances", 1, false, true));
  append(new_instance, action_faults("AttachVolume", 3, false, true));
  append(new_instance, action_faults("StartInstances", 1, false, true));
  using K = Job_Event_Record;
  strand(new_instance, {"CreateVolume#1 stuck", "CreateVolume#2 stuck", "DetachVolume#1 stuck"},
         "volumes=1");
  expect(new_instance, all_of("RunInstances", 1, false, true), K::FAILURE, {9});
  // The power state is only logged.
  expect(new_instance, all_of("StartInstances", 1, false, true), K::SUCCESS);
  for (const Fault& f : new_instance) {
    SCOPED_TRACE(f.name);
    ASSERT_NO_FATAL_FAILURE(restore_case(f, false, made[false]));
  }
  std::vector<Fault> onto_target;
  append(onto_target, action_faults("AttachVolume", 3, false, true));
  for (Fault& f : onto_target) {
    f.name += " (onto i-tgt)";
    SCOPED_TRACE(f.name);
    ASSERT_NO_FATAL_FAILURE(restore_case(f, true, made[true]));
  }
}

TEST_F(Fault_Matrix, Restore_With_Snapshots) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.7"));
  ASSERT_NO_FATAL_FAILURE(back_up_for_restores());
  Job_var clean = restore_job(false);
  std::string log_text;
  ASSERT_EQ(run_with(*clean, Fault(), &log_text), Job_Event_Record::SUCCESS) << log_text;
  const std::string made = cloud_leftovers();
  ASSERT_NO_FATAL_FAILURE(reseed());
  std::vector<Fault> faults;
  append(faults, action_faults("CreateSnapshot", 1, false, true));
  append(faults, action_faults("RunInstances", 1, false, true));
  append(faults, action_faults("DeleteSnapshot", 1, true, false));
  append(faults, action_faults("DeleteVolume", 1, true, false));
  using K = Job_Event_Record;
  expect(faults, all_of("RunInstances", 1, false, true), K::FAILURE, {9});
  expect(faults, all_of("DeleteSnapshot", 1, true, false), K::SUCCESS);
  expect(faults, all_of("DeleteVolume", 1, true, false), K::SUCCESS);
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.name);
    ASSERT_NO_FATAL_FAILURE(restore_case(f, false, made));
  }
}

// ---- a job process killed mid-backup ------------------------------------------------

// Where the killed child stops: it tells the parent through `fd` and waits to be killed.
int stall_fd = -1;
std::atomic<int> stall_countdown{0};
void stall_here() {
  if (stall_countdown.load() <= 0 || --stall_countdown != 0) return;
  const char c = 'k';
  (void)!::write(stall_fd, &c, 1);
  for (;;) ::pause();
}
void stalling_sleep(unsigned int) { stall_here(); }

class Stalling_Pool : public Pool_File_System {
 public:
  ssize_t writev(int fd, const struct iovec* iov, int count) override {
    stall_here();
    return Pool_File_System::writev(fd, iov, count);
  }
};

TEST_F(Fault_Matrix, Backup_Killed_And_Run_Again) {
  ASSERT_NO_FATAL_FAILURE(start_cloud("V9.8"));
  const struct {
    const char* name;
    bool at_write;  // stall at a pool write, else at a wait
    int nth;
  } kills[] = {
      {"SIGKILL while the first snapshot attaches, then a new run", false, 3},
      {"SIGKILL in the middle of the first image, then a new run", true, 3},
  };
  for (const auto& k : kills) {
    SCOPED_TRACE(k.name);
    case_start_ = std::chrono::steady_clock::now();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::close(fds[0]);
      stall_fd = fds[1];
      stall_countdown = k.nth;
      Stalling_Pool stalling;
      if (k.at_write) Pool_File_System::install(&stalling);
      else set_sleep_hook(&stalling_sleep);
      Job_var job = backup_job(BACKUP_OPTIONS);
      test::run_job(*job, nullptr, 600);
      ::_exit(3);  // the run ended without reaching its stall
    }
    ::close(fds[1]);
    char c = 0;
    const bool stalled = ::read(fds[0], &c, 1) == 1;
    ::close(fds[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(stalled) << "the child ended before its stall";
    // The killed run left nothing in the pool: no image, not even a partial one.
    EXPECT_EQ(pool_leftovers(), "");
    EXPECT_NE(cloud_leftovers(), "") << "the killed run made nothing to clear";
    Fault fault;
    fault.name = k.name;
    fault.want = Job_Event_Record::SUCCESS;
    fault.residue = true;
    Job_var again = backup_job(BACKUP_OPTIONS);
    std::string log_text;
    const Job_Event_Record::Kind got = run_with(*again, Fault(), &log_text);
    EXPECT_NE(log_text.find("has been cleared successfully"), std::string::npos)
        << "the new run did not clear the killed run's snapshots\n" << log_text;
    std::string left = cloud_leftovers();
    std::string pool = pool_leftovers();
    if (!pool.empty()) left += (left.empty() ? "" : " ") + std::string("pool: ") + pool;
    record(fault, got, alert_ids(*again), left, log_text);
    ASSERT_NO_FATAL_FAILURE(reseed());
  }
}

}  // namespace
