#include "pool/image_writer.h"

#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "pool_test_env.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using pool_test::Content;
using pool_test::Pool_Env;

const std::string SET_UUID(16, '\x11');
const std::string IMAGE_UUID(16, '\x22');

Client_IO_Base::Options codec_options(Compression_Method method, int level = 1) {
  Client_IO_Base::Options opts;
  opts.compression_method = method;
  opts.compression_level = level;
  return opts;
}

struct Write_Result {
  bool ok = false;
  unsigned long reported = 0;
};

// Writes `data` as one extent from offset `base` into `path` on a fresh connection.
Write_Result write_image(const Pool_Env& env, const std::string& path, const std::string& data,
                         size_t block, const Client_IO_Base::Options& opts, uint64_t base = 0,
                         size_t threads = 3) {
  Write_Result r;
  Client_IO_Ex io;
  if (!io.connect(env.url(), opts) || !io.open(path, Client_IO_Base::MODE_WRITE, 0, 0)) return r;
  Image_Block_Writer writer(&io);
  writer.set_threads(threads);
  if (!writer.init(512, block, 1, 0) ||
      !writer.write_superblock(SET_UUID, IMAGE_UUID, 0, nullptr, 0))
    return r;
  writer.add_block(base, data.size());
  r.ok = writer.write_blocks(
      [&](unsigned long n) {
        r.reported += n;
        return true;
      },
      [&](const char*& p, ssize_t size, ACE_OFF_T off) -> ssize_t {
        p = data.data() + (off - static_cast<ACE_OFF_T>(base));
        return size;
      });
  r.ok = io.close() && r.ok;
  return r;
}

// Reads the image at `path` back into a buffer of `size` bytes (offsets from `base`).
bool read_image(const Pool_Env& env, const std::string& path, size_t block, size_t size,
                std::string& out, uint64_t base = 0) {
  Client_IO_Ex io;
  if (!io.connect(env.url(), Client_IO_Base::Options()) ||
      !io.open(path, Client_IO_Base::MODE_READ, 0, 0))
    return false;
  out.assign(size, '\x55');
  Image_Block_Reader reader;
  return reader.read_blocks_align(
      io,
      [&](const char* p, size_t n, int64_t off) {
        const uint64_t at = static_cast<uint64_t>(off) - base;
        if (at + n > out.size()) return false;
        std::memcpy(&out[at], p, n);
        return true;
      },
      block);
}

struct Round_Trip_Case {
  Compression_Method method;
  Content content;
  size_t size;
  size_t block;
};

class Round_Trip : public ::testing::TestWithParam<Round_Trip_Case> {};

TEST_P(Round_Trip, ReadsBackByteForByte) {
  const Round_Trip_Case& c = GetParam();
  Pool_Env env;
  const std::string data = pool_test::make_content(c.content, c.size, 7);
  const Write_Result w = write_image(env, "job/vm/img", data, c.block, codec_options(c.method));
  ASSERT_TRUE(w.ok);
  EXPECT_EQ(w.reported, data.size());
  std::string back;
  ASSERT_TRUE(read_image(env, "job/vm/img", c.block, data.size(), back));
  EXPECT_TRUE(back == data);
}

INSTANTIATE_TEST_SUITE_P(
    CodecsAndContents, Round_Trip,
    ::testing::Values(
        Round_Trip_Case{COMPR_NONE, pool_test::MIXED, 3 << 20, 131072},
        Round_Trip_Case{COMPR_AUTO, pool_test::MIXED, 3 << 20, 131072},
        Round_Trip_Case{COMPR_LZOP, pool_test::MIXED, 3 << 20, 131072},
        Round_Trip_Case{COMPR_ZSTD, pool_test::RANDOM, 1 << 20, 131072},
        // Runs of blocks longer than a batch of the writer and of the reader: zero
        // blocks, compressed blocks, blocks larger than a batch.
        Round_Trip_Case{COMPR_ZSTD, pool_test::ZERO, 1 << 20, 4096},
        Round_Trip_Case{COMPR_LZOP, pool_test::TEXT, 1 << 20, 4096},
        Round_Trip_Case{COMPR_ZSTD, pool_test::MIXED, (5 << 20) + 777, 1 << 20},
        // A last block shorter than the block size.
        Round_Trip_Case{COMPR_ZSTD, pool_test::MIXED, 100000, 4096},
        Round_Trip_Case{COMPR_NONE, pool_test::TEXT, 5000, 512}));

TEST(Image_Writer, CompressionShrinksTheStoredImage) {
  Pool_Env env;
  const std::string data = pool_test::make_content(pool_test::MIXED, 3 << 20);
  struct Case {
    Compression_Method method;
    double max_ratio;
  } cases[] = {{COMPR_NONE, 0.7}, {COMPR_LZOP, 0.55}, {COMPR_ZSTD, 0.45}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    ASSERT_TRUE(write_image(env, "img", data, 131072, codec_options(c.method)).ok);
    const std::string file = pool_test::read_file(env.root() + "/img");
    // The zero third is never stored, whatever the codec.
    EXPECT_LT(file.size(), data.size() * c.max_ratio);
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), {}));
    ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_READ, 0, 0));
    EXPECT_EQ(io.storage_size(), file.size());
    ASSERT_TRUE(io.remove("img"));
  }
}

