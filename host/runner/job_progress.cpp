#include "runner/job_progress.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "job/job_event.h"
#include "runner/runner_context.h"
#include "runner/runner_output.h"
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
const size_t BAR_WIDTH = 30;       // the bar at its widest
const size_t BAR_MIN_WIDTH = 5;    // narrower than this no bar is drawn
const size_t LABEL_MIN_WIDTH = 16;  // what a label keeps on a narrow window
const size_t FALLBACK_COLUMNS = 80;
const char ELLIPSIS[] = "\xe2\x80\xa6";  // U+2026, one column

// The width of the terminal behind `fd`, read anew on every redraw so that a resized
// window is followed; FALLBACK_COLUMNS when it cannot be told.
size_t terminal_columns(int fd) {
  struct winsize size;
  if (fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return FALLBACK_COLUMNS;
}

// Columns a terminal gives the code point: none for combining marks and variation
// selectors, two for the wide (East Asian and emoji) blocks, one for the rest.
size_t code_point_columns(uint32_t cp) {
  static const uint32_t zero[][2] = {{0x0300, 0x036f}, {0x0483, 0x0489}, {0x0591, 0x05bd},
                                     {0x0610, 0x061a}, {0x064b, 0x065f}, {0x1ab0, 0x1aff},
                                     {0x1dc0, 0x1dff}, {0x200b, 0x200d}, {0x20d0, 0x20ff},
                                     {0xfe00, 0xfe0f}, {0xfe20, 0xfe2f}, {0xe0100, 0xe01ef}};
  static const uint32_t wide[][2] = {{0x1100, 0x115f},   {0x2329, 0x232a},   {0x2e80, 0x303e},
                                     {0x3041, 0xa4cf},   {0xac00, 0xd7a3},   {0xf900, 0xfaff},
                                     {0xfe10, 0xfe19},   {0xfe30, 0xfe6f},   {0xff00, 0xff60},
                                     {0xffe0, 0xffe6},   {0x1f300, 0x1f64f}, {0x1f900, 0x1f9ff},
                                     {0x20000, 0x2fffd}, {0x30000, 0x3fffd}};
  for (const auto& r : zero)
    if (cp >= r[0] && cp <= r[1]) return 0;
  for (const auto& r : wide)
    if (cp >= r[0] && cp <= r[1]) return 2;
  return 1;
}

// The bytes of the unit of printable() text at `i` that a cut must keep whole: an escape
// printable() wrote ("\xNN", "\uNNNN", "\n", "\r", "\t") or one UTF-8 sequence.
size_t unit_length(const std::string& text, size_t i) {
  const auto hex_run = [&text, i](size_t from, size_t n) {
    if (i + from + n > text.size()) return false;
    for (size_t k = from; k < from + n; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(text[i + k]))) return false;
    return true;
  };
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (c == '\\' && i + 1 < text.size()) {
    const char kind = text[i + 1];
    if (kind == 'x' && hex_run(2, 2)) return 4;
    if (kind == 'u' && hex_run(2, 4)) return 6;
    if (kind == 'n' || kind == 'r' || kind == 't') return 2;
  }
  const size_t n = c < 0x80 ? 1 : utf8_length(text, i);
  return n == 0 ? 1 : n;
}

size_t unit_columns(const std::string& text, size_t i, size_t n) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  if (n == 1 || c == '\\') return n;  // ASCII, or an escape shown as its characters
  return code_point_columns(code_point(text, i, n));
}

size_t display_columns(const std::string& text) {
  size_t columns = 0;
  for (size_t i = 0, n; i < text.size(); i += n) {
    n = unit_length(text, i);
    columns += unit_columns(text, i, n);
  }
  return columns;
}

// `text` (printable) in at most `columns` columns: as it is when it fits, else cut
// between whole units and ended with an ellipsis.
std::string shortened(const std::string& text, size_t columns) {
  if (display_columns(text) <= columns) return text;
  if (columns == 0) return std::string();
  size_t used = 0, i = 0;
  for (size_t n; i < text.size(); i += n) {
    n = unit_length(text, i);
    const size_t w = unit_columns(text, i, n);
    if (used + w > columns - 1) break;
    used += w;
  }
  return text.substr(0, i) + ELLIPSIS;
}

