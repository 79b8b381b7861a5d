#include "tavrocloud/job/volume_writer.h"

#include "host/pool/pool_test_env.h"
#include "pool/pool_file_system.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <functional>
#include <string>

namespace {

const char SET_UUID[] = "00112233-4455-6677-8899-aabbccddeeff";
const uint64_t BLOCK = 131072;

// Bad arguments are refused; a device that is missing, too small or shrinks and an image
// the pool's writer refuses leave nothing in the pool. Good uploads, cancellations and the pool's failures (also at the
// close) are driven end to end in tests/e2e/fault_matrix_test.cpp.
TEST(Volume_Writer, PublishesTheWholeImageOrNothing) {
  pool_test::Pool_Env env;
  const std::string device = env.dir() + "/device";
  struct Run {
    std::string local, remote = "run/img";
    uint64_t total = 32 * BLOCK, block = BLOCK;
    std::function<bool(unsigned long)> hook = [](unsigned long) { return true; };
    uint64_t device_size = 32 * BLOCK;
    bool connected = true;
  };
  // The writer reads up to its pipeline's depth (a few MiB) ahead of the first progress
  // report, so a device that shrinks at that report must be larger than that.
  const uint64_t large = 192 * BLOCK;
  const auto shrinking = [&](Run& r) {
    r.total = r.device_size = large;
    r.hook = [&](unsigned long) { return ::truncate(device.c_str(), 0) == 0; };
  };
  const std::pair<const char*, std::function<void(Run&)>> cases[] = {
      {"local_path_file_ is empty", [](Run& r) { r.local.clear(); }},
      {"remote_path_file_ is empty", [](Run& r) { r.remote.clear(); }},
      {"block_size_", [](Run& r) { r.block = 0; }},
      {"total_size_", [](Run& r) { r.total = 0; }},
      {"total_size_ % block_size_", [](Run& r) { r.total -= 512; }},
      {"Failed to open block reader for path", [&](Run& r) { r.local = env.dir() + "/missing"; }},
      {"bytes readable", [](Run& r) { r.total += BLOCK; }},  // a device smaller than the volume
      // a block size the pool's image refuses, once the file is open on the pool
      {"Failed to init image block writer.", [](Run& r) { r.block = r.total = 1000; }},
      {"Failed to read data, offset", shrinking},
      {"Failed to write data, the io not connected.", [](Run& r) { r.connected = false; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    Run r;
    r.local = device;
    c.second(r);
    pool_test::write_file(device, pool_test::make_content(pool_test::MIXED, r.device_size));
    Client_IO_Ex io;
    ASSERT_TRUE(!r.connected || io.connect(env.url(), Client_IO_Base::Options()));
    test::Log_Capture log;
    tavrocloud::Volume_Writer writer(io, r.local, r.remote, 0, r.total, r.block);
    EXPECT_FALSE(writer.write_all(SET_UUID, SET_UUID, r.hook));
    EXPECT_EQ(writer.storage_size(), 0u);
    EXPECT_TRUE(log.contains(c.first)) << log.text();
    EXPECT_EQ(pool_test::list_dir(env.root() + "/run"), "");
  }
}

// A pool whose writes fail (full, or a failing disk): the pool's writer names the cause,
// and so does the upload's own line, with the errno the pool's writer left (its writes
// fail on a thread of their own), also when the clean-up of the file that follows leaves
// another errno behind: where no file without a name can be made, the hidden file it
// wrote is removed, and that removal may fail or succeed and still change errno.
TEST(Volume_Writer, AFullPoolIsToldByItsOwnCause) {
  pool_test::Pool_Env env;
  struct Faults {
    int write_errno;
    bool unnamed_files = true;  // false: a file system that cannot make them
    int removal_errno = 0;      // what the removal of the hidden file leaves in errno
    bool removal_fails = false;
  };
  struct Failing_Pool : Pool_File_System {
    explicit Failing_Pool(const Faults& faults) : f(faults) {}
    int open_unnamed(const char* dir, mode_t mode) override {
      if (f.unnamed_files) return Pool_File_System::open_unnamed(dir, mode);
      errno = EOPNOTSUPP;
      return -1;
    }
    ssize_t writev(int, const struct iovec*, int) override {
      errno = f.write_errno;
      return -1;
    }
    int remove(const char* path) override {
      const int rc = Pool_File_System::remove(path);
      errno = f.removal_errno;
      return f.removal_fails ? -1 : rc;
    }
    const Faults f;
  };
  const struct {
    const char* name;
    Faults faults;
    const char* said;  // by the upload, after "Failed to write data to image, error: "
  } cases[] = {
      {"a full pool", {ENOSPC}, "28, msg: No space left on device.\n"},
      {"a failing disk, the hidden file gone before its removal", {EIO, false, ENOENT, true},
       "5, msg: Input/output error.\n"},
      {"a full pool, the hidden file removed with errno changed", {ENOSPC, false, EBADF},
       "28, msg: No space left on device.\n"},
  };
  const std::string device = env.dir() + "/device";
  pool_test::write_file(device, pool_test::make_content(pool_test::RANDOM, 32 * BLOCK));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), Client_IO_Base::Options()));
    Failing_Pool pool(c.faults);
    Pool_File_System* const previous = Pool_File_System::install(&pool);
    test::Log_Capture log;
    tavrocloud::Volume_Writer writer(io, device, "run/img", 0, 32 * BLOCK, BLOCK);
    errno = 0;  // no cause left behind by this thread
    EXPECT_FALSE(writer.write_all(SET_UUID, SET_UUID, [](unsigned long) { return true; }));
    Pool_File_System::install(previous);
    EXPECT_TRUE(log.contains(std::strerror(c.faults.write_errno), LM_ERROR)) << log.text();
    EXPECT_TRUE(log.contains(std::string("Failed to write data to image, error: ") + c.said,
                             LM_ERROR)) << log.text();
    EXPECT_EQ(pool_test::list_dir(env.root() + "/run"), "");
  }
}

}  // namespace
