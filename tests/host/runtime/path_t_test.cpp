#include "runtime/path_t.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace {

TEST(Path_T, JoinsWithExactlyOneSeparator) {
  const struct { const char* dir; const char* name; char sep; const char* expected; } cases[] = {
      {"host-1", "def-2", '/', "host-1/def-2"}, {"host-1/", "def-2", '/', "host-1/def-2"},
      {"host-1", "/def-2", '/', "host-1/def-2"}, {"host-1/", "//def-2", '/', "host-1/def-2"},
      {"/", "def", '/', "/def"}, {"", "def", '/', "def"}, {nullptr, "/def", '/', "/def"},
      {"dir", nullptr, '/', "dir"}, {"dir", "", '/', "dir"}, {"C:", "x", '\\', "C:\\x"},
      {"a/", "b", '\\', "a/\\b"}};
  for (const auto& c : cases) {
    const yolt::Path_T<char> p(c.dir, c.name, c.sep, false);
    SCOPED_TRACE(std::string(c.dir ? c.dir : "null") + " + " + (c.name ? c.name : "null"));
    EXPECT_STREQ(c.expected, p.c_str());
    EXPECT_FALSE(p.expanded());
  }
}

TEST(Path_T, ExpandsEnvironmentVariablesOnlyWhenAsked) {
  test::Scoped_Env home("PATH_T_TEST_HOME", "/srv/q3");
  test::Scoped_Env unset("PATH_T_TEST_UNSET", nullptr);
  const std::pair<const char*, const char*> cases[] = {
      {"$PATH_T_TEST_HOME", "/srv/q3/x"}, {"${PATH_T_TEST_HOME}pool", "/srv/q3pool/x"},
      {"$PATH_T_TEST_UNSET/a", "/a/x"}, {"cost$", "cost$/x"},
      {"${PATH_T_TEST_HOME", "${PATH_T_TEST_HOME/x"}, {"$-", "$-/x"}};
  for (const auto& c : cases) {
    const yolt::Path_T<char> p(c.first, "x", '/', true);
    EXPECT_EQ(c.second, p.str()) << c.first;
    EXPECT_TRUE(p.expanded());
  }
  EXPECT_EQ("$PATH_T_TEST_HOME/x", yolt::Path_T<char>("$PATH_T_TEST_HOME", "x").str());
}

}  // namespace
