// For test binaries that make jobs: points QUILLON3_ROOT at a fresh temporary directory
// for the whole binary, so activity records never touch the real home. The variable is
// set before the first test runs (no thread reads it while it changes); at the end every
// thread of the ACE thread manager is waited for, then the directory is removed.
#ifndef TESTS_HOST_JOB_ENGINE_TEMP_HOME_H
#define TESTS_HOST_JOB_ENGINE_TEMP_HOME_H

#include <ace/Thread_Manager.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace test {

class Temp_Home_Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/quillon3-job-test-XXXXXX";
    const char* const made = ::mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    dir_ = made;
    ::setenv("QUILLON3_ROOT", dir_.c_str(), 1);
  }

  void TearDown() override {
    ACE_Thread_Manager::instance()->wait();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  static const std::string& dir() { return dir_; }

 private:
  static inline std::string dir_;
};

}  // namespace test

// Registers the environment; use once per test binary.
#define TEST_TEMP_HOME()                                      \
  [[maybe_unused]] static ::testing::Environment* const       \
      test_temp_home_environment_ =                           \
          ::testing::AddGlobalTestEnvironment(new ::test::Temp_Home_Environment)

#endif  // TESTS_HOST_JOB_ENGINE_TEMP_HOME_H
