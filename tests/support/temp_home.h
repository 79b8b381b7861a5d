// Temporary host homes for tests: a fresh directory under /tmp that QUILLON3_ROOT points
// at, so that nothing a test does touches the real home and every test (or binary) starts
// from an empty one. Also the two pieces it is made of: a scoped environment variable and
// a temporary directory.
#ifndef TESTS_SUPPORT_TEMP_HOME_H
#define TESTS_SUPPORT_TEMP_HOME_H

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace test {

// Sets an environment variable (or unsets it, for a null value) for the object's life; at
// its end the variable gets back its earlier value or absence.
class Scoped_Env {
 public:
  Scoped_Env(const char* name, const char* value);
  ~Scoped_Env();
  Scoped_Env(const Scoped_Env&) = delete;
  Scoped_Env& operator=(const Scoped_Env&) = delete;

 private:
  std::string name_;
  std::unique_ptr<std::string> old_;  // null: the variable was unset
};

// A fresh directory /tmp/<prefix>XXXXXX, removed with all it holds at the object's end.
class Temp_Dir {
 public:
  explicit Temp_Dir(const std::string& prefix);
  ~Temp_Dir();
  Temp_Dir(const Temp_Dir&) = delete;
  Temp_Dir& operator=(const Temp_Dir&) = delete;

  // False when the directory could not be made (path() is then empty).
  bool made() const { return !path_.empty(); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A temporary directory made the host home for the object's life: at its end
// QUILLON3_ROOT gets back its earlier value, then the directory goes.
class Temp_Home {
 public:
  // When no directory could be made, the home is one that does not exist, never the real
  // one.
  explicit Temp_Home(const std::string& prefix)
      : dir_(prefix),
        root_("QUILLON3_ROOT", dir_.made() ? dir_.path().c_str() : "/nonexistent-test-home") {}

  bool made() const { return dir_.made(); }
  const std::string& dir() const { return dir_.path(); }

 private:
  Temp_Dir dir_;
  Scoped_Env root_;  // after dir_: restored before the directory goes
};

// Fixture base: each test runs with a fresh temporary host home.
class Temp_Home_Test : public ::testing::Test {
 protected:
  explicit Temp_Home_Test(const std::string& prefix = "quillon3-test-") : home_(prefix) {}
  void SetUp() override { ASSERT_TRUE(home_.made()) << "no temporary host home"; }

  const std::string& dir() const { return home_.dir(); }

 private:
  Temp_Home home_;
};

// For test binaries that make jobs: one temporary host home for the whole binary, set
// before the first test runs (no thread reads the variable while it changes). At the end
// every thread of the ACE thread manager is waited for, then the home goes.
class Temp_Home_Environment : public ::testing::Environment {
 public:
  void SetUp() override;
  void TearDown() override;

  static const std::string& dir() { return dir_; }

 private:
  std::unique_ptr<Temp_Home> home_;
  static inline std::string dir_;
};

}  // namespace test

// Registers the binary-wide home; use once per test binary.
#define TEST_TEMP_HOME()                                \
  [[maybe_unused]] static ::testing::Environment* const \
      test_temp_home_environment_ =                     \
          ::testing::AddGlobalTestEnvironment(new ::test::Temp_Home_Environment)

#endif  // TESTS_SUPPORT_TEMP_HOME_H
