#include "pool/fixed_block_file.h"

#include "pool_test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>

namespace {

// Reads hand out whole blocks (shorter at the end, none beyond) from any offset, with and
// without read-ahead, one after the other out of one buffer; bad seeks and opens are
// refused with their errno.
TEST(Fixed_Block_File, ReaderHandsOutWholeBlocksAndRefuses) {
  pool_test::Pool_Env env;
  const std::string path = env.dir() + "/dev";
  const std::string data = pool_test::make_content(pool_test::RANDOM, 3 * 4096 + 100);
  pool_test::write_file(path, data);
  Fixed_Block_File_Reader reader;
  const char *p = nullptr, *first = nullptr;
  size_t len = 0;
  EXPECT_TRUE(!reader.read(p, len) && reader.last_error() == EBADF);
  for (const bool ahead : {true, false}) {
    File_Options options(4096);
    options.read_ahead = ahead;
    ASSERT_TRUE(reader.open(path, O_RDONLY | O_CLOEXEC, options, 0640, false));
    for (ACE_OFF_T at : {4096, 0, 3 * 4096, 10 * 4096, 100}) {
      ASSERT_TRUE(reader.seek(at, SEEK_SET) == at && reader.read(p, len));
      EXPECT_EQ(std::string(p, len), data.substr(std::min<size_t>(at, data.size()), 4096)) << at;
    }
  }
  ASSERT_TRUE(reader.seek(0, SEEK_SET) == 0 && reader.read(first, len) && reader.read(p, len));
  EXPECT_TRUE(first == p && std::string(p, len) == data.substr(4096, 4096));
  EXPECT_EQ(reader.seek(0, SEEK_END), static_cast<ACE_OFF_T>(data.size()));
  EXPECT_TRUE(reader.seek(-1, SEEK_SET) == -1 && reader.last_error() == EINVAL);
  EXPECT_TRUE(reader.close() && reader.close());
  // {file, block size, must be a device, errno}
  const std::tuple<std::string, size_t, bool, int> refused[] = {
      {path, 0, false, EINVAL}, {env.dir() + "/missing", 4096, false, ENOENT},
      {path, 4096, true, ENODEV}};
  for (const auto& [file, block, device, err] : refused) {
    EXPECT_FALSE(reader.open(file, O_CLOEXEC, File_Options(block), 0640, device));
    EXPECT_EQ(reader.last_error(), err);
  }
}

// Writes land at their offsets; a missing file is created only when asked, kept without
// truncation and emptied with it; a device is never truncated.
TEST(Fixed_Block_File, WriterWritesAtOffsetsAndTruncatesOnlyRegularFiles) {
  pool_test::Pool_Env env;
  const std::string path = env.dir() + "/target";
  Fixed_Block_File_Writer writer;
  EXPECT_FALSE(writer.open(path, O_CLOEXEC, false, 0640, File_Options(4096)));
  EXPECT_TRUE(writer.last_error() == ENOENT && !std::filesystem::exists(path));
  File_Options synced(4096);
  std::tie(synced.sync_close, synced.sync) = std::make_tuple(+File_Options::SYNC_CLOSE_SYNC, 8192);
  ASSERT_TRUE(writer.open(path, O_CLOEXEC | O_CREAT, false, 0640, synced));
  ASSERT_TRUE(writer.seek(8192, SEEK_SET) == 8192 && writer.write("later", 5, false));
  ASSERT_TRUE(writer.seek(0, SEEK_SET) == 0 && writer.write("first", 5, true) && writer.close());
  ASSERT_TRUE(writer.open(path, O_CLOEXEC, false, 0640, File_Options(4096)));
  ASSERT_TRUE(writer.write("F", 1, false) && writer.close());
  EXPECT_EQ(pool_test::read_file(path), "First" + std::string(8187, '\0') + "later");
  ASSERT_TRUE(writer.open(path, O_CLOEXEC, true, 0640, File_Options(4096)) && writer.close());
  EXPECT_EQ(pool_test::read_file(path), "");
  ASSERT_TRUE(writer.open("/dev/null", O_CLOEXEC, true, 0640, File_Options(4096)));
  EXPECT_TRUE(writer.write("x", 1, false) && writer.close());
  EXPECT_TRUE(!writer.write("x", 1, false) && writer.last_error() == EBADF);
}

}  // namespace
