// The fixture of the end-to-end tests that drive the module in this process: a host
// home, waits that are not slept, the simulator started from a seed of instances, jobs
// run to their end, and the checks of what a run left in the pool. Header only; used by
// the cloud client, backup and fault matrix tests.
#ifndef TESTS_E2E_JOB_FIXTURE_H
#define TESTS_E2E_JOB_FIXTURE_H

#include "catalog/restful_catalog_operator.h"
#include "content_digest.h"
#include "job/controllable_job_t.h"
#include "job_driver.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "private_dev_disk.h"
#include "runtime/sleep.h"
#include "sim_process.h"
#include "support/log_capture.h"
#include "support/sleep_recorder.h"
#include "support/temp_home.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/backup_executor.h"
#include "tavrocloud/job/restore_executor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace test {

using Backup_Job = Controllable_Job_T<tavrocloud::Backup_Executor>;
using Restore_Job = Controllable_Job_T<tavrocloud::Restore_Executor>;
constexpr uint64_t GIB = 1ull << 30;

// The content digest of the image at `path` in the pool folder `pool` (the path it was
// written under, which it must be read under), as the simulator computes a volume's (of
// 1 GiB); "missing" or "damaged" when it cannot be read whole.
inline std::string pool_image_digest(const std::string& pool, const std::string& path) {
  Client_IO_Ex io;
  if (!io.connect("file://" + pool, Client_IO_Base::Options()) ||
      !io.open(path, Client_IO_Base::MODE_READ, 0, 0))
    return "missing";
  Digest digest(GIB);
  const auto feed = [&digest](const char* data, size_t length, int64_t offset) {
    digest.feed(data, length, static_cast<uint64_t>(offset));
    return true;
  };
  const bool ok = Image_Block_Reader().read_blocks_align(io, feed, 131072);
  io.close();
  return ok ? digest.hex() : "damaged";
}

// The base of the end-to-end tests: a host home, `sleep` called for every wait, no
// product UUID (the agent is found by its address) and the simulator, which makes loop
// devices in a private /dev/disk (the test skips where it cannot) or, without
// `loop_devices`, links below the home.
class Cloud_Job_Test : public ::testing::Test {
 protected:
  static constexpr const char* CLOUD = "cloud-e2e";
  static constexpr const char* POOL = "pool-e2e";

  explicit Cloud_Job_Test(Sleep_Hook sleep, bool loop_devices = true)
      : sleep_(sleep), loop_devices_(loop_devices) {}

  void SetUp() override {
    const std::string& skip = loop_devices_ ? enter_private_dev_disk() : "";
    if (!skip.empty()) GTEST_SKIP() << "e2e skipped: " << skip;
    home_ = std::make_unique<Temp_Home>("job-e2e-");
    ASSERT_TRUE(home_->made());
    sleep_override_ = std::make_unique<Sleep_Override>(sleep_);
    missing_dmi_ = home_->dir() + "/no-product-uuid";
    previous_dmi_ = tavrocloud::RESTful_Client::set_product_uuid_path(missing_dmi_);
  }

  void TearDown() override {
    if (home_ == nullptr) return;
    if (sim_ != nullptr && sim_->running()) {
      before_stop();
      EXPECT_TRUE(sim_->stop());
    }
    sim_.reset();
    tavrocloud::RESTful_Client::set_product_uuid_path(previous_dmi_);
    sleep_override_.reset();
    home_.reset();
  }

  // Checks made while the simulator still runs, at the end of every test.
  virtual void before_stop() {}

  // Starts the simulator with `options`, its devices as the fixture makes them.
  void start_sim(Sim_Options options) {
    options.loop = loop_devices_ ? "losetup" : "link";
    if (!loop_devices_) options.dev_root = home_->dir();
    options.extra_args.insert(options.extra_args.end(), {"--dmi-path", missing_dmi_});
    sim_ = std::make_unique<Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
  }

