// libtavrocloud.so shows the host exactly its factories and their destroyers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>

#include "e2e/runner_process.h"

namespace {

// Each factory `_make_<Name>` with its destroyer `_gobble_<Name>`.
const char* const EXPORTED_NAMES[] = {
    "Tavrocloud_Job_Creator",
    "Tavrocloud_Backup_Source_Parser_Creator",  "Tavrocloud_Backup_Options_Parser_Creator",
    "Tavrocloud_Restore_Source_Parser_Creator", "Tavrocloud_Restore_Options_Parser_Creator",
    "Tavrocloud_Instance_Handler",              "JSON_RPC_Tavrocloud_List_Handler",
    "JSON_RPC_Tavrocloud_Login_Handler",
};

TEST(Exported_Symbols, OnlyTheFactoriesAndTheirDestroyers) {
  const std::string path = test::built("libtavrocloud.so");
  ASSERT_EQ(0, ::access(path.c_str(), R_OK)) << "no module at " << path;
  FILE* const nm = ::popen(("nm -D --defined-only '" + path + "'").c_str(), "r");
  ASSERT_NE(nullptr, nm);
  std::set<std::string> defined;
  char address[64], kind[8], name[512];
  while (std::fscanf(nm, "%63s %7s %511s", address, kind, name) == 3) defined.insert(name);
  ASSERT_EQ(0, ::pclose(nm));
  std::set<std::string> expected;
  for (const char* name : EXPORTED_NAMES)
    expected.insert({std::string("_make_") + name, std::string("_gobble_") + name});
  EXPECT_EQ(expected, defined);
}

}  // namespace
