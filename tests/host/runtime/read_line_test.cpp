#include "runtime/read_line.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

class Read_Line_Test : public ::testing::Test {
 protected:
  void SetUp() override {
    const int fd = ::mkstemp(path_);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  void TearDown() override { ::unlink(path_); }

  void write(const std::string& content) {
    FILE* fp = std::fopen(path_, "w");
    ASSERT_NE(fp, nullptr);
    std::fputs(content.c_str(), fp);
    std::fclose(fp);
  }

  char path_[32] = "/tmp/read_line_XXXXXX";
};

TEST_F(Read_Line_Test, FirstLineOfAFile) {
  const struct {
    const char* content;
    bool strip;
    int rc;
    const char* line;
  } cases[] = {
      {"4f4a3732-aaaa\nsecond\n", true, 1, "4f4a3732-aaaa"},
      {"4f4a3732-aaaa\nsecond\n", false, 1, "4f4a3732-aaaa\n"},
      {"crlf\r\nnext", true, 1, "crlf"},
      {"no end", true, 1, "no end"},
      {"\n", true, 1, ""},
      {"", true, 0, ""},
  };
  for (const auto& c : cases) {
    write(c.content);
    std::string line = "stale";
    EXPECT_EQ(read_line(path_, line, c.strip), c.rc) << c.content;
    EXPECT_EQ(line, c.line) << c.content;
  }
  std::string line = "stale";
  errno = 0;
  EXPECT_EQ(read_line("/nonexistent/product_uuid", line, true), -1);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(line, "");
}

TEST_F(Read_Line_Test, StreamAndDescriptorReadLineByLine) {
  write("one\ntwo\nthree");
  FILE* fp = std::fopen(path_, "r");
  ASSERT_NE(fp, nullptr);
  std::string line;
  EXPECT_EQ(read_line(fp, line, true), 1);
  EXPECT_EQ(read_line(fp, line, true), 1);
  EXPECT_EQ(line, "two");
  std::fclose(fp);

  const int fd = ::open(path_, O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(read_line(fd, line, true), 1);
  EXPECT_EQ(line, "one");
  // Only the first line was consumed.
  char rest[16] = {};
  EXPECT_EQ(::read(fd, rest, sizeof rest - 1), 9);
  EXPECT_STREQ(rest, "two\nthree");
  EXPECT_EQ(read_line(fd, line, true), 0);
  ::close(fd);
  EXPECT_EQ(read_line(-1, line, true), -1);
}

}  // namespace
