// A throw-away host home with one registered storage pool, for the pool tests: a fresh
// temporary directory that QUILLON3_ROOT points at while the object lives, holding the
// pool's root "pool"; removed again afterwards.
#ifndef TESTS_HOST_POOL_POOL_TEST_ENV_H
#define TESTS_HOST_POOL_POOL_TEST_ENV_H

#include "pool/pool_registry.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

namespace pool_test {

class Pool_Env {
 public:
  Pool_Env() {
    ::mkdir(root().c_str(), 0700);
    const Pool_Record rec{"pool-1", "main", "host-1", url(), {"dev-1", "dev-2"}, {}};
    std::string error;
    EXPECT_TRUE(home_.made() && Pool_Registry().add(rec, &error)) << error;
  }

  const std::string& dir() const { return home_.dir(); }
  std::string root() const { return dir() + "/pool"; }
  std::string url() const { return "file://" + root(); }

 private:
  test::Temp_Home home_{"pool_test."};
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// The names in `dir`, sorted, joined by spaces; "" when there is no such directory.
inline std::string list_dir(const std::string& dir) {
  std::error_code ec;
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.insert(e.path().filename());
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

// Deterministic test content of `size` bytes: all zero, pseudo-random, text-like, or
// zero, random and text thirds.
enum Content { ZERO, RANDOM, TEXT, MIXED };

inline std::string make_content(Content kind, size_t size, uint64_t seed = 1) {
  std::string out(size, '\0');
  std::mt19937_64 next(seed);
  static const char* const words[] = {"backup ",   "volume ",  "instance ", "pool ",
                                      "snapshot ", "restore ", "block ",    "image\n"};
  for (size_t i = 0; i < size;) {
    const Content k = kind != MIXED ? kind : i < size / 3 ? RANDOM : i < 2 * size / 3 ? ZERO : TEXT;
    if (k == ZERO) ++i;
    if (k == RANDOM) out[i++] = static_cast<char>(next());
    if (k == TEXT)
      for (const char* w = words[next() % 8]; *w && i < size; ++w) out[i++] = *w;
  }
  return out;
}

}  // namespace pool_test

#endif  // TESTS_HOST_POOL_POOL_TEST_ENV_H
