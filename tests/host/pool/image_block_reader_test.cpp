#include "pool/image_block_reader.h"

#include "pool_images.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

using pool_test::Pool_Env;
using pool_test::read_image;

constexpr size_t BLOCK = 4096;

// Writes "img": zero, random and text blocks, a short last block (7 blocks by default);
// returns the file's bytes.
std::string make_image(const Pool_Env& env, Compression_Method codec, std::string& data,
                       size_t size = 6 * BLOCK + 1000, char image_id = 'I') {
  data = pool_test::make_content(pool_test::MIXED, size, 5);
  EXPECT_TRUE(pool_test::Open_Image(env, codec, BLOCK, image_id, "xy").write(data));
  return pool_test::read_file(env.root() + "/img");
}

class Damage : public ::testing::TestWithParam<Compression_Method> {};

// The intact image reads back; a flipped bit anywhere, a cut anywhere (every byte of the
// head and the tail, a sample between) and data after the trailer are refused.
TEST_P(Damage, EveryBitFlipAndTruncationIsRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data, got;
  const std::string image = make_image(env, GetParam(), data);
  ASSERT_TRUE(read_image(env, BLOCK, &got, 1));
  EXPECT_TRUE(got == data);
  const std::string path = env.root() + "/img";
  int accepted = 0;
  for (size_t pos = 0; pos < image.size(); pos += (pos < 1500 || pos + 300 > image.size()) ? 1 : 11) {
    std::string bad = image;
    bad[pos] = static_cast<char>(bad[pos] ^ (1 << (pos % 8)));
    pool_test::write_file(path, bad);
    if (read_image(env, BLOCK, nullptr, 1) && ++accepted < 5)
      ADD_FAILURE() << "flipped bit at byte " << pos << " of " << image.size() << " accepted";
    pool_test::write_file(path, image.substr(0, pos));
    if (read_image(env, BLOCK, nullptr, 1) && ++accepted < 5)
      ADD_FAILURE() << "truncated to " << pos << " of " << image.size() << " accepted";
  }
  pool_test::write_file(path, image + '\0');
  EXPECT_FALSE(read_image(env, BLOCK, nullptr, 1)) << "data after the trailer accepted";
}

INSTANTIATE_TEST_SUITE_P(Codecs, Damage, ::testing::Values(COMPR_NONE, COMPR_LZOP, COMPR_ZSTD));

// Damage far into a long image (read and verified in many batches) is found, and what
// was handed out before is an in-order run of blocks that lie before it.
TEST(Image_Block_Reader, DamageInALaterBatchIsRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data;
  const std::string image = make_image(env, COMPR_ZSTD, data, 300 * BLOCK);
  for (double where : {0.3, 0.5, 0.7, 0.95}) {
    SCOPED_TRACE(where);
    const size_t pos = static_cast<size_t>(image.size() * where);
    std::string bad = image;
    bad[pos] = static_cast<char>(bad[pos] ^ 0x10);
    pool_test::write_file(env.root() + "/img", bad);
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), {}) && io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    Image_Block_Reader reader;
    reader.set_threads(3);
    int64_t next = 0;
    bool in_order = true;
    EXPECT_FALSE(reader.read_blocks_align(
        io,
        [&](const char* p, size_t n, int64_t off) {
          in_order = in_order && off == next && data.compare(off, n, p, n) == 0;
          return next = off + static_cast<int64_t>(n), true;
        },
        BLOCK));
    EXPECT_TRUE(in_order && static_cast<size_t>(next) < data.size());
    pool_test::write_file(env.root() + "/img", image.substr(0, pos));
    EXPECT_FALSE(read_image(env, BLOCK, nullptr, 3));
  }
}

// Refused before any block: the head of one image (its superblock, or with its extent
// table) in front of the body of another, a block size not the image's, and a hook that
// says no. A callback's no stops the read; one that throws ends it on the caller's
// thread, the helpers joined.
TEST(Image_Block_Reader, RefusedBeforeAnyBlock) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data, got;
  const std::string a = make_image(env, COMPR_ZSTD, data, 6 * BLOCK + 1000, 'A');
  std::remove((env.root() + "/img").c_str());
  const std::string b = make_image(env, COMPR_ZSTD, data, 6 * BLOCK + 1000, 'B');
  ASSERT_EQ(a.size(), b.size());
  for (size_t cut : {pool_image::SUPERBLOCK_SIZE,
                     pool_image::SUPERBLOCK_SIZE + 2 + pool_image::extent_table_size(1)}) {
    pool_test::write_file(env.root() + "/img", a.substr(0, cut) + b.substr(cut));
    EXPECT_FALSE(read_image(env, BLOCK, &got) || got != "") << cut;
  }
  pool_test::write_file(env.root() + "/img", b);
  for (size_t size : {size_t(0), BLOCK / 2, BLOCK * 2, size_t(1) << 40})
    EXPECT_FALSE(read_image(env, size, &got) || got != "") << size;
  EXPECT_TRUE(log.contains("block size", LM_ERROR));
  for (int at = 0; at < 3; ++at)
    EXPECT_FALSE(read_image(env, BLOCK, &got, 0, pool_test::Noting_Reader(at)) || got != "") << at;
  for (const bool throws : {false, true}) {
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), {}) && io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    int blocks = 0;
    auto read = [&] {
      return Image_Block_Reader().read_blocks_align(io, [&](const char*, size_t, int64_t) {
        if (throws && blocks == 2) throw std::runtime_error("callback");
        return ++blocks < 2 || throws;
      }, BLOCK);
    };
    if (throws) {
      EXPECT_THROW(read(), std::runtime_error);
    } else {
      EXPECT_FALSE(read());
    }
    EXPECT_EQ(blocks, 2);
  }
}

}  // namespace
