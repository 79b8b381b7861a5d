#include "pool/fixed_block_file.h"

#include "pool_test_env.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using pool_test::Pool_Env;

TEST(Fixed_Block_File, ReaderHandsOutWholeBlocks) {
  Pool_Env env;
  const std::string path = env.dir() + "/dev";
  const std::string data = pool_test::make_content(pool_test::RANDOM, 3 * 4096 + 100);
  pool_test::write_file(path, data);
  Fixed_Block_File_Reader reader;
  // With read-ahead the kernel is asked to fetch ahead; seeks back and forth still read
  // what is there.
  for (const bool ahead : {false, true}) {
    File_Options options(4096);
    options.read_ahead = ahead;
    ASSERT_TRUE(reader.open(path, O_RDONLY | O_CLOEXEC, options, 0640, false));
    struct Case {
      ACE_OFF_T offset;
      size_t length;
    } cases[] = {{4096, 4096}, {0, 4096}, {3 * 4096, 100}, {10 * 4096, 0}, {100, 4096}};
    for (const Case& c : cases) {
      ASSERT_EQ(reader.seek(c.offset, SEEK_SET), c.offset);
      const char* p = nullptr;
      size_t len = 99;
      ASSERT_TRUE(reader.read(p, len));
      ASSERT_EQ(len, c.length) << c.offset << (ahead ? " with read-ahead" : "");
      if (len) {
        EXPECT_EQ(std::string(p, len), data.substr(c.offset, len));
      }
    }
  }
  // Reading on continues from where the last read ended.
  ASSERT_EQ(reader.seek(0, SEEK_SET), 0);
  const char* first = nullptr;
  size_t len = 0;
  ASSERT_TRUE(reader.read(first, len));
  const char* second = nullptr;
  ASSERT_TRUE(reader.read(second, len));
  EXPECT_EQ(first, second);  // one buffer, no copies
  EXPECT_EQ(std::string(second, len), data.substr(4096, 4096));
  EXPECT_EQ(reader.seek(0, SEEK_END), static_cast<ACE_OFF_T>(data.size()));
  EXPECT_EQ(reader.seek(-1, SEEK_SET), -1);
  EXPECT_EQ(reader.last_error(), EINVAL);
  EXPECT_TRUE(reader.close());
  EXPECT_TRUE(reader.close());
}

TEST(Fixed_Block_File, ReaderRefusals) {
  Pool_Env env;
  const std::string path = env.dir() + "/file";
  pool_test::write_file(path, "data");
  Fixed_Block_File_Reader reader;
  EXPECT_FALSE(reader.open(env.dir() + "/missing", O_CLOEXEC, File_Options(4096), 0640, false));
  EXPECT_EQ(reader.last_error(), ENOENT);
  EXPECT_FALSE(reader.open(path, O_CLOEXEC, File_Options(4096), 0640, true));
  EXPECT_EQ(reader.last_error(), ENODEV);
  EXPECT_FALSE(reader.open(path, O_CLOEXEC, File_Options(0), 0640, false));
  const char* p = nullptr;
  size_t len = 0;
  EXPECT_FALSE(reader.read(p, len));
  EXPECT_EQ(reader.last_error(), EBADF);
}

TEST(Fixed_Block_File, WriterWritesAtOffsetsAndNeverCreatesUnasked) {
  Pool_Env env;
  const std::string path = env.dir() + "/target";
  Fixed_Block_File_Writer writer;
  EXPECT_FALSE(writer.open(path, O_CLOEXEC, false, 0640, File_Options(4096)));
  EXPECT_EQ(writer.last_error(), ENOENT);
  EXPECT_FALSE(pool_test::exists(path));
  File_Options synced(4096);
  synced.sync_close = File_Options::SYNC_CLOSE_SYNC;
  synced.sync = 8192;
  ASSERT_TRUE(writer.open(path, O_CLOEXEC | O_CREAT, false, 0640, synced));
  ASSERT_EQ(writer.seek(8192, SEEK_SET), 8192);
  ASSERT_TRUE(writer.write("later", 5, false));
  ASSERT_EQ(writer.seek(0, SEEK_SET), 0);
  ASSERT_TRUE(writer.write("first", 5, true));
  ASSERT_TRUE(writer.close());
  std::string expect(8197, '\0');
  expect.replace(0, 5, "first");
  expect.replace(8192, 5, "later");
  EXPECT_EQ(pool_test::read_file(path), expect);
  // Without truncation the rest of the file stays; with it a regular file is emptied.
  ASSERT_TRUE(writer.open(path, O_CLOEXEC, false, 0640, File_Options(4096)));
  ASSERT_TRUE(writer.write("FIRST", 5, false));
  ASSERT_TRUE(writer.close());
  EXPECT_EQ(pool_test::read_file(path).substr(0, 5), "FIRST");
  EXPECT_EQ(pool_test::read_file(path).size(), 8197u);
  ASSERT_TRUE(writer.open(path, O_CLOEXEC, true, 0640, File_Options(4096)));
  ASSERT_TRUE(writer.close());
  EXPECT_EQ(pool_test::read_file(path), "");
}

// Truncation is for regular files only: a device opened with it is written in place.
TEST(Fixed_Block_File, WriterNeverTruncatesADevice) {
  Fixed_Block_File_Writer writer;
  ASSERT_TRUE(writer.open("/dev/null", O_CLOEXEC, true, 0640, File_Options(4096)));
  EXPECT_TRUE(writer.write("x", 1, false));
  EXPECT_TRUE(writer.close());
  EXPECT_FALSE(writer.write("x", 1, false));
  EXPECT_EQ(writer.last_error(), EBADF);
}

TEST(Fixed_Block_File, CacheOptionsKeepTheData) {
  Pool_Env env;
  const std::string path = env.dir() + "/cached";
  const std::string data = pool_test::make_content(pool_test::TEXT, 64 * 1024);
  const ACE_OFF_T modes[] = {File_Options::DISCARD_CACHE_ON_CLOSE, 8192,
                             File_Options::DISCARD_CACHE_DIRECT_IO};
  for (ACE_OFF_T mode : modes) {
    SCOPED_TRACE(mode);
    File_Options opts(4096);
    opts.discard_cache = mode;
    opts.read_ahead = true;
    opts.sync_close = File_Options::SYNC_CLOSE_ASYNC;
    Fixed_Block_File_Writer writer;
    if (!writer.open(path, O_CLOEXEC | O_CREAT, true, 0640, opts)) {
      // Direct I/O is not offered by every file system (tmpfs).
      ASSERT_EQ(mode, File_Options::DISCARD_CACHE_DIRECT_IO);
      ASSERT_EQ(writer.last_error(), EINVAL);
      continue;
    }
    for (size_t at = 0; at < data.size(); at += 4096) {
      ASSERT_EQ(writer.seek(at, SEEK_SET), static_cast<ACE_OFF_T>(at));
      ASSERT_TRUE(writer.write(data.data() + at, 4096, false));
    }
    ASSERT_TRUE(writer.close());
    Fixed_Block_File_Reader reader;
    ASSERT_TRUE(reader.open(path, O_CLOEXEC, opts, 0, false));
    std::string back;
    const char* p = nullptr;
    size_t len = 0;
    while (reader.read(p, len) && len > 0) back.append(p, len);
    EXPECT_TRUE(back == data);
  }
}

}  // namespace
