#include "runtime/path_t.h"

#include <gtest/gtest.h>

namespace {

// Callers join with '/' and never ask for variables to be expanded.
TEST(Path_T, JoinsWithExactlyOneSeparator) {
  const struct { const char* dir; const char* name; char sep; const char* expected; } cases[] = {
      {"host-1", "def-2", '/', "host-1/def-2"}, {"host-1/", "def-2", '/', "host-1/def-2"},
      {"host-1", "/def-2", '/', "host-1/def-2"}, {"host-1/", "//def-2", '/', "host-1/def-2"},
      {"/", "def", '/', "/def"}, {"", "def", '/', "def"}, {nullptr, "/def", '/', "/def"},
      {"dir", nullptr, '/', "dir"}, {"dir", "", '/', "dir"}, {"a\\", "b", '/', "a\\/b"},
      {"$HOME", "x", '/', "$HOME/x"}};  // never expanded
  for (const auto& c : cases) {
    const yolt::Path_T<char> p(c.dir, c.name, c.sep, false);
    SCOPED_TRACE(std::string(c.dir ? c.dir : "null") + " + " + (c.name ? c.name : "null"));
    EXPECT_STREQ(c.expected, p.c_str());
    EXPECT_FALSE(p.expanded());
  }
}

}  // namespace
