// A throw-away host home with one registered storage pool, for the pool tests: a fresh
// temporary directory holding "home" (QUILLON3_ROOT points there while the object
// lives) and "pool" (the pool's root), removed again afterwards.
#ifndef TESTS_HOST_POOL_POOL_TEST_ENV_H
#define TESTS_HOST_POOL_POOL_TEST_ENV_H

#include "pool/pool_registry.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace pool_test {

class Pool_Env {
 public:
  Pool_Env() {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/pool_test.XXXXXX";
    if (::mkdtemp(&tmpl[0]) != nullptr) dir_ = tmpl;
    const char* old = std::getenv("QUILLON3_ROOT");
    had_root_ = old != nullptr;
    if (had_root_) old_root_ = old;
    ::setenv("QUILLON3_ROOT", home().c_str(), 1);
    ::mkdir(home().c_str(), 0700);
    ::mkdir(root().c_str(), 0700);
    Pool_Record rec;
    rec.uuid = "pool-1";
    rec.name = "main";
    rec.host_uuid = "host-1";
    rec.url = url();
    rec.device_ids = {"dev-1", "dev-2"};
    std::string error;
    registered_ = Pool_Registry().add(rec, &error);
    EXPECT_TRUE(registered_) << error;
  }

  ~Pool_Env() {
    if (had_root_) {
      ::setenv("QUILLON3_ROOT", old_root_.c_str(), 1);
    } else {
      ::unsetenv("QUILLON3_ROOT");
    }
    if (!dir_.empty()) {
      const std::string cmd = "rm -rf '" + dir_ + "'";
      if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir_;
    }
  }

  Pool_Env(const Pool_Env&) = delete;
  Pool_Env& operator=(const Pool_Env&) = delete;

  const std::string& dir() const { return dir_; }
  std::string home() const { return dir_ + "/home"; }
  std::string root() const { return dir_ + "/pool"; }
  std::string url() const { return "file://" + root(); }

 private:
  std::string dir_;
  std::string old_root_;
  bool had_root_ = false;
  bool registered_ = false;
};

inline bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// The names in `dir` (without "." and ".."), sorted, joined by spaces.
inline std::string list_dir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

// Deterministic test content of `size` bytes: all zero, pseudo-random, text-like, or
// zero, random and text thirds.
enum Content { ZERO, RANDOM, TEXT, MIXED };

inline std::string make_content(Content kind, size_t size, uint64_t seed = 1) {
  std::string out(size, '\0');
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  static const char* const words[] = {"backup ", "volume ", "instance ", "pool ",
                                      "snapshot ", "restore ", "block ", "image\n"};
  for (size_t i = 0; i < size;) {
    Content k = kind;
    if (kind == MIXED) k = i < size / 3 ? RANDOM : i < 2 * size / 3 ? ZERO : TEXT;
    if (k == ZERO) {
      ++i;
    } else if (k == RANDOM) {
      out[i++] = static_cast<char>(next());
    } else {
      for (const char* w = words[next() % 8]; *w && i < size; ++w) out[i++] = *w;
    }
  }
  return out;
}

}  // namespace pool_test

#endif  // TESTS_HOST_POOL_POOL_TEST_ENV_H
