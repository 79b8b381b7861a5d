// The progress bars on a pseudo terminal: every line fits the terminal's width (read
// again on each redraw), so that no line wraps and each redraw moves up over exactly the
// lines the last one drew; long names are shortened by columns, never inside a UTF-8
// sequence or an escape, and the figures stay whole.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "job_engine/job.h"
#include "runner/job_progress.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

TEST_TEMP_HOME();

namespace {

// A pseudo terminal in raw mode: the view writes to its terminal side, the test reads
// what was written from the other side.
class Pseudo_Terminal {
 public:
  Pseudo_Terminal() {
    reader_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (reader_ < 0 || ::grantpt(reader_) != 0 || ::unlockpt(reader_) != 0) return;
    terminal_ = ::open(::ptsname(reader_), O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios raw;
    if (terminal_ >= 0 && ::tcgetattr(terminal_, &raw) == 0) {
      ::cfmakeraw(&raw);
      ::tcsetattr(terminal_, TCSANOW, &raw);
    }
  }
  ~Pseudo_Terminal() {
    for (int fd : {terminal_, reader_})
      if (fd >= 0) ::close(fd);
  }
  bool open() const { return terminal_ >= 0; }
  int fd() const { return terminal_; }
  // 0 columns: a terminal that tells no width.
  void resize(unsigned short columns) {
    struct winsize size = {};
    size.ws_row = 24;
    size.ws_col = columns;
    ASSERT_EQ(0, ::ioctl(terminal_, TIOCSWINSZ, &size)) << std::strerror(errno);
  }
  std::string written() {
    std::string text;
    char buf[4096];
    struct pollfd p = {reader_, POLLIN, 0};
    while (::poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0) {
      const ssize_t n = ::read(reader_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, n);
    }
    return text;
  }

 private:
  int reader_ = -1;
  int terminal_ = -1;
};

// An unbuffered stream onto a descriptor: each write of the view is one write(2).
class Fd_Buf : public std::streambuf {
 public:
  explicit Fd_Buf(int fd) : fd_(fd) {}

