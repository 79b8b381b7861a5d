#include "tavrocloud/job/volume_reader.h"

#include "test_pool.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

using tavrocloud::Volume_Reader;
using Pool = test::Test_Pool;

constexpr size_t BLOCK = 4096;

std::string content(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size / 3; ++i) s[i] = static_cast<char>(i * 131 + (i >> 9));
  for (size_t i = 2 * size / 3; i < size; ++i) s[i] = "restore "[i % 8];
  return s;
}

// Opens `name` in the pool and runs a reader onto `device`, with the block size the
// image gives when `block` is 0; the bytes the callback saw are counted.
bool restore(const Pool& pool, const std::string& name, const std::string& device, size_t block,
             bool accept = true, size_t* bytes = nullptr) {
  Client_IO_Ex io;
  if (!io.connect(pool.url(), {}) || !io.open(name, Client_IO_Base::MODE_READ, 0, 0)) return false;
  if (block == 0 && !tavrocloud::read_image_block_size(io, name, block)) return false;
  Volume_Reader reader(device, block);
  size_t seen = 0;
  const bool ok = reader.read_all(io, [&](const char*, size_t n, int64_t) {
    seen += n;
    return accept;
  });
  if (bytes != nullptr) *bytes = seen;
  return ok;
}

// The device is larger than the image and holds old bytes past it, which must stay.
TEST(Volume_Reader, WritesEveryBlockAtItsOffsetAndKeepsTheRest) {
  Pool pool("pool-vr-1");
  const std::string data = content(5 * BLOCK + 700);
  pool.write_image("img", data, 2 * BLOCK);
  const std::string device = pool.path("device");
  const std::string tail(3000, 'T');
  std::ofstream(device, std::ios::binary) << std::string(data.size(), 'X') << tail;
  size_t bytes = 0;
  ASSERT_TRUE(restore(pool, "img", device, 0, true, &bytes));
  EXPECT_EQ(bytes, data.size());
  EXPECT_TRUE(Pool::read_file(device) == data + tail);
}

TEST(Volume_Reader, FailurePaths) {
  Pool pool("pool-vr-2");
  const std::string data = content(3 * BLOCK);
  pool.write_image("img", data, BLOCK);
  const std::string device = pool.path("device");
  std::ofstream(device, std::ios::binary) << std::string(data.size(), 'X');
  std::string damaged = Pool::read_file(pool.path("img"));
  damaged[damaged.size() / 2] ^= 0x20;
  std::ofstream(pool.path("bad"), std::ios::binary) << damaged;
  std::ofstream(pool.path("short"), std::ios::binary) << damaged.substr(0, 100);

  const struct {
    const char* what;
    std::string image, device;
    size_t block;
    bool accept;
  } cases[] = {
      {"device missing (never created)", "img", pool.path("gone"), BLOCK, true},
      {"block size not the image's", "img", device, 2 * BLOCK, true},
      {"callback refuses (cancel)", "img", device, BLOCK, false},
      {"damaged image", "bad", device, BLOCK, true},
      {"superblock cut short", "short", device, 0, true},
      {"write fails (full device)", "img", "/dev/full", BLOCK, true},
  };
  for (const auto& c : cases) EXPECT_FALSE(restore(pool, c.image, c.device, c.block, c.accept)) << c.what;
  EXPECT_NE(::access(pool.path("gone").c_str(), F_OK), 0);
}

}  // namespace