TEST(Image_Writer, SeveralExtentsAtTheirOffsets) {
  Pool_Env env;
  const std::string a = pool_test::make_content(pool_test::TEXT, 300000, 3);
  const std::string b = pool_test::make_content(pool_test::RANDOM, 70000, 4);
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), codec_options(COMPR_ZSTD, 3)));
  ASSERT_TRUE(io.open("two", Client_IO_Base::MODE_WRITE, 0, 0));
  Image_Block_Writer writer(&io);
  ASSERT_TRUE(writer.init(512, 65536, 1, 0));
  ASSERT_TRUE(writer.write_superblock(SET_UUID, IMAGE_UUID, 0, "extra", 5));
  writer.add_block(1 << 20, a.size());
  writer.add_block(0, b.size());
  std::vector<std::pair<int64_t, ssize_t>> asked;
  ASSERT_TRUE(writer.write_blocks(nullptr, [&](const char*& p, ssize_t size, ACE_OFF_T off) {
    asked.emplace_back(off, size);
    p = off >= (1 << 20) ? a.data() + (off - (1 << 20)) : b.data() + off;
    return size;
  }));
  ASSERT_TRUE(io.close());
  // Whole blocks, the last of each extent shorter.
  ASSERT_EQ(asked.size(), 5u + 2u);
  using Ask = std::pair<int64_t, ssize_t>;
  EXPECT_EQ(asked[4], Ask((1 << 20) + 4 * 65536, 300000 - 4 * 65536));
  EXPECT_EQ(asked[6], Ask(65536, 70000 - 65536));

  struct Seen : Image_Block_Reader {
    std::string extra;
    std::vector<Image_Extent> extents;
    Image_Superblock sb;
    bool handle_superblock(const Image_Superblock& s) override {
      sb = s;
      return true;
    }
    bool handle_superblock_extra(const char* d, size_t n) override {
      extra.assign(d, n);
      return true;
    }
    bool handle_descriptor_header(const std::vector<Image_Extent>& e) override {
      extents = e;
      return true;
    }
  } reader;
  ASSERT_TRUE(io.open("two", Client_IO_Base::MODE_READ, 0, 0));
  std::string got_a(a.size(), 0), got_b(b.size(), 0);
  ASSERT_TRUE(reader.read_blocks_align(
      io,
      [&](const char* p, size_t n, int64_t off) {
        std::string& dst = off >= (1 << 20) ? got_a : got_b;
        std::memcpy(&dst[off >= (1 << 20) ? off - (1 << 20) : off], p, n);
        return true;
      },
      65536));
  EXPECT_TRUE(got_a == a && got_b == b);
  EXPECT_EQ(reader.extra + reader.sb.set_uuid + reader.sb.image_uuid, "extra" + SET_UUID + IMAGE_UUID);
  EXPECT_EQ(reader.sb.codec, static_cast<uint32_t>(COMPR_ZSTD));
  ASSERT_EQ(reader.extents.size(), 2u);
  EXPECT_EQ(reader.extents[0].offset, 1u << 20);
}

// Every way a write can fail leaves nothing in the pool, neither the final nor a
// temporary name, and the connection's close and remove then succeed (the upload's
// residual-file guard).
TEST(Image_Writer, FailedWriteLeavesNothing) {
  Pool_Env env;
  test::Log_Capture log;
  const std::string data = pool_test::make_content(pool_test::MIXED, 1 << 20);
  struct Case {
    const char* name;
    int fail_source_at;   // block index whose read fails, -1 none
    int stop_progress_at;  // block index after which progress answers false, -1 none
    bool short_read;
  } cases[] = {
      {"source fails", 3, -1, false},
      {"source short", 2, -1, true},
      {"progress stops", -1, 4, false},
      {"first block fails", 0, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), codec_options(COMPR_AUTO)));
    ASSERT_TRUE(io.open("vm/img", Client_IO_Base::MODE_WRITE, 0, 0));
    Image_Block_Writer writer(&io);
    ASSERT_TRUE(writer.init(512, 65536, 1, 0));
    ASSERT_TRUE(writer.write_superblock(SET_UUID, IMAGE_UUID, 0, nullptr, 0));
    writer.add_block(0, data.size());
    int progressed = 0;
    const bool ok = writer.write_blocks(
        [&](unsigned long) { return ++progressed <= c.stop_progress_at || c.stop_progress_at < 0; },
        [&](const char*& p, ssize_t size, ACE_OFF_T off) -> ssize_t {
          if (off / 65536 == c.fail_source_at) return c.short_read ? size - 1 : -1;
          p = data.data() + off;
          return size;
        });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(io.close());
    EXPECT_TRUE(io.remove("vm/img"));
    EXPECT_EQ(pool_test::list_dir(env.root() + "/vm"), "");
  }
}

