// libtavrocloud.so shows the host exactly its factories and their destroyers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

namespace {

// Each factory `_make_<Name>` with its destroyer `_gobble_<Name>`.
const char* const EXPORTED_NAMES[] = {
    "Tavrocloud_Job_Creator",
    "Tavrocloud_Backup_Source_Parser_Creator",  "Tavrocloud_Backup_Options_Parser_Creator",
    "Tavrocloud_Restore_Source_Parser_Creator", "Tavrocloud_Restore_Options_Parser_Creator",
    "Tavrocloud_Instance_Handler",              "JSON_RPC_Tavrocloud_List_Handler",
    "JSON_RPC_Tavrocloud_Login_Handler",
};

std::string module_path() {
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string exe = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
  return exe.substr(0, exe.rfind('/')) + "/libtavrocloud.so";
}

TEST(Exported_Symbols, OnlyTheFactoriesAndTheirDestroyers) {
  const std::string path = module_path();
  ASSERT_EQ(0, ::access(path.c_str(), R_OK)) << "no module at " << path;
  FILE* const nm = ::popen(("nm -D --defined-only '" + path + "' 2>&1").c_str(), "r");
  ASSERT_NE(nullptr, nm);
  std::string text;
  char buf[4096];
  for (size_t got; (got = std::fread(buf, 1, sizeof buf, nm)) > 0;) text.append(buf, got);
  ASSERT_EQ(0, ::pclose(nm)) << text;

  std::set<std::string> defined;
  std::istringstream lines(text);
  for (std::string address, kind, name; lines >> address >> kind >> name;) defined.insert(name);
  std::set<std::string> expected;
  for (const char* name : EXPORTED_NAMES) {
    expected.insert(std::string("_make_") + name);
    expected.insert(std::string("_gobble_") + name);
  }
  EXPECT_EQ(expected, defined) << text;
}

}  // namespace
