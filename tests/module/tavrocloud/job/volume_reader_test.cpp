#include "tavrocloud/job/volume_reader.h"

#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/pool_registry.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

using tavrocloud::Volume_Reader;

constexpr size_t BLOCK = 4096;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A pool registered in the binary's home, holding images written from test data.
class Pool {
 public:
  explicit Pool(const std::string& uuid) : dir_("restore-pool-") {
    Pool_Record rec;
    rec.uuid = uuid;
    rec.name = uuid;
    rec.url = url();
    EXPECT_TRUE(Pool_Registry().add(rec));
  }
  std::string url() const { return "file://" + dir_.path(); }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  // Writes `data` as the image `name` with `block` bytes per block.
  void write_image(const std::string& name, const std::string& data, size_t block = BLOCK) {
    Client_IO_Base::Options opts;
    opts.compression_method = COMPR_ZSTD;
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(url(), opts));
    ASSERT_TRUE(io.open(name, Client_IO_Base::MODE_WRITE, 0, 0));
    Image_Block_Writer writer(&io);
    ASSERT_TRUE(writer.init(512, block, 1, 0));
    ASSERT_TRUE(writer.write_superblock(std::string(16, 'S'), std::string(16, 'I'), 0, nullptr, 0));
    writer.add_block(0, data.size());
    ASSERT_TRUE(writer.write_blocks(nullptr, [&](const char*& p, ssize_t n, ACE_OFF_T off) {
      p = data.data() + off;
      return n;
    }));
    ASSERT_TRUE(io.close());
  }

 private:
  test::Temp_Dir dir_;
};

std::string content(size_t size) {
  std::string s(size, '\0');
  for (size_t i = 0; i < size / 3; ++i) s[i] = static_cast<char>(i * 131 + (i >> 9));
  for (size_t i = 2 * size / 3; i < size; ++i) s[i] = "restore "[i % 8];
  return s;
}

// Opens `name` in the pool and runs a reader onto `device`; the blocks seen are counted.
bool restore(const Pool& pool, const std::string& name, const std::string& device, size_t block,
             bool accept = true, size_t* bytes = nullptr) {
  Client_IO_Ex io;
  if (!io.connect(pool.url(), {}) || !io.open(name, Client_IO_Base::MODE_READ, 0, 0)) return false;
  Volume_Reader reader(device, block);
  size_t seen = 0;
  const bool ok = reader.read_all(io, [&](const char*, size_t n, int64_t) {
    seen += n;
    return accept;
  });
  if (bytes != nullptr) *bytes = seen;
  return ok;
}

TEST(Volume_Reader, WritesEveryBlockAtItsOffsetAndKeepsTheRest) {
  Pool pool("pool-vr-1");
  const std::string data = content(5 * BLOCK + 700);
  pool.write_image("img", data);
  // The device is larger than the image and holds old bytes past it, which must stay.
  const std::string device = pool.path("device");
  const std::string tail(3000, 'T');
  std::ofstream(device, std::ios::binary) << std::string(data.size(), 'X') << tail;
  size_t bytes = 0;
  ASSERT_TRUE(restore(pool, "img", device, BLOCK, true, &bytes));
  EXPECT_EQ(bytes, data.size());
  EXPECT_TRUE(read_file(device) == data + tail);

  size_t block = 0;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(pool.url(), {}));
  ASSERT_TRUE(tavrocloud::read_image_block_size(io, "img", block));
  EXPECT_EQ(block, BLOCK);
}

TEST(Volume_Reader, FailurePaths) {
  Pool pool("pool-vr-2");
  const std::string data = content(3 * BLOCK);
  pool.write_image("img", data);
  const std::string device = pool.path("device");
  std::ofstream(device, std::ios::binary) << std::string(data.size(), 'X');
  std::string damaged = read_file(pool.path("img"));
  damaged[damaged.size() / 2] ^= 0x20;
  std::ofstream(pool.path("bad"), std::ios::binary) << damaged;
  std::ofstream(pool.path("short"), std::ios::binary) << damaged.substr(0, 100);

  struct Case {
    const char* what;
    std::string image, device;
    size_t block;
    bool accept;
  } cases[] = {
      {"device missing (never created)", "img", pool.path("gone"), BLOCK, true},
      {"block size not the image's", "img", device, 2 * BLOCK, true},
      {"block size 0", "img", device, 0, true},
      {"callback refuses (cancel)", "img", device, BLOCK, false},
      {"damaged image", "bad", device, BLOCK, true},
      {"write fails (full device)", "img", "/dev/full", BLOCK, true},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(restore(pool, c.image, c.device, c.block, c.accept)) << c.what;
  }
  EXPECT_NE(::access(pool.path("gone").c_str(), F_OK), 0);

  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(pool.url(), {}));
  size_t block = 7;
  EXPECT_FALSE(tavrocloud::read_image_block_size(io, "short", block));
  EXPECT_FALSE(tavrocloud::read_image_block_size(io, "absent", block));
  EXPECT_EQ(block, 7u);
}

}  // namespace
