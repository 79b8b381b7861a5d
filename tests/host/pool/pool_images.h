// Pool images for the image writer and reader tests: one written from a string of
// volume bytes, and one read back into a string, by a reader that may note its hooks.
#ifndef TESTS_HOST_POOL_POOL_IMAGES_H
#define TESTS_HOST_POOL_POOL_IMAGES_H

#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "pool_test_env.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace pool_test {

// A writer on a fresh connection with "img" open and its superblock written.
struct Open_Image {
  Open_Image(const Pool_Env& env, Compression_Method codec, size_t block, char image_id = 'I',
             const std::string& extra = "") {
    Client_IO_Base::Options opts;
    opts.compression_method = codec;
    opts.compression_level = 3;
    EXPECT_TRUE(io.connect(env.url(), opts) && io.open("img", Client_IO_Base::MODE_WRITE, 0, 0));
    EXPECT_TRUE(writer.init(512, block, 1, 0));
    EXPECT_TRUE(writer.write_superblock(std::string(16, 'S'), std::string(16, image_id), 0,
                                        extra.data(), extra.size()));
  }
  // Writes `data` as one extent at offset 0; true when written and published.
  bool write(const std::string& data, const yolt::Image_Writer::Progress_Handler& progress = nullptr) {
    writer.add_block(0, data.size());
    const bool ok = writer.write_blocks(progress, [&](const char*& p, ssize_t n, ACE_OFF_T off) {
      p = data.data() + off;
      return n;
    });
    return io.close() && ok;
  }
  Client_IO_Ex io;
  Image_Block_Writer writer{&io};
};

// A reader that notes what its hooks see and says no at hook `refuse_at` (0: the
// superblock, 1: its extra data, 2: the extent table).
struct Noting_Reader : Image_Block_Reader {
  explicit Noting_Reader(int refuse = -1) : refuse_at(refuse) {}
  bool handle_superblock(const Image_Superblock& s) override {
    return text += s.set_uuid + s.image_uuid + std::to_string(s.codec), refuse_at != 0;
  }
  bool handle_superblock_extra(const char* d, size_t n) override { return text.append(d, n), refuse_at != 1; }
  bool handle_descriptor_header(const std::vector<Image_Extent>& e) override {
    return text += std::to_string(e.size()) + "@" + std::to_string(e.at(0).offset), refuse_at != 2;
  }
  int refuse_at;
  std::string text;
};

// Reads "img" with `reader` (on `threads` workers, 0: its default) into `out`, each
// block at its offset; true when the reader accepted the image.
inline bool read_image(const Pool_Env& env, size_t block, std::string* out = nullptr,
                       size_t threads = 0, Image_Block_Reader&& reader = Image_Block_Reader()) {
  if (threads != 0) reader.set_threads(threads);
  Client_IO_Ex io;
  if (!io.connect(env.url(), {}) || !io.open("img", Client_IO_Base::MODE_READ, 0, 0)) return false;
  std::string got;
  const bool ok = reader.read_blocks_align(
      io,
      [&](const char* p, size_t n, int64_t off) {
        if (got.size() < static_cast<size_t>(off) + n) got.resize(off + n);
        got.replace(off, n, p, n);
        return true;
      },
      block);
  if (out != nullptr) *out = got;
  return ok;
}

}  // namespace pool_test

#endif  // TESTS_HOST_POOL_POOL_IMAGES_H
