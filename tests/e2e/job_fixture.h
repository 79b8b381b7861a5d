// The fixture of the job end-to-end tests: a host home, waits that are not slept, no
// product UUID (the agent is found by its address), and the simulator with loop devices
// started from a seed of instances. Header only; used by the backup and restore tests.
#ifndef TESTS_E2E_JOB_FIXTURE_H
#define TESTS_E2E_JOB_FIXTURE_H

#include "job_driver.h"
#include "private_dev_disk.h"
#include "runtime/sleep.h"
#include "sim_process.h"
#include "support/temp_home.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace test {

// The base of the job end-to-end tests; skipped where private loop devices cannot be had.
class Cloud_Job_Test : public ::testing::Test {
 protected:
  static constexpr const char* ACCESS_KEY = "AKIDTAVROSIMDEMO0001";
  static constexpr const char* SECRET_KEY = "tavrosim/Demo+Secret/Key0001";
  static constexpr const char* CLOUD = "cloud-e2e";
  static constexpr const char* POOL = "pool-e2e";

  explicit Cloud_Job_Test(Sleep_Hook sleep) : sleep_(sleep) {}

  static void SetUpTestSuite() { skip_reason() = enter_private_dev_disk(); }

  void SetUp() override {
    if (!skip_reason().empty()) GTEST_SKIP() << "e2e skipped: " << skip_reason();
    home_ = std::make_unique<Temp_Home>("job-e2e-");
    ASSERT_TRUE(home_->made());
    previous_sleep_ = set_sleep_hook(sleep_);
    missing_dmi_ = home_->dir() + "/no-product-uuid";
    previous_dmi_ = tavrocloud::RESTful_Client::set_product_uuid_path(missing_dmi_);
  }

  void TearDown() override {
    if (!skip_reason().empty()) return;
    if (sim_ != nullptr && sim_->running()) {
      before_stop();
      EXPECT_TRUE(sim_->stop());
    }
    sim_.reset();
    tavrocloud::RESTful_Client::set_product_uuid_path(previous_dmi_);
    set_sleep_hook(previous_sleep_);
    home_.reset();
  }

  // Checks made while the simulator still runs, at the end of every test.
  virtual void before_stop() {}

  // Starts the simulator at cloud `version` with its agent and `instances`, no other
  // volumes, and prepares the home for it.
  void start_cloud(const std::string& version, const json_spirit::Array& instances) {
    json_spirit::Object seed = object_of(read_file(Sim_Process::source_dir() + "/sim/seed.json"));
    json_spirit::Array all{seed["instances"].get_array().at(0)};  // the agent
    all.insert(all.end(), instances.begin(), instances.end());
    seed["instances"] = all;
    seed["volumes"] = json_spirit::Array();
    const std::string seed_path = home_->dir() + "/seed.json";
    std::ofstream(seed_path) << JSON_Dump(seed);
    Sim_Options options;
    options.seed = seed_path;
    options.loop = "losetup";
    options.version = version;
    options.extra_args = {"--dmi-path", missing_dmi_};
    sim_ = std::make_unique<Sim_Process>(options);
    ASSERT_TRUE(sim_->running()) << sim_->error();
    ASSERT_EQ(prepare_job_home(home_->dir(), sim_->port(), CLOUD, ACCESS_KEY, SECRET_KEY, POOL), "");
  }

  // A job definition of this cloud and pool.
  Job_Definition_var definition(Job_Spec spec) const {
    spec.cloud_uuid = CLOUD;
    spec.pool_uuid = POOL;
    return make_job_definition(spec);
  }

  // The simulator's digest of the content of volume `id` ("" when unknown).
  std::string sim_digest(const std::string& id) const {
    const auto obj = object_of(sim_->get("/digest?id=" + id));
    const auto it = obj.find("digest");
    return it != obj.end() && it->second.type() == json_spirit::str_type ? it->second.get_str() : "";
  }

  // A client logged into the simulator.
  std::unique_ptr<tavrocloud::RESTful_Client> cloud_client() const {
    auto client = std::make_unique<tavrocloud::RESTful_Client>();
    const tavrocloud::Login account("127.0.0.1", sim_->port(), false, "",
                                    secure_string(ACCESS_KEY), secure_string(SECRET_KEY));
    EXPECT_TRUE(client->login(account));
    return client;
  }

  static std::string& skip_reason() {
    static std::string reason;
    return reason;
  }

  std::unique_ptr<Temp_Home> home_;
  std::unique_ptr<Sim_Process> sim_;

 private:
  Sleep_Hook sleep_;
  Sleep_Hook previous_sleep_ = nullptr;
  std::string missing_dmi_;
  std::string previous_dmi_;
};

}  // namespace test

#endif  // TESTS_E2E_JOB_FIXTURE_H
