// Where the files the tests read live (tests/ of the source tree, tests/data for data),
// found from the build rather than from where a test binary runs or from its own file name.
#ifndef TESTS_SUPPORT_TEST_DATA_H
#define TESTS_SUPPORT_TEST_DATA_H

#include <cstdlib>
#include <string>

namespace test {

// $QUILLON3_SOURCE_DIR/tests when the variable is set (a source tree other than the one
// built from), else the tests folder of the tree the build was made from.
inline std::string tests_dir() {
  const char* root = std::getenv("QUILLON3_SOURCE_DIR");
  return root != nullptr && *root != '\0' ? std::string(root) + "/tests" : QUILLON3_TESTS_DIR;
}

// The tests/data folder of that tree.
inline std::string data_dir() { return tests_dir() + "/data"; }

}  // namespace test

#endif  // TESTS_SUPPORT_TEST_DATA_H
