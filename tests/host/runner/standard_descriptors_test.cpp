// A standard descriptor quillon3 was started without is opened onto the null device, and
// only onto the null device itself: a file, a link to one or another character device
// (/dev/zero) put in place of /dev/null is refused as a missing one is, and the descriptor
// stays closed. Each row runs in a child
// process that closes the descriptor first.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "runner/standard_descriptors.h"
#include "support/temp_home.h"

namespace {

// What a child that closed `fd`, then asked for it to be occupied by `device`, saw:
// "ok <stdout closed> <fd a character device>" or "refused <fd still closed>: <error>".
std::string occupied_in_child(int fd, const std::string& device) {
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fd);
    bool stdout_closed = false;
    std::string error;
    const bool ok = runner::occupy_closed_standard_descriptors(device.c_str(), stdout_closed,
                                                               error);
    struct stat st;
    const bool open = ::fstat(fd, &st) == 0;
    const std::string seen =
        ok ? std::string("ok ") + (stdout_closed ? "stdout-closed " : "") +
                 (open && S_ISCHR(st.st_mode) ? "device" : "not-a-device")
           : std::string("refused ") + (open ? "open" : "closed") + ": " + error;
    const bool written = ::write(report[1], seen.data(), seen.size()) ==
                         static_cast<ssize_t>(seen.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(report[1]);
  std::string seen;
  char buf[512];
  for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) seen.append(buf, n);
  ::close(report[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return seen;
}

TEST(Standard_Descriptors, OnlyTheNullDeviceTakesAClosedOne) {
  test::Temp_Dir dir("quillon3-null-");
  ASSERT_TRUE(dir.made());
  const std::string file = dir.path() + "/null";
  std::ofstream(file) << "the activity record";
  const std::string link = dir.path() + "/link";
  ASSERT_EQ(0, ::symlink(file.c_str(), link.c_str()));
  const std::string null_link = dir.path() + "/null-link";
  ASSERT_EQ(0, ::symlink("/dev/null", null_link.c_str()));
  const std::string missing = dir.path() + "/none";
  const struct {
    const char* what;
    int fd;
    std::string device;
    std::string seen;
  } rows[] = {
      {"stdin onto /dev/null", STDIN_FILENO, "/dev/null", "ok device"},
      {"stdout onto /dev/null", STDOUT_FILENO, "/dev/null", "ok stdout-closed device"},
      {"stderr onto /dev/null", STDERR_FILENO, "/dev/null", "ok device"},
      {"a file in its place", STDERR_FILENO, file,
       "refused closed: " + file +
           " is not a character device; it cannot take the place of a closed standard "
           "descriptor"},
      {"a link to a file", STDOUT_FILENO, link,
       "refused closed: " + link +
           " is not a character device; it cannot take the place of a closed standard "
           "descriptor"},
      {"a link to the null device", STDIN_FILENO, null_link, "ok device"},
      {"another character device in its place", STDIN_FILENO, "/dev/zero",
       "refused closed: /dev/zero is not the null device (character device 1:3); it cannot "
       "take the place of a closed standard descriptor"},
      {"none there", STDIN_FILENO, missing,
       "refused closed: cannot open " + missing +
           " for a closed standard descriptor: No such file or directory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.seen, occupied_in_child(row.fd, row.device));
  }
}

}  // namespace