  // Starts the simulator at cloud `version` with its agent and `instances`, no other
  // volumes, and prepares the home for it: identity, account CLOUD and pool POOL.
  void start_cloud(const std::string& version, const json_spirit::Array& instances) {
    Sim_Options options;
    options.seed = write_seed(seed_path(), instances);
    options.version = version;
    ASSERT_NO_FATAL_FAILURE(start_sim(options));
    ASSERT_EQ("", prepare_job_home(home_->dir(), sim_->port(), CLOUD, SIM_ACCESS_KEY,
                                   SIM_SECRET_KEY, POOL));
  }
  std::string seed_path() const { return home_->dir() + "/seed.json"; }

  // A job of this cloud and pool.
  template <class Job_Kind>
  Job_var job(Job_Spec spec) const {
    spec.cloud_uuid = CLOUD;
    spec.pool_uuid = POOL;
    return Job_var(new Job_Kind(make_job_definition(spec)));
  }

  // Runs `job` to its end (with `opts`, null for none), its log captured in the result.
  static Job_Run run(Job& job, const Action_Options* opts = nullptr) {
    Log_Capture log;
    Job_Run done = run_job(job, opts, 600);
    done.log = log.text();
    EXPECT_TRUE(done.completed) << done.log;
    return done;
  }

  static std::vector<Catalog_Entry> catalog_sets() {
    RESTful_Catalog_Operator catalog("127.0.0.1", 0, false, "", -1, 0);
    std::vector<Catalog_Entry> sets;
    EXPECT_TRUE(catalog.list("tavro", sets));
    return sets;
  }

  // The images of the committed sets: path below the job's folder -> volume.
  static std::map<std::string, std::string> catalog_pieces() {
    std::map<std::string, std::string> pieces;
    for (const Catalog_Entry& set : catalog_sets())
      for (const json_spirit::Value& piece : set.set.at("pieces").get_array())
        pieces[piece.get_obj().at("path").get_str()] = piece.get_obj().at("object").get_str();
    return pieces;
  }

  // The pool must hold exactly the images of the committed sets, each reading back as
  // its volume's bytes, nothing unfinished and no empty folder (a folder holding no image
  // holds no set), unless `killed` (a killed run cannot remove the folders it made); what
  // it holds beyond that, "" if nothing.
  std::string pool_leftovers(bool killed = false) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> pieces = catalog_pieces();
    std::string out;
    const std::string root = home_->dir() + "/pool";
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      const std::string rel = fs::relative(entry.path(), root);
      if (entry.is_directory() && fs::is_empty(entry.path()) && !killed) out += " empty:" + rel;
      if (!entry.is_regular_file()) continue;
      const std::string name = entry.path().filename();
      auto piece = pieces.begin();
      while (piece != pieces.end() && !ends_with(rel, piece->first)) ++piece;
      if (name.front() == '.') {
        out += " partial:" + name;
      } else if (piece == pieces.end()) {
        out += " unrecorded:" + name;
      } else {
        // A published image never changes: each is read back once.
        const std::string folder = rel.substr(0, rel.size() - piece->first.size());
        if (verified_.insert(rel).second &&
            image_digest(folder, piece->first) != sim_->digest(piece->second))
          out += " bad-image:" + name;
        pieces.erase(piece);
      }
    }
    for (const auto& missing : pieces) out += " missing:" + missing.first;
    return out.empty() ? out : out.substr(1);
  }

  // The content digest of the image at the piece path `path` in the job's `folder` of
  // the pool.
  std::string image_digest(const std::string& folder, const std::string& path) const {
    return pool_image_digest(home_->dir() + "/pool/" + folder, path);
  }

  std::unique_ptr<Temp_Home> home_;
  std::unique_ptr<Sim_Process> sim_;

 private:
  static bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() > tail.size() && text.substr(text.size() - tail.size()) == tail;
  }

  std::set<std::string> verified_;  // images that read back as their volumes' bytes
  Sleep_Hook sleep_;
  bool loop_devices_;
  std::unique_ptr<Sleep_Override> sleep_override_;
  std::string missing_dmi_;
  std::string previous_dmi_;
};

}  // namespace test

#endif  // TESTS_E2E_JOB_FIXTURE_H
