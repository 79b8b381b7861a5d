#include "pool/image_writer.h"

#include "pool_images.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using pool_test::Open_Image;
using pool_test::Pool_Env;

// Every codec and content reads back byte for byte, with runs of blocks longer than a
// batch of the writer and of the reader, blocks larger than a batch and a short last
// block; the zero third of MIXED is never stored and the codecs shrink the rest.
TEST(Image_Writer, RoundTripsEveryCodecAndContent) {
  const std::tuple<Compression_Method, pool_test::Content, size_t, size_t, double> cases[] = {
      {COMPR_NONE, pool_test::MIXED, 3 << 20, 131072, 0.7},
      {COMPR_AUTO, pool_test::MIXED, 3 << 20, 131072, 0.45},
      {COMPR_LZOP, pool_test::MIXED, 3 << 20, 131072, 0.55},
      {COMPR_ZSTD, pool_test::MIXED, 3 << 20, 131072, 0.45},
      {COMPR_ZSTD, pool_test::RANDOM, 1 << 20, 131072, 1.01},
      {COMPR_ZSTD, pool_test::ZERO, 1 << 20, 4096, 0.1},
      {COMPR_LZOP, pool_test::TEXT, 1 << 20, 4096, 0.7},
      {COMPR_ZSTD, pool_test::MIXED, (5 << 20) + 777, 1 << 20, 0.5},
      {COMPR_ZSTD, pool_test::MIXED, 100000, 4096, 0.6},
      {COMPR_NONE, pool_test::TEXT, 5000, 512, 1.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(std::get<0>(c)) + " " + std::to_string(std::get<1>(c)) + " " +
                 std::to_string(std::get<2>(c)));
    Pool_Env env;
    const std::string data = pool_test::make_content(std::get<1>(c), std::get<2>(c), 7);
    Open_Image image(env, std::get<0>(c), std::get<3>(c));
    image.writer.set_threads(3);
    unsigned long reported = 0;
    ASSERT_TRUE(image.write(data, [&](unsigned long n) { return reported += n, true; }));
    EXPECT_EQ(reported, data.size());
    EXPECT_LT(pool_test::read_file(env.root() + "/img").size(), data.size() * std::get<4>(c));
    std::string back;
    ASSERT_TRUE(pool_test::read_image(env, std::get<3>(c), &back));
    EXPECT_TRUE(back == data);
  }
}

// Extents at their offsets, whole blocks asked of the source, and the superblock's
// identity, codec and extra data as the reader's hooks see them.
TEST(Image_Writer, SeveralExtentsAndTheSuperblock) {
  Pool_Env env;
  const std::string a = pool_test::make_content(pool_test::TEXT, 300000, 3);
  const std::string b = pool_test::make_content(pool_test::RANDOM, 70000, 4);
  Open_Image image(env, COMPR_ZSTD, 65536, 'I', "extra");
  image.writer.add_block(1 << 20, a.size());
  image.writer.add_block(0, b.size());
  std::string asked;
  ASSERT_TRUE(image.writer.write_blocks(nullptr, [&](const char*& p, ssize_t size, ACE_OFF_T off) {
    asked += std::to_string(off) + "+" + std::to_string(size) + " ";
    p = off >= (1 << 20) ? a.data() + (off - (1 << 20)) : b.data() + off;
    return size;
  }));
  ASSERT_TRUE(image.io.close());
  EXPECT_EQ(asked, "1048576+65536 1114112+65536 1179648+65536 1245184+65536 1310720+37856 "
                   "0+65536 65536+4464 ");
  pool_test::Noting_Reader seen;
  std::string got;
  ASSERT_TRUE(pool_test::read_image(env, 65536, &got, 0, std::move(seen)));
  EXPECT_TRUE(got.substr(0, b.size()) == b && got.substr(1 << 20) == a);
  EXPECT_EQ(seen.text, std::string(16, 'S') + std::string(16, 'I') +
                           std::to_string(COMPR_ZSTD) + "extra2@1048576");
}

