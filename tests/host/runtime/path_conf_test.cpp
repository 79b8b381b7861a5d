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

TEST(Host_Home, DefaultOrQuillon3Root) {
  struct Case {
    const char* root;
    const char* expected;
  };
  for (const Case& c : {Case{nullptr, "/var/opt/telquin/quillon3"},
                        Case{"", "/var/opt/telquin/quillon3"}, Case{"/tmp/h", "/tmp/h"},
                        Case{"/tmp/h//", "/tmp/h"}, Case{"/", "/"}}) {
    Env_Var root("QUILLON3_ROOT", c.root);
    EXPECT_EQ(c.expected, host_home()) << (c.root ? c.root : "(unset)");
  }
}

TEST(Path_Conf, BuildsPathsUnderTheHostHome) {
  Env_Var root("QUILLON3_ROOT", "/srv/q3");
  struct Case {
    const char* prefix;
    const char* id;
    const char* basename;
    const char* expected;
  };
  const Case cases[] = {
      {"/var/opt/telquin/quillon3/$COMPONENT/act/tavrocloud", "def", "i-1",
       "/srv/q3/jobd/act/tavrocloud/def/i-1"},
      {"/var/opt/telquin/quillon3/$COMPONENT/act", "def", nullptr, "/srv/q3/jobd/act/def"},
      {"/var/opt/telquin/quillon3/$COMPONENT/act/", "def", "", "/srv/q3/jobd/act/def"},
      {"/var/opt/telquin/quillon3", nullptr, "x", "/srv/q3/x"},
      {"/var/opt/telquin/quillon3x/$COMPONENT", "a", "b", "/var/opt/telquin/quillon3x/jobd/a/b"},
      {"/opt/$COMPONENT/$COMPONENT", "a", nullptr, "/opt/jobd/jobd/a"},
      {"relative/dir", "a", "b", "relative/dir/a/b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, Path_Conf(c.prefix, c.id, false, c.basename, 0750).str()) << c.prefix;
  }
  ASSERT_EQ("jobd", Path_Conf::component());  // the component name is process-wide
  Path_Conf::set_component("websvcs");
  EXPECT_EQ("/srv/q3/websvcs/act/d/b", Path_Conf("/var/opt/telquin/quillon3/$COMPONENT/act", "d", false, "b", 0750).str());
  Path_Conf::set_component("jobd");
}

TEST(Path_Conf, CreateMakesTheDirectoryThatHoldsTheFile) {
  test::Temp_Dir home("path_conf_test.");
  ASSERT_FALSE(home.path().empty());
  Env_Var root("QUILLON3_ROOT", home.path().c_str());
  const mode_t old_mask = umask(022);

  const Path_Conf with_base("/var/opt/telquin/quillon3/$COMPONENT/act/tc", "def", true, "i-1",
                            0750);
  EXPECT_EQ(home.path() + "/jobd/act/tc/def/i-1", with_base.str());
  EXPECT_EQ(0750u, mode_of(home.path() + "/jobd/act/tc/def"));
  EXPECT_EQ(0750u, mode_of(home.path() + "/jobd"));
  EXPECT_EQ(0u, mode_of(with_base.str()));  // the file itself is the caller's

  const Path_Conf without_base("/var/opt/telquin/quillon3/$COMPONENT/jobs", "job-1", true,
                               nullptr, 0700);
  EXPECT_EQ(0700u, mode_of(home.path() + "/jobd/jobs"));
  EXPECT_EQ(0u, mode_of(without_base.str()));

  const Path_Conf no_create("/var/opt/telquin/quillon3/other", "x", false, "y", 0750);
  EXPECT_EQ(0u, mode_of(home.path() + "/other"));
  umask(old_mask);
}

TEST(Path_Conf, FailureToMakeTheDirectoryIsLogged) {
  test::Temp_Dir home("path_conf_test.");
  ASSERT_FALSE(home.path().empty());
  Env_Var root("QUILLON3_ROOT", home.path().c_str());
  std::ofstream(home.path() + "/jobd") << "a file where a directory should be";
  test::Log_Capture log;
  const Path_Conf p("/var/opt/telquin/quillon3/$COMPONENT/act", "def", true, "b", 0750);
  EXPECT_EQ(home.path() + "/jobd/act/def/b", p.str());
  EXPECT_TRUE(log.contains("Failed to create directory " + home.path() + "/jobd/act/def",
                           LM_ERROR));
}

}  // namespace