 protected:
  int_type overflow(int_type c) override {
    const char ch = static_cast<char>(c);
    return c == traits_type::eof() || ::write(fd_, &ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const ssize_t written = ::write(fd_, s, static_cast<size_t>(n));
    return written < 0 ? 0 : written;
  }

 private:
  int fd_;
};

// The columns a terminal gives `line` (UTF-8 checked here: a cut sequence fails), and
// whether every backslash in it starts a whole escape of printable().
size_t columns_of(const std::string& line, bool& whole) {
  size_t columns = 0;
  whole = true;
  for (size_t i = 0; i < line.size();) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    const size_t n = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 ? 2 : 0;
    if (n == 0 || i + n > line.size()) {
      whole = false;
      return columns;
    }
    uint32_t cp = n == 1 ? c : c & (0x7f >> n);
    for (size_t k = 1; k < n; ++k) {
      const unsigned char more = static_cast<unsigned char>(line[i + k]);
      whole = whole && (more & 0xc0) == 0x80;
      cp = cp << 6 | (more & 0x3f);
    }
    if (c == '\\') {
      const std::string rest = line.substr(i + 1, 5);
      whole = whole && (rest.rfind("x", 0) == 0 ? rest.size() >= 3 && std::isxdigit(rest[1]) &&
                                                      std::isxdigit(rest[2])
                        : rest.rfind("u", 0) == 0 ? rest.size() == 5
                                                  : rest.size() >= 1 && std::strchr("nrt", rest[0]));
    }
    const bool combining = cp >= 0x300 && cp <= 0x36f;
    const bool wide = (cp >= 0x3000 && cp <= 0x30ff) || (cp >= 0x4e00 && cp <= 0x9fff);
    columns += combining ? 0 : wide ? 2 : 1;
    i += n;
  }
  return columns;
}

VM_Job_Progress instance(const std::string& uuid, const std::string& name) {
  VM_Job_Progress p;
  p.uuid = uuid;
  p.name = name;
  p.total_bytes = 2ull << 30;
  p.processed_bytes = 1ull << 30;
  p.virtual_disk_count = 2;
  p.processed_virtual_disk_count = 1;
  p.state = VM_Job_Progress::STATE_RUNNING;
  return p;
}

TEST(Job_Progress_View, BarsFitTheTerminalAndRedrawOverExactlyWhatTheyDrew) {
  const std::string wide_name = "\xe3\x83\x87\xe3\x83\xbc\xe3\x82\xbf\xe3\x83\x99\xe3\x83\xbc"
                                "\xe3\x82\xb9\xe6\x9c\xac\xe7\x95\xaa\xe7\x92\xb0\xe5\xa2\x83"
                                "\xe3\x82\xb5\xe3\x83\xbc\xe3\x83\x90\xe3\x83\xbc";  // 15 wide
  const std::vector<VM_Job_Progress> instances = {
      instance("i-0123456789abcdef0", "web-frontend-production-eu-west-1-primary"),
      instance("i-1", wide_name),
      instance("i-2", "\x1b[2J\x1b[2J\x1b[2J\x1b[2J\x1b[2J\x1b[2J\xc2\x9b\xc2\x9b\xc2\x9b-end"),
      instance("i-3", "cafe\xcc\x81-cafe\xcc\x81-cafe\xcc\x81-cafe\xcc\x81-cafe\xcc\x81-cafe\xcc\x81"),
  };
  const struct {
    const char* what;
    std::vector<unsigned short> columns;  // set before each redraw; the last one is finish()
    bool names_whole;                     // every name shown in full
  } cases[] = {
      {"80 columns", {80, 80, 80}, false},
      {"200 columns", {200, 200, 200}, true},
      {"no width told: 80", {0, 0}, false},
      {"narrowed from 200 to 80 while running", {200, 80, 80}, false},
      {"widened from 80 to 200", {80, 200}, true},
      {"a narrow window", {30, 30}, false},
  };
  test::Log_Capture quiet;  // the job without a definition says so
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Pseudo_Terminal terminal;
    ASSERT_TRUE(terminal.open()) << std::strerror(errno);
    Fd_Buf buf(terminal.fd());
    std::ostream out(&buf);
    Job_var job(new Job(Job_Definition_var()));
    job->record_progress(Job_Progress_Record{instances, JOB_STATE_RUNNING, false});
    runner::Job_Progress_View view(out, runner::Job_Progress_View::Mode::BARS, "backup", "",
                                   terminal.fd());
    size_t drawn = 0;
    std::string last;
    for (size_t round = 0; round < c.columns.size(); ++round) {
      ASSERT_NO_FATAL_FAILURE(terminal.resize(c.columns[round]));
      if (round + 1 < c.columns.size())
        view.update(*job);
      else
        view.finish(*job);
      std::string screen = terminal.written();
      size_t up = 0;
      if (screen.rfind("\033[", 0) == 0 && screen.find('A') != std::string::npos) {
        up = std::stoul(screen.substr(2));
        screen.erase(0, screen.find('A') + 1);
      }
      EXPECT_EQ(drawn, up) << "round " << round << ": the cursor moved up " << up;
      drawn = 0;
      const size_t width = (c.columns[round] == 0 ? 80 : c.columns[round]) - 1;
      for (size_t start = 0, end; (end = screen.find('\n', start)) != std::string::npos;
           start = end + 1, ++drawn) {
        std::string line = screen.substr(start, end - start);
        ASSERT_EQ(0u, line.rfind("\r\033[K", 0)) << line;
        line.erase(0, 4);
        bool whole = false;
        EXPECT_LE(columns_of(line, whole), width) << line;
        EXPECT_TRUE(whole) << "a sequence or an escape cut: " << line;
        EXPECT_NE(std::string::npos, line.find(width >= 79 ? "1/2 volumes  running" : "i-")) << line;
        if (width >= 79) {
          EXPECT_NE(std::string::npos, line.find(" [#")) << line;
        }
      }
      EXPECT_EQ(instances.size(), drawn) << screen;
      last = screen;
    }
    for (const std::string& shown : {std::string("web-frontend-production-eu-west-1-primary"), wide_name,
                                    std::string("i-3 (cafe\xcc\x81-cafe\xcc\x81-cafe\xcc\x81")})
      EXPECT_EQ(c.names_whole, last.find(shown) != std::string::npos) << shown << "\n" << last;
    if (c.columns.back() == 80) {
      EXPECT_NE(std::string::npos, last.find("i-0123456789abcdef0")) << last;
    }
  }
}

// A line said while bars are on screen takes their place: the cursor goes up over every
// bar and clears below, so no stale copy of the bars stays above the line, and the next
// redraw starts below it.
TEST(Job_Progress_View, ALineSaidReplacesTheBarsOnScreen) {
  test::Log_Capture quiet;
  Pseudo_Terminal terminal;
  ASSERT_TRUE(terminal.open()) << std::strerror(errno);
  ASSERT_NO_FATAL_FAILURE(terminal.resize(80));
  Fd_Buf buf(terminal.fd());
  std::ostream out(&buf);
  Job_var job(new Job(Job_Definition_var()));
  job->record_progress(Job_Progress_Record{{instance("i-1", "a"), instance("i-2", "b")},
                                           JOB_STATE_RUNNING, false});
  runner::Job_Progress_View view(out, runner::Job_Progress_View::Mode::BARS, "backup", "",
                                 terminal.fd());
  view.update(*job);
  terminal.written();
  view.say("quillon3: warning: powered off\n");
  EXPECT_EQ("\033[2A\r\033[Jquillon3: warning: powered off\n", terminal.written());
  view.update(*job);
  EXPECT_EQ(0u, terminal.written().rfind("\r\033[K", 0)) << "the bars move up again";
}

}  // namespace