// Every way a write can fail leaves nothing in the pool, neither the final nor a
// temporary name; the connection's close then succeeds, except for an image closed
// before its trailer, whose close reports the failure.
TEST(Image_Writer, FailedWriteLeavesNothing) {
  Pool_Env env;
  test::Log_Capture log;
  const std::string data = pool_test::make_content(pool_test::MIXED, 1 << 20);
  const struct {
    const char* name;
    int fail_at;       // block index whose read fails, -1 none
    int stop_after;    // block count after which progress answers false, -1 none
    char how;          // 'f' fail, 's' short read, 't' throw, 'c' close before the blocks
  } cases[] = {{"source fails", 3, -1, 'f'}, {"source short", 2, -1, 's'},
               {"progress stops", -1, 4, 'f'}, {"first block fails", 0, -1, 'f'},
               {"source throws", 8, -1, 't'}, {"closed before the trailer", -1, -1, 'c'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Open_Image image(env, COMPR_AUTO, 65536);
    image.writer.add_block(0, data.size());
    int progressed = 0;
    auto write = [&] {
      return image.writer.write_blocks(
          [&](unsigned long) { return c.stop_after < 0 || ++progressed <= c.stop_after; },
          [&](const char*& p, ssize_t size, ACE_OFF_T off) -> ssize_t {
            if (off / 65536 != c.fail_at) return p = data.data() + off, size;
            if (c.how == 't') throw std::runtime_error("source");
            return c.how == 's' ? size - 1 : -1;
          });
    };
    if (c.how == 't') {
      EXPECT_THROW(write(), std::runtime_error);  // helper threads joined, on the caller's thread
    } else if (c.how != 'c') {
      EXPECT_FALSE(write());
    }
    EXPECT_EQ(image.io.close(), c.how == 'f' || c.how == 's');
    EXPECT_NE(c.how == 'c' ? std::string(image.io.error()) : "x", "");
    EXPECT_TRUE(image.io.close() && image.io.remove("img"));
    EXPECT_EQ(pool_test::list_dir(env.root()), "");
  }
}

// Bad geometry, a short identity, steps out of order, no connection and an empty extent
// are refused; an image without extents is whole and reads back as no blocks; offsets
// past 4 GiB are kept whole.
TEST(Image_Writer, RefusesBadGeometryOrderAndEmptyExtents) {
  Pool_Env env;
  test::Log_Capture log;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), {}));
  ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  const size_t bad[][4] = {{0, 4096, 1, 0}, {256, 4096, 1, 0}, {512, 0, 1, 0}, {512, 1000, 1, 0},
                           {512, 4096, 2, 0}, {512, 4096, 1, 1}, {512, 128 << 20, 1, 0},
                           {768, 1536, 1, 0}};
  for (const auto& g : bad) EXPECT_FALSE(Image_Block_Writer(&io).init(g[0], g[1], g[2], g[3])) << g[0] << " " << g[1];
  Image_Block_Writer writer(&io);
  EXPECT_FALSE(writer.write_superblock(std::string(16, 'S'), std::string(16, 'I'), 0, nullptr, 0));
  ASSERT_TRUE(writer.init(512, 4096, 1, 0));
  EXPECT_FALSE(writer.write_superblock("short", std::string(16, 'I'), 0, nullptr, 0));
  EXPECT_FALSE(writer.write_blocks(nullptr, nullptr));  // before the superblock
  Image_Block_Writer unconnected(nullptr);
  EXPECT_FALSE(unconnected.init(512, 4096, 1, 0) || unconnected.write_blocks(nullptr, nullptr) ||
               unconnected.write_superblock(std::string(16, 'S'), std::string(16, 'I'), 0, nullptr, 0));
  unconnected.add_block(1ull << 40, 4096);
  EXPECT_EQ(unconnected.blocks().at(0).offset, 1ull << 40);
  io.abort();
  EXPECT_FALSE(Open_Image(env, COMPR_ZSTD, 4096).write(""));  // a zero-length extent
  Open_Image none(env, COMPR_ZSTD, 4096);
  ASSERT_TRUE(none.writer.write_blocks(nullptr, [](const char*&, ssize_t, ACE_OFF_T) { return -1; }));
  ASSERT_TRUE(none.io.close());
  std::string got = "x";
  EXPECT_TRUE(pool_test::read_image(env, 4096, &got));
  EXPECT_EQ(got, "");
}

}  // namespace