// `text` shortened or padded with spaces to exactly `columns` columns.
std::string in_columns(const std::string& text, size_t columns) {
  std::string out = shortened(text, columns);
  const size_t used = display_columns(out);
  return out + std::string(used < columns ? columns - used : 0, ' ');
}

// An instance's label, "KEY (NAME)", in at most `columns` columns: the name is
// shortened first, so that the identifier stays whole while it fits.
std::string bar_label(const std::string& key, const std::string& name, size_t columns) {
  const std::string whole = name.empty() ? key : key + " (" + name + ")";
  const size_t key_columns = display_columns(key);
  if (name.empty() || display_columns(whole) <= columns || key_columns + 4 > columns)
    return shortened(whole, columns);
  return key + " (" + shortened(name, columns - key_columns - 3) + ")";
}

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
                                     std::string def_id, int terminal)
    : out_(out),
      terminal_(terminal),
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

std::string Job_Progress_View::bar_line(const std::string& label, const Row& row,
                                        size_t bar_width) const {
  if (bar_width == 0) return label + " " + bar_figures(row);
  const size_t filled = bar_width * percent(row.processed, row.total) / 100;
  return label + " [" + std::string(filled, '#') + std::string(bar_width - filled, '-') + "] " +
         bar_figures(row);
}

// One line per row, each at most one column narrower than the terminal (some terminals
// wrap as soon as the last column is written), so that a line never wraps and the cursor
// moves up over exactly the lines drawn. The labels and bars share one width, so the bars
// line up; the bar narrows to a third of what the figures leave before a label is
// shortened, a bar too narrow to tell anything goes (the label then keeps at least
// LABEL_MIN_WIDTH columns), and on a window too narrow even for that the lines are cut
// at its edge.
std::string Job_Progress_View::bar_lines(const Rows& rows) const {
  const size_t columns = terminal_columns(terminal_) - 1;
  size_t labels = 0, figures = 0;
  for (const auto& r : rows) {
    labels = std::max(labels, display_columns(bar_label(printable(r.first), r.second.name,
                                                        std::string::npos)));
    figures = std::max(figures, display_columns(bar_figures(r.second)));
  }
  const size_t room = columns > figures + 4 ? columns - figures - 4 : 0;  // label and bar
  size_t bar = std::min(BAR_WIDTH, std::max(room > labels ? room - labels : 0, room / 3));
  size_t label = std::min(labels, room - bar);
  if (bar < BAR_MIN_WIDTH) {
    bar = 0;
    label = std::min(labels, std::max(room + 3, std::min(LABEL_MIN_WIDTH, columns)));
  }
  std::string screen;
  for (const auto& r : rows) {
    const std::string text = in_columns(bar_label(printable(r.first), r.second.name, label), label);
    screen += "\r\033[K" + shortened(bar_line(text, r.second, bar), columns) + "\n";
  }
  return screen;
}

std::string Job_Progress_View::bar_figures(const Row& row) {
  char figures[160];
  std::snprintf(figures, sizeof figures, "%3u%%  %s / %s  %u/%u volumes  %s",
                percent(row.processed, row.total), bytes_text(row.processed).c_str(),
                bytes_text(row.total).c_str(), row.processed_volumes, row.volumes,
                state_name(row.state));
  return figures;
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
    const std::string starting = verb_ + ": starting (" + std::to_string(now - started_) + " s)";
    screen += "\r\033[K" + shortened(starting, terminal_columns(terminal_) - 1) + "\n";
    drawn_ = 1;
  } else {
    screen += bar_lines(rows);
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
  screen += bar_lines(rows);
  if (rows.size() < drawn_) screen += "\033[J";
  write_locked(screen);
  drawn_ = rows.size();
}

// The bars on screen give way to the lines (the cursor goes up over them and clears what
// is below), so that no stale copy of them stays above; the next update draws them anew
// below the lines.
void Job_Progress_View::say(const std::string& lines) {
  const Stderr_Lock lock(stderr_mutex());
  if (mode_ == Mode::BARS && drawn_ > 0) out_ << "\033[" << drawn_ << "A\r\033[J";
  out_ << lines << std::flush;
  drawn_ = 0;
}

// Progress that cannot be shown is dropped: once the stream failed, nothing more.
void Job_Progress_View::write_locked(const std::string& text) {
  if (out_) out_ << text << std::flush;
}

}  // namespace runner
