#include "runner/job_progress.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "job/job_event.h"
#include "runner/runner_context.h"
#include "runtime/filenamify.h"
#include "runtime/path_conf.h"
#include "tavrocloud/job/instance_progress_info.h"

namespace runner {

namespace {

// Where the module keeps the progress records of a job's instances, one small file each
// (named by the instance's identifier made safe), laid out as Instance_Progress_Info.
const char RECORD_PREFIX[] = "/var/opt/telquin/quillon3/$COMPONENT/act/tavrocloud";
typedef tavrocloud::Instance_Progress_Info Record;
const size_t RECORD_SIZE = sizeof(Record);
static_assert(RECORD_SIZE == 32, "the record is read as bytes at the offsets below");

const int LINE_INTERVAL_SECONDS = 10;
const size_t BAR_WIDTH = 30;

const char* state_name(int32_t state) {
  switch (state) {
    case VM_Job_Progress::STATE_PENDING: return "pending";
    case VM_Job_Progress::STATE_RUNNING: return "running";
    case VM_Job_Progress::STATE_COMPLETED: return "completed";
    case VM_Job_Progress::STATE_FAILED: return "failed";
    case VM_Job_Progress::STATE_SKIPPED: return "skipped";
    default: return "unknown";
  }
}

std::string bytes_text(uint64_t n) {
  const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(n);
  size_t u = 0;
  while (v >= 1024 && u + 1 < sizeof units / sizeof units[0]) {
    v /= 1024;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", v, units[u]);
  return buf;
}

unsigned percent(uint64_t done, uint64_t total) {
  if (total == 0) return 0;
  return done >= total ? 100 : static_cast<unsigned>(done * 100.0 / static_cast<double>(total));
}

template <typename T>
T field(const unsigned char* bytes, size_t offset) {
  T v;
  std::memcpy(&v, bytes + offset, sizeof v);
  return v;
}

// One record's figures; false when the file holds no whole record.
bool read_record(const std::string& path, int32_t& state, uint64_t& total, uint64_t& done,
                 uint32_t& volumes, uint32_t& done_volumes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  unsigned char bytes[RECORD_SIZE];
  const bool whole = ::pread(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes);
  ::close(fd);
  if (!whole) return false;
  state = field<int32_t>(bytes, offsetof(Record, state));
  total = field<uint64_t>(bytes, offsetof(Record, total_size));
  done = field<uint64_t>(bytes, offsetof(Record, processed_size));
  volumes = field<uint32_t>(bytes, offsetof(Record, total_volume_num));
  done_volumes = field<uint32_t>(bytes, offsetof(Record, processed_volume_num));
  return true;
}

}  // namespace

Job_Progress_View::Job_Progress_View(std::ostream& out, Mode mode, std::string verb,
                                     std::string def_id)
    : out_(out),
      mode_(mode),
      verb_(std::move(verb)),
      def_id_(std::move(def_id)),
      started_(::time(nullptr)),
      last_lines_(started_) {}

void Job_Progress_View::read_reports(const Job& job, Rows& rows) const {
  const std::vector<Job_Progress_Record> reports = job.progress();
  if (reports.empty()) return;
  for (const VM_Job_Progress& p : reports.back().progresses) {
    std::string key;
    Row& row = rows[filenamify(p.uuid, key, '_')];
    row.name = printable(p.name);  // the cloud's name of the instance
    row.state = p.state;
    row.total = p.total_bytes;
    row.processed = p.processed_bytes;
    row.volumes = static_cast<uint32_t>(p.virtual_disk_count);
    row.processed_volumes = static_cast<uint32_t>(p.processed_virtual_disk_count);
  }
}

// Records of this run only: a record is rewritten when the run starts, so one older than
// the run belongs to an earlier run of the same definition.
void Job_Progress_View::read_records(Rows& rows) const {
  const std::string dir = Path_Conf(RECORD_PREFIX, def_id_.c_str(), false, nullptr, 0).str();
  DIR* const d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (const dirent* entry = ::readdir(d)) {
    const std::string name = entry->d_name;
    struct stat st;
    const std::string path = dir + "/" + name;
    if (name[0] == '.' || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_mtime + 1 < started_)
      continue;
    Row fresh;
    if (!read_record(path, fresh.state, fresh.total, fresh.processed, fresh.volumes,
                     fresh.processed_volumes))
      continue;
    const auto known = rows.find(name);
    fresh.name = known != rows.end() ? known->second.name : std::string();
    rows[name] = fresh;
  }
  ::closedir(d);
}

std::string Job_Progress_View::bar_line(const std::string& key, const Row& row) const {
  const unsigned pct = percent(row.processed, row.total);
  const size_t filled = BAR_WIDTH * pct / 100;
  std::string label = row.name.empty() ? key : key + " (" + row.name + ")";
  if (label.size() > 36) label = label.substr(0, 35) + "~";
  label.resize(36, ' ');
  char figures[160];
  std::snprintf(figures, sizeof figures, "] %3u%%  %s / %s  %u/%u volumes  %s", pct,
                bytes_text(row.processed).c_str(), bytes_text(row.total).c_str(),
                row.processed_volumes, row.volumes, state_name(row.state));
  return label + " [" + std::string(filled, '#') + std::string(BAR_WIDTH - filled, '-') + figures;
}

std::string Job_Progress_View::text_line(const std::string& key, const Row& row) const {
  char figures[160];
  std::snprintf(figures, sizeof figures, ": %s, %u%%, %s of %s, %u/%u volumes", state_name(row.state),
                percent(row.processed, row.total), bytes_text(row.processed).c_str(),
                bytes_text(row.total).c_str(), row.processed_volumes, row.volumes);
  return verb_ + " " + key + (row.name.empty() ? "" : " (" + row.name + ")") + figures;
}

void Job_Progress_View::update(const Job& job) {
  if (mode_ == Mode::QUIET) return;
  const time_t now = ::time(nullptr);
  if (mode_ == Mode::LINES && now - last_lines_ < LINE_INTERVAL_SECONDS) return;
  Rows rows;
  read_reports(job, rows);
  read_records(rows);
  const Stderr_Lock lock(stderr_mutex());
  if (mode_ == Mode::LINES) {
    last_lines_ = now;
    std::string lines;
    for (const auto& r : rows) lines += text_line(r.first, r.second) + "\n";
    write_locked(lines);
    return;
  }
  std::string screen = drawn_ > 0 ? "\033[" + std::to_string(drawn_) + "A" : std::string();
  if (rows.empty()) {
    screen += "\r\033[K" + verb_ + ": starting (" + std::to_string(now - started_) + " s)\n";
    drawn_ = 1;
  } else {
    for (const auto& r : rows) screen += "\r\033[K" + bar_line(r.first, r.second) + "\n";
    drawn_ = rows.size();
  }
  write_locked(screen);
}

void Job_Progress_View::finish(const Job& job) {
  if (mode_ == Mode::QUIET) return;
  Rows rows;
  read_reports(job, rows);  // the final report is the last word on every instance
  const Stderr_Lock lock(stderr_mutex());
  if (mode_ == Mode::LINES) {
    std::string lines;
    for (const auto& r : rows) lines += text_line(r.first, r.second) + "\n";
    write_locked(lines);
    return;
  }
  std::string screen = drawn_ > 0 ? "\033[" + std::to_string(drawn_) + "A" : std::string();
  for (const auto& r : rows) screen += "\r\033[K" + bar_line(r.first, r.second) + "\n";
  if (rows.size() < drawn_) screen += "\033[J";
  write_locked(screen);
  drawn_ = rows.size();
}

void Job_Progress_View::say(const std::string& lines) {
  const Stderr_Lock lock(stderr_mutex());
  out_ << lines << std::flush;
  drawn_ = 0;
}

// Progress that cannot be shown is dropped: once the stream failed, nothing more.
void Job_Progress_View::write_locked(const std::string& text) {
  if (out_) out_ << text << std::flush;
}

}  // namespace runner
