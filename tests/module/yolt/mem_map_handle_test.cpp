#include "yolt/mem_map_handle.h"

#include "runtime/path_conf.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

// Points the host home at a fresh temporary directory for the life of the fixture.
class Mem_Map_Handle_Test : public test::Temp_Home_Test {
 protected:
  Mem_Map_Handle_Test() : Temp_Home_Test("mem_map_handle_test.") {}

  std::string record_dir(const std::string& id) const {
    return dir() + "/" + Path_Conf::component() + "/act/yolt_test/" + id;
  }
  std::string record_path(const std::string& id, const std::string& base) const {
    return record_dir(id) + "/" + base;
  }
  bool home_is_empty() const { return std::filesystem::is_empty(dir()); }
};

off_t file_size(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// The close-on-exec flag of this process's descriptor on `path`; -1 when none is open.
int cloexec_of(const std::string& path) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(entry.path(), ec);
    if (ec || target != path) continue;
    const int fd = std::stoi(entry.path().filename().string());
    return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0 ? 1 : 0;
  }
  return -1;
}

TEST_F(Mem_Map_Handle_Test, CreatedRecordIsSharedBetweenHandlesAndKeptOnReopen) {
  Handle writer;
  ASSERT_EQ(0, writer.open("def-1", "i-0001", true, true, 0750));
  EXPECT_EQ(4096, file_size(record_path("def-1", "i-0001")));

  Handle reader;
  ASSERT_EQ(0, reader.open("def-1", "i-0001", false, true, 0750));
  writer->processed_size = 123456789;
  EXPECT_EQ(123456789u, reader->processed_size);
  reader->state = 3;
  EXPECT_EQ(3u, writer.get()->state);

  EXPECT_EQ(0, writer.close());
  EXPECT_FALSE(static_cast<bool>(writer));
  ASSERT_EQ(0, writer.open("def-1", "i-0001", true, true, 0750));  // exists: contents kept
  EXPECT_EQ(123456789u, writer->processed_size);
  EXPECT_EQ(3u, writer->state);
}

TEST_F(Mem_Map_Handle_Test, CloseOnExecFollowsTheFlag) {
  for (const bool cloexec : {true, false}) {
    Handle h;
    ASSERT_EQ(0, h.open("def-2", "i-0002", true, cloexec, 0750));
    EXPECT_EQ(cloexec ? 1 : 0, cloexec_of(record_path("def-2", "i-0002"))) << cloexec;
    h.close();
    EXPECT_EQ(-1, cloexec_of(record_path("def-2", "i-0002")));
  }
}

TEST_F(Mem_Map_Handle_Test, MissingFileWithoutCreateFailsWithEnoent) {
  test::Log_Capture log;
  Handle h;
  errno = 0;
  EXPECT_EQ(-1, h.open("def-3", "i-none", false, true, 0750));
  EXPECT_EQ(ENOENT, errno);
  EXPECT_TRUE(log.contains("Failed to memory map " + record_path("def-3", "i-none") +
                               ", errno=2, ",
                           LM_ERROR));
  EXPECT_FALSE(static_cast<bool>(h));
  EXPECT_TRUE(home_is_empty());  // nothing made without create
}

TEST_F(Mem_Map_Handle_Test, BadNamesAreRefusedBeforeAnyFileIsTouched) {
  struct Case {
    const char* id;
    const char* basename;
    const char* message;
  };
  const Case cases[] = {
      {"", "i-1", "id is NULL or \"\""},
      {"def", nullptr, "basename is NULL or \"\""},
      {"..", "i-1", "id_is_one_name is false"},
      {"../../../../etc", "i-1", "id_is_one_name is false"},
      {"def", ".", "basename_is_one_name is false"},
      {"def", "sub/i-1", "basename_is_one_name is false"},
  };
  for (const Case& c : cases) {
    for (const bool create : {true, false}) {
      test::Log_Capture log;
      Handle h;
      EXPECT_EQ(-1, h.open(c.id, c.basename, create, true, 0750)) << c.message;
      EXPECT_TRUE(log.contains(c.message, LM_EMERGENCY)) << log.text();
    }
  }
  test::Log_Capture log;
  Handle h;
  EXPECT_EQ(-1, h.open("..", true, true, 0750));
  EXPECT_TRUE(log.contains("id_is_one_name is false", LM_EMERGENCY));
  EXPECT_TRUE(home_is_empty());
}

TEST_F(Mem_Map_Handle_Test, ExistingFileIsMappedWholeOrExtendedOnCreate) {
  std::filesystem::create_directories(record_dir("def-4"));
  {
    std::ofstream(record_path("def-4", "short")) << "abc";  // shorter than a record
    std::ofstream out(record_path("def-4", "long"), std::ios::binary);
    out << std::string(100, 'x');
  }
  {
    test::Log_Capture log;
    Handle h;
    EXPECT_EQ(-1, h.open("def-4", "short", false, true, 0750));
    EXPECT_FALSE(static_cast<bool>(h));
    EXPECT_TRUE(log.contains("Failed to memory map " + record_path("def-4", "short"), LM_ERROR));
    EXPECT_EQ(-1, cloexec_of(record_path("def-4", "short")));  // descriptor released
  }
  {
    Handle h;
    ASSERT_EQ(0, h.open("def-4", "long", false, true, 0750));
    EXPECT_EQ('x', h->tag[0]);
    EXPECT_EQ(100, file_size(record_path("def-4", "long")));
  }
  {
    Handle h;
    ASSERT_EQ(0, h.open("def-4", "short", true, true, 0750));
    EXPECT_EQ(4096, file_size(record_path("def-4", "short")));
    EXPECT_EQ('a', reinterpret_cast<const char*>(h.get())[0]);
  }
}

TEST_F(Mem_Map_Handle_Test, RecordNamedByIdAlone) {
  Handle h;
  ASSERT_EQ(0, h.open("job-5", true, true, 0750));
  h->state = 17;
  EXPECT_EQ(4096, file_size(record_dir("job-5")));
  Handle again;
  ASSERT_EQ(0, again.open("job-5", false, true, 0750));
  EXPECT_EQ(17u, again->state);
}

}  // namespace
