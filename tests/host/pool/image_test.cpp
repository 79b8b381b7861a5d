// The pool's images end to end: written by the image writer, read back and verified by
// the block reader, on real files of a temporary pool.
#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "pool/image_format.h"
#include "pool/image_writer.h"
#include "pool_test_env.h"
#include "support/log_capture.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace pool_test {
namespace {

using Progress = yolt::Image_Writer::Progress_Handler;
const std::string SET_ID(16, 'S'), IMAGE_ID(16, 'I');

// The url of `folder` below the pool ("": the pool's own folder).
std::string url_of(const Pool_Env& env, const std::string& folder) {
  return env.url() + (folder.empty() ? "" : "/" + folder);
}

// A writer on a fresh connection (to `through`, a folder below the pool) with `name` open
// and its superblock written.
struct Open_Image {
  Open_Image(const Pool_Env& env, Compression_Method codec, size_t block, char image_id = 'I',
             const std::string& extra = "", const std::string& name = "img",
             const std::string& through = "")
      : block(block) {
    Client_IO_Base::Options opts;
    std::tie(opts.compression_method, opts.compression_level) = std::make_tuple(codec, 3);
    EXPECT_TRUE(io.connect(url_of(env, through), opts) &&
                io.open(name, Client_IO_Base::MODE_WRITE, 0, 0));
    EXPECT_TRUE(writer.init(512, block, 1, 0) &&
                writer.write_superblock(SET_ID, std::string(16, image_id), 0,
                                        extra.data(), extra.size()));
  }
  // Writes `data` as two extents, the one from its middle block on first (one extent when
  // it is shorter than two blocks); true when written and published.
  bool write(const std::string& data, const Progress& progress = nullptr) {
    const size_t half = data.size() / 2 / block * block;
    if (half > 0) writer.add_block(half, data.size() - half);
    writer.add_block(0, half > 0 ? half : data.size());
    const bool ok = writer.write_blocks(progress, [&](const char*& p, ssize_t n, ACE_OFF_T off) {
      p = data.data() + off;
      return n;
    });
    return io.close() && ok;
  }
  size_t block;
  Client_IO_Ex io;
  Image_Block_Writer writer{&io};
};

// A reader that notes what its hooks see and says no at hook `refuse_at` (0: the
// superblock, 1: its extra data, 2: the extent table).
struct Noting_Reader : Image_Block_Reader {
  explicit Noting_Reader(int refuse = -1) : refuse_at(refuse) {}
  bool handle_superblock(const Image_Superblock& s) override {
    return note(s.set_uuid + s.image_uuid + std::to_string(s.codec), 0);
  }
  bool handle_superblock_extra(const char* d, size_t n) override { return note({d, n}, 1); }
  bool handle_descriptor_header(const std::vector<Image_Extent>& e) override {
    return note(std::to_string(e.size()) + "@" + std::to_string(e.at(0).offset), 2);
  }
  bool note(const std::string& seen, int hook) {
    text += seen;
    return refuse_at != hook;
  }
  int refuse_at;
  std::string text;
};

using Each_Block = Image_Block_Reader::Block_Callback;
const Each_Block ANY = [](const char*, size_t, int64_t) { return true; };

// Reads `name` with `reader` (on `threads` workers, 0: its default) through a connection
// to `through`, handing each block to `each`; true when the reader accepted the image.
bool read_image(const Pool_Env& env, size_t block, const Each_Block& each = ANY, size_t threads = 0,
                Image_Block_Reader&& reader = Image_Block_Reader(),
                const std::string& name = "img", const std::string& through = "") {
  if (threads != 0) reader.set_threads(threads);
  Client_IO_Ex io;
  return io.connect(url_of(env, through), {}) && io.open(name, Client_IO_Base::MODE_READ, 0, 0) &&
         reader.read_blocks_align(io, each, block);
}

// Puts each block at its offset in `out` (emptied first).
Each_Block into(std::string& out) {
  out.clear();
  return [&out](const char* p, size_t n, int64_t off) {
    if (out.size() < static_cast<size_t>(off) + n) out.resize(off + n);
    out.replace(off, n, p, n);
    return true;
  };
}

// Every codec and content reads back byte for byte, from two extents, with runs of blocks
// longer than a batch of the writer and of the reader, blocks larger than a batch and a
// short last block; the zero third of MIXED is never stored and the codecs shrink the
// rest; the reader's hooks see the superblock's identity, codec and extra data and the
// extent table.
TEST(Image_Writer, RoundTripsEveryCodecAndContent) {
  const std::tuple<Compression_Method, Content, size_t, size_t, double> cases[] = {
      {COMPR_NONE, MIXED, 3 << 20, 131072, 0.7}, {COMPR_AUTO, MIXED, 3 << 20, 131072, 0.45},
      {COMPR_LZOP, MIXED, 3 << 20, 131072, 0.55}, {COMPR_ZSTD, RANDOM, 1 << 20, 131072, 1.01},
      {COMPR_ZSTD, ZERO, 1 << 20, 4096, 0.1}, {COMPR_NONE, TEXT, 5000, 512, 1.5},
      {COMPR_ZSTD, MIXED, (5 << 20) + 777, 1 << 20, 0.5}};
  for (const auto& c : cases) {
    const auto& [codec, content, size, block, ratio] = c;
    SCOPED_TRACE(testing::Message() << codec << " " << content << " " << size);
    Pool_Env env;
    const std::string data = make_content(content, size, 7);
    Open_Image image(env, codec, block, 'I', "extra");
    image.writer.set_threads(3);
    unsigned long reported = 0;
    const Progress count = [&reported](unsigned long n) {
      reported += n;
      return true;
    };
    ASSERT_TRUE(image.write(data, count));
    EXPECT_EQ(reported, data.size());
    EXPECT_LT(read_file(env.root() + "/img").size(), data.size() * ratio);
    std::string back;
    Noting_Reader seen;
    ASSERT_TRUE(read_image(env, block, into(back), 0, std::move(seen)));
    EXPECT_TRUE(back == data);
    const size_t half = data.size() / 2 / block * block;
    EXPECT_EQ(seen.text, SET_ID + IMAGE_ID +
                             std::to_string(codec == COMPR_AUTO ? COMPR_ZSTD : codec) + "extra" +
                             (half > 0 ? "2@" + std::to_string(half) : "1@0"));
  }
}

// Every way a write can fail leaves nothing in the pool, neither the final nor a
// temporary name; the connection's close then succeeds, except for an image closed
// before its trailer, whose close reports the failure.
TEST(Image_Writer, FailedWriteLeavesNothing) {
  Pool_Env env;
  test::Log_Capture log;
  const std::string data = make_content(MIXED, 1 << 20);
  // {what, the block whose read fails (-1 none), how: 'f' fail, 's' short read, 't' throw,
  // 'c' close first}
  const struct { const char* name; int fail_at; char how; } cases[] = {
      {"source fails", 3, 'f'}, {"source short", 2, 's'}, {"first block fails", 0, 'f'},
      {"source throws", 8, 't'}, {"closed before the trailer", -1, 'c'}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Open_Image image(env, COMPR_AUTO, 65536);
    image.writer.add_block(0, data.size());
    auto write = [&] {
      return image.writer.write_blocks(
          nullptr, [&](const char*& p, ssize_t size, ACE_OFF_T off) -> ssize_t {
            p = data.data() + off;
            if (off / 65536 != c.fail_at) return size;
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
    EXPECT_EQ(list_dir(env.root()), "");
  }
}

// Bad geometry, a short identity, steps out of order and an empty extent are refused, and
// the file closed after them is not published; an image without extents is whole and
// reads back as no blocks; offsets past 4 GiB are kept whole.
TEST(Image_Writer, RefusesBadGeometryOrderAndEmptyExtents) {
  Pool_Env env;
  test::Log_Capture log;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), {}) && io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  const size_t bad[][4] = {{0, 4096, 1, 0}, {256, 4096, 1, 0}, {512, 0, 1, 0}, {512, 1000, 1, 0},
      {512, 4096, 2, 0}, {512, 4096, 1, 1}, {512, 128 << 20, 1, 0}, {768, 1536, 1, 0}};
  for (const auto& g : bad)
    EXPECT_FALSE(Image_Block_Writer(&io).init(g[0], g[1], g[2], g[3])) << g[0] << " " << g[1];
  // A file handed to an image writer is published only with its trailer.
  EXPECT_FALSE(io.close());
  EXPECT_EQ(list_dir(env.root()), "");
  ASSERT_TRUE(io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
  Image_Block_Writer writer(&io);
  EXPECT_FALSE(writer.write_superblock(SET_ID, IMAGE_ID, 0, nullptr, 0));
  ASSERT_TRUE(writer.init(512, 4096, 1, 0));
  EXPECT_FALSE(writer.write_superblock("short", IMAGE_ID, 0, nullptr, 0));
  EXPECT_FALSE(writer.write_blocks(nullptr, nullptr));  // before the superblock
  writer.add_block(1ull << 40, 4096);
  EXPECT_EQ(writer.blocks().at(0).offset, 1ull << 40);
  EXPECT_FALSE(io.close());
  EXPECT_EQ(list_dir(env.root()), "");
  EXPECT_FALSE(Open_Image(env, COMPR_ZSTD, 4096).write(""));  // a zero-length extent
  Open_Image none(env, COMPR_ZSTD, 4096);
  auto no_source = [](const char*&, ssize_t, ACE_OFF_T) { return -1; };
  ASSERT_TRUE(none.writer.write_blocks(nullptr, no_source) && none.io.close());
  std::string got = "x";
  EXPECT_TRUE(read_image(env, 4096, into(got)) && got.empty());
}

constexpr size_t BLOCK = 4096;

// An image as images were written before they carried their name: MIXED content of
// 6 blocks and 1000 bytes, seed 5, zstd, written as "img" by Open_Image.
std::string unnamed_image_path() {
  return test::data_dir() + "/pool-image/unnamed-zstd.img";
}

// Writes "img": zero, random and text blocks, a short last block (7 blocks by default);
// returns the file's bytes.
std::string make_image(const Pool_Env& env, Compression_Method codec, std::string& data,
                       size_t size = 6 * BLOCK + 1000, char image_id = 'I') {
  data = make_content(MIXED, size, 5);
  EXPECT_TRUE(Open_Image(env, codec, BLOCK, image_id, "xy").write(data));
  return read_file(env.root() + "/img");
}

class Damage : public ::testing::TestWithParam<Compression_Method> {};

// The intact image reads back; a flipped bit anywhere, a cut anywhere (every byte of the
// head and the tail, a sample between) and data after the trailer are refused, with every
// codec.
TEST_P(Damage, EveryBitFlipAndTruncationIsRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data, got;
  const std::string image = make_image(env, GetParam(), data);
  ASSERT_TRUE(read_image(env, BLOCK, into(got), 1));
  EXPECT_TRUE(got == data);
  const std::string path = env.root() + "/img";
  std::string accepted;  // "flip@<byte>" and "cut@<size>" of the damage read as whole
  for (size_t pos = 0; pos < image.size();
       pos += (pos < 1500 || pos + 300 > image.size()) ? 1 : 11) {
    std::string bad = image;
    bad[pos] = static_cast<char>(bad[pos] ^ (1 << (pos % 8)));
    write_file(path, bad);
    if (read_image(env, BLOCK, ANY, 1)) accepted += " flip@" + std::to_string(pos);
    write_file(path, image.substr(0, pos));
    if (read_image(env, BLOCK, ANY, 1)) accepted += " cut@" + std::to_string(pos);
  }
  EXPECT_EQ(accepted.substr(0, 100), "") << "of " << image.size() << " bytes";
  write_file(path, image + '\0');
  EXPECT_FALSE(read_image(env, BLOCK, ANY, 1)) << "data after the trailer accepted";
  // Damage far into a long image (read and verified in many batches) is found, and what
  // was handed out before is an in-order run of blocks that lie before it.
  std::remove(path.c_str());
  const std::string long_image = make_image(env, GetParam(), data, 300 * BLOCK);
  for (double where : {0.3, 0.5, 0.7, 0.95}) {
    SCOPED_TRACE(where);
    const size_t pos = static_cast<size_t>(long_image.size() * where);
    std::string bad = long_image;
    bad[pos] = static_cast<char>(bad[pos] ^ 0x10);
    write_file(path, bad);
    // The second extent comes first.
    int64_t next = data.size() / 2 / BLOCK * BLOCK, end = data.size();
    bool in_order = true;
    EXPECT_FALSE(read_image(env, BLOCK, [&](const char* p, size_t n, int64_t off) {
      in_order = in_order && (off == next || (off == 0 && next == end)) &&
                 data.compare(off, n, p, n) == 0;
      next = off + static_cast<int64_t>(n);
      return true;
    }, 3));
    EXPECT_TRUE(in_order && next < end);
    write_file(path, long_image.substr(0, pos));
    EXPECT_FALSE(read_image(env, BLOCK, ANY, 3));
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, Damage, ::testing::Values(COMPR_NONE, COMPR_LZOP, COMPR_ZSTD));

// A trailer, checksum and all, that counts one record more or less than the image holds.
TEST(Image_Block_Reader, TrailerCountingOtherRecordsIsRefused) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data, why;
  const std::string image = make_image(env, COMPR_ZSTD, data);
  const size_t at = image.size() - pool_image::TRAILER_SIZE;
  Image_Trailer trailer;
  ASSERT_TRUE(pool_image::decode_trailer(image.data() + at, trailer, why)) << why;
  for (uint64_t records : {trailer.records + 1, trailer.records - 1}) {
    Image_Trailer recounted = trailer;
    recounted.records = records;
    std::string bad = image;
    pool_image::encode_trailer(recounted, &bad[at]);
    write_file(env.root() + "/img", bad);
    EXPECT_FALSE(read_image(env, BLOCK)) << records << " records of " << trailer.records;
  }
}

// Refused before any block: the head of one image (its superblock, or with its extent
// table) in front of the body of another, a block size not the image's (0 asks for the
// image's own, and reads it), and a hook that says no. A callback's no stops the read; one that throws ends it on the caller's
// thread, the helpers joined.
TEST(Image_Block_Reader, RefusedBeforeAnyBlock) {
  Pool_Env env;
  test::Log_Capture log;
  std::string data, got;
  const std::string a = make_image(env, COMPR_ZSTD, data, 6 * BLOCK + 1000, 'A');
  std::remove((env.root() + "/img").c_str());
  const std::string b = make_image(env, COMPR_ZSTD, data, 6 * BLOCK + 1000, 'B');
  for (size_t cut : {pool_image::SUPERBLOCK_SIZE,
                     pool_image::SUPERBLOCK_SIZE + 2 + pool_image::extent_table_size(2)}) {
    write_file(env.root() + "/img", a.substr(0, cut) + b.substr(cut));
    EXPECT_FALSE(read_image(env, BLOCK, into(got)) || got != "") << cut;
  }
  write_file(env.root() + "/img", b);
  const std::pair<size_t, bool> sizes[] = {
      {0, true}, {BLOCK / 2, false}, {BLOCK * 2, false}, {size_t(1) << 40, false}};
  for (const auto& [size, reads] : sizes) {
    EXPECT_EQ(read_image(env, size, into(got)), reads) << size;
    EXPECT_TRUE(got == (reads ? data : "")) << size;
  }
  EXPECT_TRUE(log.contains("block size", LM_ERROR));
  for (int at = 0; at < 3; ++at)
    EXPECT_FALSE(read_image(env, BLOCK, into(got), 0, Noting_Reader(at)) || got != "") << at;
  int blocks = 0;
  EXPECT_FALSE(read_image(env, BLOCK, [&](const char*, size_t, int64_t) { return ++blocks < 2; }));
  EXPECT_EQ(blocks, 2);
  EXPECT_THROW(read_image(env, BLOCK, [](const char*, size_t, int64_t off) -> bool {
    if (off >= 3 * 4096) throw std::runtime_error("callback");
    return true;
  }), std::runtime_error);
}

// Every image of a backup set carries the set's identity; only its name tells the
// images apart. An image read under another name than its own (files swapped, copied over
// one another, or the head of one in front of the body of another) is refused before a
// single block is handed out, and the untouched images still read, through a connection
// to any folder of the pool. An image named below the folder it was written through
// reads where its name ends its path at a folder. Images written before images carried
// their name read under any name.
TEST(Image_Block_Reader, ReadsAnImageOnlyUnderItsOwnName) {
  using Files = std::map<std::string, std::string>;  // path in the pool -> bytes
  // Every file moved from below `from` to below `to`.
  const auto moved = [](const std::string& from, const std::string& to) {
    return [=](Files& f) {
      Files out;
      for (auto& [path, bytes] : f) out[to + path.substr(from.size())] = bytes;
      f = out;
    };
  };
  // `path` below `folder`, both below the pool.
  const auto below = [](const std::string& path, const std::string& folder) {
    return folder.empty() ? path : path.substr(folder.size() + 1);
  };
  const size_t head = pool_image::SUPERBLOCK_SIZE + pool_image::extent_table_size(2);
  const std::string unnamed = read_file(unnamed_image_path());
  ASSERT_NE(unnamed, "") << unnamed_image_path();
  const struct {
    const char* change;
    std::function<void(Files&)> apply;
    std::string reads;  // each file: the content it reads back as, or "refused"
    std::string folder = "";           // below the pool: where i-a/root ... are written
    std::string written_through = "";  // below the pool: the writer's connection
    std::string read_through = "";     // below the pool: the reader's connection
  } cases[] = {
      {"none", [](Files&) {}, "i-a/data:B i-a/root:A i-b/data:C"},
      {"i-a's root and data images swapped",
       [](Files& f) { std::swap(f["i-a/root"], f["i-a/data"]); },
       "i-a/data:refused i-a/root:refused i-b/data:C"},
      {"i-b's data image copied over i-a's",
       [](Files& f) { f["i-a/data"] = f["i-b/data"]; }, "i-a/data:refused i-a/root:A i-b/data:C"},
      {"i-a's root image headed onto i-a's data records",
       [&](Files& f) {
         f["i-a/data"] = f["i-a/root"].substr(0, head) + f["i-a/data"].substr(head);
       },
       "i-a/data:refused i-a/root:A i-b/data:C"},
      {"read under a path spelt another way",
       [](Files& f) { f["./i-a//root"] = f["i-a/root"]; },
       "./i-a//root:A i-a/data:B i-a/root:A i-b/data:C"},
      {"an image written before images carried their name, under two names",
       [&](Files& f) { f["i-a/root"] = f["old/x"] = unnamed; },
       "i-a/data:B i-a/root:A i-b/data:C old/x:A"},
      {"written through the backup's folder, read through the pool's",
       [](Files&) {}, "host/def/job/i-a/data:B host/def/job/i-a/root:A host/def/job/i-b/data:C",
       "host/def/job", "host/def", ""},
      {"written and read through the backup's folder",
       [](Files&) {}, "host/def/job/i-a/data:B host/def/job/i-a/root:A host/def/job/i-b/data:C",
       "host/def/job", "host/def", "host/def"},
      {"written through the backup's folder, read through a deeper one",
       [](Files&) {}, "host/def/job/i-a/data:B host/def/job/i-a/root:A host/def/job/i-b/data:C",
       "host/def/job", "host/def", "host/def/job"},
      {"the backup's folder renamed", moved("host/def/", "host/other/"),
       "host/other/job/i-a/data:refused host/other/job/i-a/root:refused "
       "host/other/job/i-b/data:refused",
       "host/def/job", "host/def", "host/other"},
      {"named below the backup's folder, as images once were; a copy where the name ends "
       "inside a folder's name",
       [&](Files& f) {
         moved("", "host/def/")(f);
         f["host/def/xjob/i-b/data"] = f["host/def/job/i-b/data"];
       },
       "host/def/job/i-a/data:B host/def/job/i-a/root:A host/def/job/i-b/data:C "
       "host/def/xjob/i-b/data:refused",
       "job", "", ""},
  };
  test::Log_Capture log;
  const std::string a = make_content(MIXED, 6 * BLOCK + 1000, 5),
                    b = make_content(TEXT, 6 * BLOCK + 1000, 6),
                    c = make_content(RANDOM, 6 * BLOCK + 1000, 7);
  for (const auto& row : cases) {
    SCOPED_TRACE(row.change);
    Pool_Env env;
    const std::string in = row.folder.empty() ? "" : row.folder + "/";
    Files files = {{in + "i-a/root", a}, {in + "i-a/data", b}, {in + "i-b/data", c}};
    for (auto& [name, bytes] : files) {
      ASSERT_TRUE(Open_Image(env, COMPR_ZSTD, BLOCK, 'I', "", below(name, row.written_through),
                             row.written_through).write(bytes));
      bytes = read_file(env.root() + "/" + name);
    }
    row.apply(files);
    std::string reads;
    for (const auto& [name, bytes] : files) {
      const std::filesystem::path path = env.root() + "/" + name;
      std::filesystem::create_directories(path.parent_path());
      write_file(path, bytes);
      std::string got = "-";
      const bool read = read_image(env, BLOCK, into(got), 0, Image_Block_Reader(),
                                   below(name, row.read_through), row.read_through);
      const char* as = !read && got.empty() ? "refused"
                       : got == a            ? "A"
                       : got == b            ? "B"
                       : got == c            ? "C"
                                             : "other bytes";
      reads += (reads.empty() ? "" : " ") + name + ":" + as;
    }
    EXPECT_EQ(reads, row.reads);
  }
  EXPECT_TRUE(log.contains("the image at \"i-a/data\" was written as \"i-a/root\"", LM_ERROR));
  EXPECT_TRUE(log.contains("the image at \"host/other/job/i-a/root\" was written as "
                           "\"host/def/job/i-a/root\"", LM_ERROR));
  // A name longer than the superblock's text is told apart by its whole length and hash.
  Pool_Env env;
  const std::string dir = std::string(200, 'd') + "/", own = dir + std::string(230, 'f') + "1",
                    copy = dir + std::string(230, 'f') + "2";
  ASSERT_TRUE(Open_Image(env, COMPR_ZSTD, BLOCK, 'I', "", own).write(a));
  write_file(env.root() + "/" + copy, read_file(env.root() + "/" + own));
  EXPECT_TRUE(read_image(env, BLOCK, ANY, 0, Image_Block_Reader(), own));
  EXPECT_FALSE(read_image(env, BLOCK, ANY, 0, Image_Block_Reader(), copy));
  EXPECT_TRUE(log.contains(own.substr(0, pool_image::MAX_NAME_TEXT) + "...\": it is another"));
}

// Zero detection decides which blocks are stored as a bare header, so a single non-zero
// byte anywhere (first bytes, across a cache line, in the tail) must be seen.
TEST(Image_Format, AllZeroSeesEveryNonZeroByte) {
  for (size_t len : {0, 1, 63, 64, 65, 128, 200, 4096, 4096 + 37}) {
    std::string buf(len + 1, '\0');
    const char* data = buf.data() + 1;  // also off the natural alignment
    EXPECT_TRUE(pool_image::all_zero(data, len)) << len;
    for (size_t pos = 0; pos < len; ++pos) {
      buf[pos + 1] = static_cast<char>(1 << (pos % 8));
      EXPECT_FALSE(pool_image::all_zero(data, len)) << len << " " << pos;
      buf[pos + 1] = 0;
    }
    buf[0] = 1;  // a byte before the range does not count
    EXPECT_TRUE(pool_image::all_zero(data, len)) << len;
  }
}

}  // namespace
}  // namespace pool_test
