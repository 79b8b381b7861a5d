// Each test of the catalog gets its own host home (QUILLON3_ROOT), so every test starts
// with no catalog database and leaves nothing behind.
#ifndef TESTS_HOST_CATALOG_TEMP_CATALOG_HOME_H
#define TESTS_HOST_CATALOG_TEMP_CATALOG_HOME_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace test {

class Temp_Catalog_Home : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quillon3-catalog-test-XXXXXX";
    const char* const made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    ::setenv("QUILLON3_ROOT", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QUILLON3_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace test

#endif  // TESTS_HOST_CATALOG_TEMP_CATALOG_HOME_H
