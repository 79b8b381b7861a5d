// The stop lines' writer on a stderr that does not drain: lines handed over while it is
// held in a write take their places after it, and once its destruction began then they
// are all written, in order, and the destructor returns only after the last of them.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

#include "runner/job_progress.h"
#include "runner/stop_line_writer.h"
#include "support/latch.h"

namespace {

// A stream buffer whose writes wait until the test opens its gate; it tells when the
// first write has begun.
class Gated_Buf : public std::streambuf {
 public:
  test::Latch entered;
  test::Latch gate;
  std::string text;  // read once the writing thread was joined

 protected:
  int_type overflow(int_type c) override {
    if (c == traits_type::eof()) return c;
    const char ch = static_cast<char>(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    entered.open();
    gate.wait();
    text.append(s, static_cast<size_t>(n));
    return n;
  }
};

pid_t own_thread_id() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// Waits until thread `tid` of this process sleeps in the kernel, or is gone.
void wait_until_asleep(pid_t tid) {
  const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
  for (;;) {
    std::ifstream stat(path);
    std::string fields;
    if (!std::getline(stat, fields)) return;
    const size_t name_end = fields.rfind(')');  // the state follows the thread's name
    if (name_end != std::string::npos && fields.compare(name_end + 1, 3, " S ") == 0) return;
    std::this_thread::yield();
  }
}

TEST(Stop_Line_Writer, WritesEveryLineHandedOverBeforeItsDestructionReturnsInOrder) {
  Gated_Buf buf;
  std::ostream out(&buf);
  runner::Job_Progress_View view(out, runner::Job_Progress_View::Mode::QUIET, "backup", "def");
  auto writer = std::make_unique<runner::Stop_Line_Writer>(view);
  EXPECT_EQ(1u, writer->hand("line 1\n"));
  ASSERT_TRUE(buf.entered.wait());
  EXPECT_EQ(2u, writer->hand("line 2\n")) << "the line in the write keeps its place";
  EXPECT_EQ(3u, writer->hand("line 3\n"));

  // The destroying thread takes no lock anyone holds: once it sleeps, it sleeps waiting
  // for the writer's thread, after it told that thread to close.
  std::atomic<pid_t> destroyer{0};
  std::atomic<bool> destroyed{false};
  std::thread destroying([&] {
    destroyer = own_thread_id();
    writer.reset();
    destroyed = true;
  });
  while (destroyer == 0) std::this_thread::yield();
  wait_until_asleep(destroyer);
  EXPECT_FALSE(destroyed) << "the destructor returned with a line still held by stderr";
  buf.gate.open();
  destroying.join();

  EXPECT_EQ("line 1\nline 2\nline 3\n", buf.text);
}

}  // namespace
