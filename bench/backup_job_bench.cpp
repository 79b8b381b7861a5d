// bench-component: tavrocloud_objects
// One whole backup job for bench/backup_bench.sh: the host's job engine runs the module's
// backup job against the simulator (loop devices, temporary snapshots) for one instance
// whose volumes hold the bytes of SRC, into a fresh pool under WORK.
//
//   backup_job_bench WORK SRC VOLUMES PARALLEL_DISKS
//
// Runs as root in a private mount namespace of its own. Prints
// "upload_seconds=<s> total_seconds=<s> peak_rss_kib=<n> ok=<0|1>": the upload phase
// runs from the first pool file opened to the last image published (the pool directory
// and this process's descriptors are watched every millisecond: images are written
// without a name until published), apart from the cloud's waits before and after; the peak
// RSS is this process's, which runs the job.
#include "../tests/e2e/job_driver.h"
#include "../tests/e2e/private_dev_disk.h"
#include "../tests/e2e/sim_process.h"
#include "job/controllable_job_t.h"
#include "json/json_dump.h"
#include "runtime/sleep.h"
#include "tavrocloud/job/backup_executor.h"
#include "yolt/sleep.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void no_sleep(unsigned int) {}

// Copies SRC over the start of the volume's backing file (made sparse by the simulator).
bool fill(const std::string& src, const std::string& dst) {
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  const int out = ::open(dst.c_str(), O_WRONLY | O_CLOEXEC);
  bool ok = in >= 0 && out >= 0;
  while (ok) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n == 0) break;
    ok = n > 0;
  }
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

// Watches the pool: when the first file is opened in it (this process runs the job, and
// an image being written has no name there yet, only a descriptor) and when `images` are
// published.
class Pool_Watch {
 public:
  Pool_Watch(std::string root, size_t images)
      : root_(std::move(root)), images_(images), thread_([this] { run(); }) {}
  ~Pool_Watch() {
    stop_ = true;
    thread_.join();
  }
  double seconds() const {
    return std::chrono::duration<double>(last_ - first_).count();
  }

