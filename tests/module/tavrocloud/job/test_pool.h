// A storage pool for the restore tests: a temporary directory registered in the test
// binary's pool registry, into which images are written from test data as the backup
// writes them.
#ifndef TESTS_MODULE_TAVROCLOUD_JOB_TEST_POOL_H
#define TESTS_MODULE_TAVROCLOUD_JOB_TEST_POOL_H

#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/pool_registry.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace test {

class Test_Pool {
 public:
  explicit Test_Pool(const std::string& uuid) : dir_("restore-pool-") {
    Pool_Record rec;
    rec.uuid = rec.name = uuid;
    rec.url = url();
    EXPECT_TRUE(Pool_Registry().add(rec));
  }
  std::string url() const { return "file://" + dir_.path(); }
  std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

  // Writes `data` as the image `name` with `block` bytes per block.
  void write_image(const std::string& name, const std::string& data, size_t block) {
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

  static std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  Temp_Dir dir_;
};

}  // namespace test

#endif  // TESTS_MODULE_TAVROCLOUD_JOB_TEST_POOL_H
