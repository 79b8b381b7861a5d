#include "yolt/mem_map_handle.h"

#include "runtime/path_conf.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace {

struct Record {
  uint64_t processed_size;
  uint32_t state;
  char tag[20];
};
struct Test_Path_Conf {
  static const char* const prefix;
};
const char* const Test_Path_Conf::prefix = "/var/opt/telquin/quillon3/$COMPONENT/act/yolt_test";
using Handle = Mem_Map_Handle<Record, Test_Path_Conf, 4096>;

class Mem_Map_Handle_Test : public test::Temp_Home_Test {
 protected:
  std::string path(const std::string& id, const std::string& base = "") const {
    const std::string record_dir = dir() + "/" + Path_Conf::component() + "/act/yolt_test/";
    return record_dir + id + (base.empty() ? "" : "/" + base);
  }
  static std::uintmax_t size(const std::string& p) { return std::filesystem::file_size(p); }
  // The close-on-exec flag of this process's descriptor on `p`; -1 when none is open.
  static int cloexec_of(const std::string& p) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (std::filesystem::read_symlink(entry.path(), ec) != p || ec) continue;
      return (fcntl(std::stoi(entry.path().filename().string()), F_GETFD) & FD_CLOEXEC) != 0;
    }
    return -1;
  }
};

// A created record is shared between handles and kept when opened again, even with
// create (a record named by its id alone: the job activity tests). Its descriptor is
// close-on-exec as asked and goes with close().
TEST_F(Mem_Map_Handle_Test, CreatedRecordIsSharedAndKept) {
  const std::string file = path("def-1", "i-0001");
  Handle writer, reader;
  ASSERT_EQ(0, writer.open("def-1", "i-0001", true, true, 0750));
  EXPECT_EQ(4096u, size(file));
  EXPECT_EQ(1, cloexec_of(file));
  ASSERT_EQ(0, reader.open("def-1", "i-0001", false, true, 0750));
  writer->processed_size += 123456789;
  EXPECT_EQ(123456789u, reader->processed_size);
  reader.close();
  EXPECT_EQ(0, writer.close());
  EXPECT_FALSE(static_cast<bool>(writer));
  EXPECT_EQ(-1, cloexec_of(file));
  ASSERT_EQ(0, writer.open("def-1", "i-0001", true, true, 0750));
  EXPECT_EQ(123456789u, writer->processed_size);
}

// Bad names are refused before any file is touched; a missing file without create fails
// with ENOENT; a short file is mapped only when create may extend it.
TEST_F(Mem_Map_Handle_Test, RefusalsAndExistingFiles) {
  const char* const bad[][3] = {{"", "i-1", "id is NULL or \"\""},
                                {"def", nullptr, "basename is NULL or \"\""},
                                {"../../../../etc", "i-1", "id_is_one_name is false"},
                                {"def", "sub/i-1", "basename_is_one_name is false"}};
  for (const auto& c : bad) {
    test::Log_Capture log;
    Handle h;
    EXPECT_EQ(-1, h.open(c[0], c[1], true, true, 0750)) << c[2];
    EXPECT_EQ(-1, h.open(c[0], c[1], false, true, 0750)) << c[2];
    EXPECT_EQ(2u, log.count(c[2])) << log.text();
  }
  test::Log_Capture log;
  Handle h;
  EXPECT_EQ(-1, h.open("..", true, true, 0750));
  errno = 0;
  EXPECT_EQ(-1, h.open("def-3", "i-none", false, true, 0750));
  EXPECT_EQ(ENOENT, errno);
  const std::string failed = "Failed to memory map " + path("def-3", "i-none") + ", errno=2, ";
  EXPECT_TRUE(log.contains(failed, LM_ERROR));
  EXPECT_TRUE(std::filesystem::is_empty(dir()));

  std::filesystem::create_directories(path("def-4"));
  std::ofstream(path("def-4", "short")) << "abc";
  std::ofstream(path("def-4", "long")) << std::string(100, 'x');
  EXPECT_EQ(-1, h.open("def-4", "short", false, true, 0750));
  EXPECT_FALSE(static_cast<bool>(h));
  EXPECT_EQ(-1, cloexec_of(path("def-4", "short")));  // descriptor released
  ASSERT_EQ(0, h.open("def-4", "long", false, true, 0750));
  EXPECT_EQ('x', h->tag[0]);
  EXPECT_EQ(100u, size(path("def-4", "long")));
  ASSERT_EQ(0, h.open("def-4", "short", true, true, 0750));
  EXPECT_EQ(4096u, size(path("def-4", "short")));
  EXPECT_EQ('a', reinterpret_cast<const char*>(h.get())[0]);
}

}  // namespace
