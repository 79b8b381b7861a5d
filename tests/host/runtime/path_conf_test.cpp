#include "runtime/path_conf.h"

#include "runtime/host_home.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using Env_Var = test::Scoped_Env;

mode_t mode_of(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? st.st_mode & 07777 : 0;
}

const char HOME[] = "/var/opt/telquin/quillon3";

TEST(Host_Home, DefaultOrQuillon3Root) {
  const std::pair<const char*, const char*> cases[] = {
      {nullptr, HOME}, {"", HOME}, {"/tmp/h", "/tmp/h"}, {"/tmp/h//", "/tmp/h"}, {"/", "/"}};
  for (const auto& c : cases) {
    Env_Var root("QUILLON3_ROOT", c.first);
    EXPECT_EQ(c.second, host_home()) << (c.first ? c.first : "(unset)");
  }
}

TEST(Path_Conf, BuildsPathsUnderTheHostHome) {
  Env_Var root("QUILLON3_ROOT", "/srv/q3");
  const std::string act = std::string(HOME) + "/$COMPONENT/act";
  const struct { std::string prefix; const char* id; const char* basename; std::string path; }
      cases[] = {{act + "/tavrocloud", "def", "i-1", "/srv/q3/jobd/act/tavrocloud/def/i-1"},
                 {act, "def", nullptr, "/srv/q3/jobd/act/def"},
                 {act + "/", "def", "", "/srv/q3/jobd/act/def"},
                 {HOME, nullptr, "x", "/srv/q3/x"},
                 {std::string(HOME) + "x/$COMPONENT", "a", "b", std::string(HOME) + "x/jobd/a/b"},
                 {"/opt/$COMPONENT/$COMPONENT", "a", nullptr, "/opt/jobd/jobd/a"},
                 {"relative/dir", "a", "b", "relative/dir/a/b"}};
  for (const auto& c : cases)
    EXPECT_EQ(c.path, Path_Conf(c.prefix.c_str(), c.id, false, c.basename, 0750).str()) << c.prefix;
  ASSERT_EQ("jobd", Path_Conf::component());  // the component name is process-wide
  Path_Conf::set_component("websvcs");
  EXPECT_EQ("/srv/q3/websvcs/act/d/b", Path_Conf(act.c_str(), "d", false, "b", 0750).str());
  Path_Conf::set_component("jobd");
}

// The directory that holds the file is made (with the mode asked for), the file itself is
// the caller's; a failure to make it is logged.
TEST(Path_Conf, CreateMakesTheDirectoryThatHoldsTheFile) {
  test::Temp_Dir home("path_conf_test.");
  ASSERT_TRUE(home.made());
  Env_Var root("QUILLON3_ROOT", home.path().c_str());
  const std::string jobd = std::string(HOME) + "/$COMPONENT";
  const mode_t old_mask = umask(022);
  EXPECT_EQ(home.path() + "/jobd/act/tc/def/i-1",
            Path_Conf((jobd + "/act/tc").c_str(), "def", true, "i-1", 0750).str());
  Path_Conf((jobd + "/jobs").c_str(), "job-1", true, nullptr, 0700);
  Path_Conf((std::string(HOME) + "/other").c_str(), "x", false, "y", 0750);
  std::string modes;
  for (const char* d : {"/jobd", "/jobd/act/tc/def", "/jobd/act/tc/def/i-1", "/jobd/jobs",
                        "/jobd/jobs/job-1", "/other"})
    modes += std::to_string(mode_of(home.path() + d)) + " ";
  EXPECT_EQ(modes, "488 488 0 448 0 0 ");  // 0750 0750 - 0700 - -
  umask(old_mask);
  std::ofstream(home.path() + "/jobd/x") << "a file where a directory should be";
  test::Log_Capture log;
  EXPECT_EQ(home.path() + "/jobd/x/def/b",
            Path_Conf((jobd + "/x").c_str(), "def", true, "b", 0750).str());
  EXPECT_TRUE(log.contains("Failed to create directory " + home.path() + "/jobd/x/def", LM_ERROR));
}

}  // namespace