// A file that has a superblock but was closed before its blocks is not published.
TEST(Image_Writer, CloseBeforeTheTrailerDiscardsTheFile) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), {}));
  ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  Image_Block_Writer writer(&io);
  ASSERT_TRUE(writer.init(512, 4096, 1, 0));
  ASSERT_TRUE(writer.write_superblock(SET_UUID, IMAGE_UUID, 0, nullptr, 0));
  EXPECT_FALSE(io.close());
  EXPECT_NE(std::string(io.error()), "");
  EXPECT_EQ(pool_test::list_dir(env.root()), "");
  EXPECT_TRUE(io.close());
}

TEST(Image_Writer, RefusesBadGeometryAndOrder) {
  Pool_Env env;
  test::Log_Capture log;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), {}));
  ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  struct Case {
    size_t sector, block;
    unsigned version, flags;
  } bad[] = {{0, 4096, 1, 0},   {256, 4096, 1, 0}, {512, 0, 1, 0},       {512, 1000, 1, 0},
             {512, 4096, 2, 0}, {512, 4096, 1, 1}, {512, 128 << 20, 1, 0}, {768, 1536, 1, 0}};
  for (const Case& c : bad) {
    Image_Block_Writer writer(&io);
    EXPECT_FALSE(writer.init(c.sector, c.block, c.version, c.flags)) << c.sector << " " << c.block;
  }
  Image_Block_Writer writer(&io);
  EXPECT_FALSE(writer.write_superblock(SET_UUID, IMAGE_UUID, 0, nullptr, 0));  // before init
  ASSERT_TRUE(writer.init(512, 4096, 1, 0));
  EXPECT_FALSE(writer.write_superblock("short", IMAGE_UUID, 0, nullptr, 0));
  EXPECT_FALSE(writer.write_blocks(nullptr, nullptr));  // before the superblock
  Image_Block_Writer without_io(nullptr);
  EXPECT_FALSE(without_io.init(512, 4096, 1, 0));
}

TEST(Image_Writer, EmptyImageRoundTrips) {
  Pool_Env env;
  ASSERT_TRUE(write_image(env, "empty", std::string(), 4096, codec_options(COMPR_ZSTD)).ok ==
              false);  // a zero-length extent is refused
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), {}));
  ASSERT_TRUE(io.open("none", Client_IO_Base::MODE_WRITE, 0, 0));
  Image_Block_Writer writer(&io);
  ASSERT_TRUE(writer.init(512, 4096, 1, 0));
  ASSERT_TRUE(writer.write_superblock(SET_UUID, IMAGE_UUID, 0, nullptr, 0));
  ASSERT_TRUE(writer.write_blocks(nullptr, [](const char*&, ssize_t, ACE_OFF_T) { return -1; }));
  ASSERT_TRUE(io.close());
  int blocks = 0;
  ASSERT_TRUE(io.open("none", Client_IO_Base::MODE_READ, 0, 0));
  Image_Block_Reader reader;
  EXPECT_TRUE(reader.read_blocks_align(io, [&](const char*, size_t, int64_t) { return ++blocks, true; }, 4096));
  EXPECT_EQ(blocks, 0);
}

// A callback that throws ends the call on the caller's thread; the helper threads are
// joined first and nothing is published.
TEST(Image_Writer, ThrowingCallbacksReachTheCaller) {
  Pool_Env env;
  test::Log_Capture log;
  const std::string data = pool_test::make_content(pool_test::TEXT, 1 << 20);
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), codec_options(COMPR_ZSTD)));
  ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  Image_Block_Writer writer(&io);
  ASSERT_TRUE(writer.init(512, 65536, 1, 0));
  ASSERT_TRUE(writer.write_superblock(SET_UUID, IMAGE_UUID, 0, nullptr, 0));
  writer.add_block(0, data.size());
  EXPECT_THROW(writer.write_blocks(nullptr,
                                   [&](const char*& p, ssize_t n, ACE_OFF_T off) -> ssize_t {
                                     if (off >= 8 * 65536) throw std::runtime_error("source");
                                     p = data.data() + off;
                                     return n;
                                   }),
               std::runtime_error);
  EXPECT_FALSE(io.close());
  EXPECT_EQ(pool_test::list_dir(env.root()), "");

  ASSERT_TRUE(write_image(env, "img", data, 65536, codec_options(COMPR_ZSTD)).ok);
  ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_READ, 0, 0));
  Image_Block_Reader reader;
  EXPECT_THROW(reader.read_blocks_align(
                   io, [](const char*, size_t, int64_t off) -> bool {
                     if (off >= 3 * 65536) throw std::runtime_error("callback");
                     return true;
                   },
                   65536),
               std::runtime_error);
}

}  // namespace
