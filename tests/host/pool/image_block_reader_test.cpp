#include "pool/image_block_reader.h"

#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool_test_env.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using pool_test::Pool_Env;

constexpr size_t BLOCK = 4096;

// An image with zero, random and text blocks and a short last block (by default a
// small one, of 7 blocks).
std::string make_image(const Pool_Env& env, Compression_Method method, std::string& data,
                       size_t size = 6 * BLOCK + 1000, char image_id = 'I') {
  data = pool_test::make_content(pool_test::MIXED, size, 5);
  Client_IO_Base::Options opts;
  opts.compression_method = method;
  Client_IO_Ex io;
  EXPECT_TRUE(io.connect(env.url(), opts));
  EXPECT_TRUE(io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  Image_Block_Writer writer(&io);
  EXPECT_TRUE(writer.init(512, BLOCK, 1, 0));
  EXPECT_TRUE(writer.write_superblock(std::string(16, 'S'), std::string(16, image_id), 0, "xy", 2));
  writer.add_block(0, data.size());
  EXPECT_TRUE(writer.write_blocks(nullptr, [&](const char*& p, ssize_t n, ACE_OFF_T off) {
    p = data.data() + off;
    return n;
  }));
  EXPECT_TRUE(io.close());
  return pool_test::read_file(env.root() + "/img");
}

// Reads the file "img" of the pool; true when the reader accepted all of it.
bool read_back(const Pool_Env& env, size_t block_size, std::string* out = nullptr) {
  Client_IO_Ex io;
  if (!io.connect(env.url(), {}) || !io.open("img", Client_IO_Base::MODE_READ, 0, 0)) return false;
  std::string got;
  Image_Block_Reader reader;
  reader.set_threads(1);
  const bool ok = reader.read_blocks_align(
      io,
      [&](const char* p, size_t n, int64_t off) {
        if (got.size() < static_cast<size_t>(off) + n) got.resize(off + n);
        got.replace(off, n, p, n);
        return true;
      },
      block_size);
  if (out != nullptr) *out = got;
  return ok;
}

class Damage : public ::testing::TestWithParam<Compression_Method> {};

TEST_P(Damage, IntactImageIsAccepted) {
  Pool_Env env;
  std::string data;
  make_image(env, GetParam(), data);
  std::string got;
  ASSERT_TRUE(read_back(env, BLOCK, &got));
  EXPECT_TRUE(got == data);
}

// The positions tried: every byte of the head of the image (superblock, extents, first
// records) and of its tail (last record, trailer), a sample of the bytes between.
std::vector<size_t> positions(size_t size) {
  std::vector<size_t> out;
  for (size_t pos = 0; pos < size; pos += (pos < 1500 || pos + 300 > size) ? 1 : 11) {
    out.push_back(pos);
  }
  return out;
}

// A flipped bit, wherever it lies, makes the read fail.
TEST_P(Damage, FlippedBitsAreRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  const std::string image = make_image(env, GetParam(), data);
  const std::string path = env.root() + "/img";
  int accepted = 0;
  for (size_t pos : positions(image.size())) {
    std::string bad = image;
    bad[pos] = static_cast<char>(bad[pos] ^ (1 << (pos % 8)));
    pool_test::write_file(path, bad);
    if (read_back(env, BLOCK)) {
      ++accepted;
      ADD_FAILURE() << "flipped bit at byte " << pos << " of " << image.size() << " accepted";
      if (accepted > 5) break;
    }
  }
}

// Cut anywhere, the image is refused.
TEST_P(Damage, TruncationsAreRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  const std::string image = make_image(env, GetParam(), data);
  const std::string path = env.root() + "/img";
  for (size_t len : positions(image.size())) {
    pool_test::write_file(path, image.substr(0, len));
    ASSERT_FALSE(read_back(env, BLOCK)) << "truncated to " << len << " of " << image.size();
  }
  pool_test::write_file(path, image + '\0');
  EXPECT_FALSE(read_back(env, BLOCK)) << "data after the trailer accepted";
}

INSTANTIATE_TEST_SUITE_P(Codecs, Damage, ::testing::Values(COMPR_NONE, COMPR_LZOP, COMPR_ZSTD));

// Damage far into a long image (its records are read and verified in many batches) is
// found, and what was handed out before is an in-order run of blocks that lie before it.
TEST(Image_Block_Reader, DamageInALaterBatchIsRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  const std::string image = make_image(env, COMPR_ZSTD, data, 300 * BLOCK);
  const std::string path = env.root() + "/img";
  for (double where : {0.3, 0.5, 0.7, 0.95}) {
    SCOPED_TRACE(where);
    const size_t pos = static_cast<size_t>(image.size() * where);
    std::string bad = image;
    bad[pos] = static_cast<char>(bad[pos] ^ 0x10);
    pool_test::write_file(path, bad);
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), {}));
    ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    Image_Block_Reader reader;
    reader.set_threads(3);
    int64_t next = 0;
    bool in_order = true;
    EXPECT_FALSE(reader.read_blocks_align(
        io,
        [&](const char* p, size_t n, int64_t off) {
          in_order = in_order && off == next && data.compare(off, n, p, n) == 0;
          next = off + static_cast<int64_t>(n);
          return true;
        },
        BLOCK));
    EXPECT_TRUE(in_order);
    EXPECT_LT(static_cast<size_t>(next), data.size());
    io.close();
    pool_test::write_file(path, image.substr(0, pos));
    ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    EXPECT_FALSE(reader.read_blocks_align(io, [](const char*, size_t, int64_t) { return true; },
                                          BLOCK));
  }
}

