#include "runtime/fd.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

TEST(Fd, EnablesCloseOnExec) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  EXPECT_EQ(::fcntl(p[0], F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(enable_fd_cloexec(p[0]), 0);
  EXPECT_NE(::fcntl(p[0], F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(enable_fd_cloexec(p[0]), 0);  // already set
  ::close(p[0]);
  ::close(p[1]);
  errno = 0;
  EXPECT_EQ(enable_fd_cloexec(p[0]), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
