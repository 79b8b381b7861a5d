// Runs cloud jobs end to end through the host's job engine, as the product would: a host
// home with an identity, a registered cloud account (the simulator) and a storage pool;
// job definitions of either kind built from their source and options JSON; a job started
// with its options and waited for until its thread completes; and the fixture of those
// tests, which runs the simulator with loop devices and instances of two volumes. Header
// only; used by the backup and restore end-to-end tests.
#ifndef TESTS_E2E_JOB_DRIVER_H
#define TESTS_E2E_JOB_DRIVER_H

#include "identity/host_manager.h"
#include "identity/rsa_codec.h"
#include "job_engine/job.h"
#include "job_engine/job_definition.h"
#include "job_engine/job_types.h"
#include "json/json_dump.h"
#include "json/json_load.h"
#include "jsonrpc/tavrocloud_accounts.h"
#include "pool/pool_registry.h"
#include "private_dev_disk.h"
#include "runtime/sleep.h"
#include "sim_process.h"
#include "support/temp_home.h"
#include "tavrocloud/common/tavrocloud_restful_client.h"
#include "tavrocloud/job/job_parameters.h"

#include <ace/Refcounted_Auto_Ptr.h>
#include <ace/Thread_Mutex.h>
#include <ace/Time_Value.h>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace test {

// The host home of a job test (QUILLON3_ROOT must already point at `home`): the
// identity, the account `cloud_uuid` for the simulator on `port`, and the pool
// `pool_uuid` in "<home>/pool". Empty on success, else what failed.
inline std::string prepare_job_home(const std::string& home, uint16_t port,
                                    const std::string& cloud_uuid, const std::string& access_key,
                                    const std::string& secret_key, const std::string& pool_uuid) {
  if (!Host_Manager::initialise_home(home, "e2e-host", 2048) || !Host_Manager::instance().reload())
    return "no host identity";
  const std::string& pub = Host_Manager::instance().rsa_pubkey();
  RSA_Encoder encoder(secret_key.data(), secret_key.size(), pub.data(), pub.size(), true,
                      RSA_CODEC_OAEP_SHA256);
  if (!encoder) return "cannot encrypt the secret key";
  json_spirit::Object account;
  account["host"] = "127.0.0.1";
  account["port"] = static_cast<int>(port);
  account["ssl"] = false;
  account["locale"] = "";
  account["access_key"] = access_key;
  account["security_key"] = encoder.str();
  std::string error;
  if (!tavrocloud_accounts::store_account(cloud_uuid, account, &error)) return error;
  Pool_Record pool;
  pool.uuid = pool_uuid;
  pool.name = "e2e pool";
  pool.url = "file://" + home + "/pool";
  ::mkdir((home + "/pool").c_str(), 0750);
  if (!Pool_Registry().add(pool, &error)) return error;
  return std::string();
}

// What a job definition of the cloud jobs is made of.
struct Job_Spec {
  Job_Definition_Type type = JOB_DEFINITION_BACKUP;
  Job_Definition_Subtype subtype = JOB_DEFINITION_SUBTYPE_FULL;
  std::string id;
  std::string uid = "6f2c7e0a-4b1d-4c3e-9a5f-0123456789ab";
  std::string name = "e2e job";
  std::string cloud_uuid;
  std::string pool_uuid;
  std::string source;   // JSON text
  std::string options;  // JSON text
  size_t retry_count = 0;
  size_t retry_interval = 0;
};

inline Job_Definition_var make_job_definition(const Job_Spec& spec) {
  using Doc = ACE_Refcounted_Auto_Ptr<tavrocloud::Job_Parameters, ACE_Thread_Mutex>;
  auto document = [](const std::string& json) {
    Doc doc(new tavrocloud::Job_Parameters);
    doc->value() = JSON_Load(json);
    if (doc->value().type() == json_spirit::obj_type) {
      auto id = doc->value().get_obj().find("id");
      if (id != doc->value().get_obj().end() && id->second.type() == json_spirit::str_type)
        doc->set_id(id->second.get_str());
    }
    return doc;
  };
  Job_Definition_var def(new Job_Definition);
  def->set_type(spec.type);
  def->set_subtype(spec.subtype);
  def->set_id(spec.id);
  def->set_uid(spec.uid);
  def->set_name(spec.name);
  def->set_host_id(spec.cloud_uuid);
  def->set_target(Job_Target(spec.pool_uuid, "e2e pool", ""));
  def->set_source(document(spec.source));
  def->set_options(document(spec.options));
  def->set_retry_count(spec.retry_count);
  def->set_retry_interval(spec.retry_interval);
  return def;
}

// The outcome of one run.
struct Job_Run {
  bool started = false;
  bool completed = false;  // the job thread called complete() in time
  std::vector<Job_Event_Record> events;

  // The closing event's kind, or START when the run never closed.
  Job_Event_Record::Kind outcome() const {
    return events.empty() ? Job_Event_Record::START : events.back().kind;
  }
};

// Starts `job` with `opts` (null for none) and waits up to `timeout_seconds` for its run
// to complete; `while_running`, when given, is called once right after the start.
inline Job_Run run_job(Job& job, const Action_Options* opts, int timeout_seconds,
                       const std::function<void(Job&)>& while_running = {}) {
  Job_Run run;
  const size_t events_before = job.events().size();
  run.started = job.start(opts) == 0;
  if (run.started && while_running) while_running(job);
  run.completed = run.started && job.wait_complete(ACE_Time_Value(timeout_seconds));
  const std::vector<Job_Event_Record> all = job.events();
  run.events.assign(all.begin() + static_cast<long>(events_before), all.end());
  return run;
}

inline json_spirit::Object object_of(const std::string& json) {
  const json_spirit::Value v = JSON_Load(json);
  return v.type() == json_spirit::obj_type ? v.get_obj() : json_spirit::Object();
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// An instance of the simulator's seed on node-a1 with a root and a data volume of 1 GiB.
inline json_spirit::Value seed_instance(const std::string& id, const std::string& name,
                                        const std::string& status, const std::string& ip,
                                        const std::string& root, const std::string& data) {
  return JSON_Load(R"({"id": ")" + id + R"(", "name": ")" + name + R"(", "status": ")" + status +
                   R"(", "type": "ts.small", "image": "img-centos7-x64", "node": "node-a1",
      "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"], "ip": ")" + ip + R"("}],
      "volumes": [{"id": ")" + root + R"(", "size": 1, "storage": "st-ceph-01",
                   "device": "/dev/vda", "root": true},
                  {"id": ")" + data + R"(", "size": 1, "storage": "st-ceph-01",
                   "device": "/dev/vdb"}]})");
}

// The fixture of the job end-to-end tests: a host home, waits that are not slept, no
// product UUID (the agent is found by its address), and the simulator once started.
// Skipped where private loop devices cannot be had.
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

#endif  // TESTS_E2E_JOB_DRIVER_H