// The head of one image in front of the body of another of the same geometry (the
// superblock alone, or with its extent table) is refused before any block.
TEST(Image_Block_Reader, SplicedImagesAreRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  const std::string a = make_image(env, COMPR_ZSTD, data, 6 * BLOCK + 1000, 'A');
  std::remove((env.root() + "/img").c_str());
  const std::string b = make_image(env, COMPR_ZSTD, data, 6 * BLOCK + 1000, 'B');
  ASSERT_EQ(a.size(), b.size());
  const size_t extents_end = pool_image::SUPERBLOCK_SIZE + 2 + pool_image::extent_table_size(1);
  for (size_t cut : {pool_image::SUPERBLOCK_SIZE, extents_end}) {
    pool_test::write_file(env.root() + "/img", a.substr(0, cut) + b.substr(cut));
    std::string got;
    EXPECT_FALSE(read_back(env, BLOCK, &got)) << cut;
    EXPECT_TRUE(got.empty()) << cut;
  }
}

TEST(Image_Block_Reader, WrongBlockSizeIsRefusedBeforeAnyBlock) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  make_image(env, COMPR_ZSTD, data);
  for (size_t size : {size_t(0), BLOCK / 2, BLOCK * 2, size_t(1) << 40}) {
    int blocks = 0;
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), {}));
    ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    Image_Block_Reader reader;
    EXPECT_FALSE(reader.read_blocks_align(
        io, [&](const char*, size_t, int64_t) { return ++blocks, true; }, size))
        << size;
    EXPECT_EQ(blocks, 0);
  }
  EXPECT_TRUE(log.contains("block size", LM_ERROR));
}

TEST(Image_Block_Reader, HooksAndCallbackCanStopTheRead) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  make_image(env, COMPR_LZOP, data);
  struct Refusing : Image_Block_Reader {
    int refuse_at;
    explicit Refusing(int at) : refuse_at(at) {}
    bool handle_superblock(const Image_Superblock&) override { return refuse_at != 0; }
    bool handle_superblock_extra(const char*, size_t) override { return refuse_at != 1; }
    bool handle_descriptor_header(const std::vector<Image_Extent>&) override {
      return refuse_at != 2;
    }
  };
  for (int at = 0; at < 4; ++at) {
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), {}));
    ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    Refusing reader(at);
    int blocks = 0;
    // At 3 the hooks accept and the callback stops at the second block.
    EXPECT_FALSE(reader.read_blocks_align(
        io, [&](const char*, size_t, int64_t) { return ++blocks < 2; }, BLOCK));
    EXPECT_EQ(blocks, at == 3 ? 2 : 0);
  }
}

}  // namespace
