#include "runtime/read_line.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

TEST(Read_Line, FirstLineOfAFile) {
  test::Temp_Dir dir("read_line_test.");
  const std::string path = dir.path() + "/f";
  const struct { const char* content; bool strip; int rc; const char* line; } cases[] = {
      {"4f4a3732-aaaa\nsecond\n", true, 1, "4f4a3732-aaaa"},
      {"4f4a3732-aaaa\nsecond\n", false, 1, "4f4a3732-aaaa\n"}, {"crlf\r\nnext", true, 1, "crlf"},
      {"no end", true, 1, "no end"}, {"\n", true, 1, ""}, {"", true, 0, ""}};
  for (const auto& c : cases) {
    std::ofstream(path) << c.content;
    std::string line = "stale";
    EXPECT_EQ(read_line(path.c_str(), line, c.strip), c.rc) << c.content;
    EXPECT_EQ(line, c.line) << c.content;
  }
  std::string line = "stale";
  errno = 0;
  EXPECT_EQ(read_line("/nonexistent/product_uuid", line, true), -1);
  EXPECT_TRUE(errno == ENOENT && line.empty());
}

}  // namespace