 private:
  void run() {
    bool started = false;
    while (!stop_) {
      size_t files = 0;
      size_t published = 0;
      std::error_code ec;
      for (auto it = fs::recursive_directory_iterator(root_, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        ++files;
        if (it->path().filename().string().front() != '.') ++published;
      }
      if (!started) files += open_in_pool();
      const Clock::time_point now = Clock::now();
      if (!started && files > 0) {
        first_ = now;
        started = true;
      }
      if (published >= images_) {
        last_ = now;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  // Descriptors of this process open on files in the pool, named or not.
  size_t open_in_pool() const {
    std::error_code ec;
    const fs::path root = fs::canonical(root_, ec);
    if (ec) return 0;  // no pool yet
    const std::string dir = root.string() + "/";
    size_t open = 0;
    for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd", ec)) {
      std::error_code gone;  // a descriptor closed while listed
      open += fs::read_symlink(fd.path(), gone).string().compare(0, dir.size(), dir) == 0;
    }
    return open;
  }

  std::string root_;
  size_t images_;
  std::atomic<bool> stop_{false};
  Clock::time_point first_{};
  Clock::time_point last_{};
  std::thread thread_;
};

std::string seed(const std::string& source_dir, int volumes) {
  std::ifstream in(source_dir + "/sim/seed.json");
  json_spirit::Value doc = JSON_Load(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  json_spirit::Object& obj = doc.get_obj();
  json_spirit::Array vols;
  for (int i = 0; i < volumes; ++i) {
    const std::string n = std::to_string(i);
    vols.push_back(JSON_Load(R"({"id": "vol-bench-)" + n + R"(", "size": 2, "data": false,
        "storage": "st-ceph-01", "device": "/dev/vd)" + std::string(1, char('a' + i)) +
                             R"(", "root": )" + (i == 0 ? "true" : "false") + "}"));
  }
  json_spirit::Object vm = JSON_Load(R"({"id": "i-bench", "name": "bench", "type": "ts.small",
      "image": "img-centos7-x64", "node": "node-a1",
      "nics": [{"subnet": "subnet-prod-a", "groups": ["sg-default"], "ip": "10.10.1.77"}]})")
                               .get_obj();
  vm["volumes"] = vols;
  obj["instances"] = json_spirit::Array{obj["instances"].get_array().at(0), json_spirit::Value(vm)};
  obj["volumes"] = json_spirit::Array();
  return JSON_Dump(doc);
}

int run(const std::string& work, const std::string& src, int volumes, int parallel) {
  const std::string reason = test::enter_private_dev_disk();
  if (!reason.empty()) {
    std::fprintf(stderr, "backup_job_bench: %s\n", reason.c_str());
    return 77;
  }
  const std::string home = work + "/home";
  fs::create_directories(home);
  ::setenv("QUILLON3_ROOT", home.c_str(), 1);
  std::ofstream(work + "/seed.json") << seed(test::source_dir(), volumes);
  set_sleep_hook(&no_sleep);
  set_runtime_sleep_hook(&no_sleep);
  tavrocloud::RESTful_Client::set_product_uuid_path(work + "/no-dmi");

  test::Sim_Options options;
  options.seed = work + "/seed.json";
  options.loop = "losetup";
  options.extra_args = {"--dmi-path", work + "/no-dmi", "--data-dir", work + "/simdata"};
  test::Sim_Process sim(options);
  if (!sim.running()) {
    std::fprintf(stderr, "backup_job_bench: %s\n", sim.error().c_str());
    return 1;
  }
  const std::string prepared = test::prepare_job_home(home, sim.port(), "cloud-bench",
                                                      "AKIDTAVROSIMDEMO0001",
                                                      "tavrosim/Demo+Secret/Key0001", "pool-bench");
  for (int i = 0; i < volumes && prepared.empty(); ++i) {
    const std::string id = "vol-bench-" + std::to_string(i);
    sim.get("/digest?id=" + id);  // makes the backing file
    if (!fill(src, work + "/simdata/volumes/" + id + ".img")) {
      std::fprintf(stderr, "backup_job_bench: cannot fill %s\n", id.c_str());
      return 1;
    }
  }
  // The volumes' bytes go to the disk now: their write-back is the bench's setup and
  // must not compete with the job's own writing.
  ::sync();
  if (!prepared.empty()) {
    std::fprintf(stderr, "backup_job_bench: %s\n", prepared.c_str());
    return 1;
  }

  test::Job_Spec spec;
  spec.id = "backup-bench";
  spec.cloud_uuid = "cloud-bench";
  spec.pool_uuid = "pool-bench";
  spec.source = R"({"id": "res-bench", "name": "bench",
                    "entries": [{"id": "i-bench", "name": "bench", "type": "Instance"}]})";
  spec.options = R"({"compression": "zstd", "parallel_disks_per_vm": )" +
                 std::to_string(parallel) + "}";
  Job_var job(new Controllable_Job_T<tavrocloud::Backup_Executor>(test::make_job_definition(spec)));
  ACE_LOG_MSG->priority_mask(LM_WARNING | LM_ERROR | LM_CRITICAL | LM_ALERT | LM_EMERGENCY,
                             ACE_Log_Msg::PROCESS);
  const Clock::time_point start = Clock::now();
  double upload = 0;
  test::Job_Run result;
  {
    Pool_Watch watch(home + "/pool", static_cast<size_t>(volumes));
    result = test::run_job(*job, nullptr, 3600);
    upload = watch.seconds();
  }
  const double total = std::chrono::duration<double>(Clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const bool ok = result.completed && result.outcome() == Job_Event_Record::SUCCESS;
  std::printf("upload_seconds=%.3f total_seconds=%.3f peak_rss_kib=%ld ok=%d\n", upload, total,
              usage.ru_maxrss, ok ? 1 : 0);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: backup_job_bench WORK SRC VOLUMES PARALLEL_DISKS\n");
    return 2;
  }
  return run(argv[1], argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
}
