#include "tavrocloud/job/volume_writer.h"

#include "host/pool/pool_test_env.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>

namespace {

using pool_test::list_dir;
using tavrocloud::Volume_Writer;

const char SET_UUID[] = "00112233-4455-6677-8899-aabbccddeeff";
const uint64_t BLOCK = 131072;

// A local "device" file of `size` bytes of mixed content.
std::string make_device(const pool_test::Pool_Env& env, uint64_t size) {
  const std::string path = env.dir() + "/device";
  pool_test::write_file(path, pool_test::make_content(pool_test::MIXED, size));
  return path;
}

// Runs a writer; its result and the storage size it reports.
std::pair<bool, uint64_t> write(Client_IO_Ex& io, const std::string& local, const std::string& remote,
                                uint64_t total, uint64_t block, const std::function<bool(unsigned long)>& hook) {
  Volume_Writer writer(io, local, remote, 0, total, block);
  const bool ok = writer.write_all(SET_UUID, SET_UUID, hook);
  return {ok, writer.storage_size()};
}

// Bad arguments are refused; a device that is missing, too small or shrinks, a
// cancellation and a final name taken before the close all leave nothing in the pool.
// Good uploads are checked end to end, image by image.
TEST(Volume_Writer, PublishesTheWholeImageOrNothing) {
  pool_test::Pool_Env env;
  const uint64_t size = 32 * BLOCK;
  const std::string device = make_device(env, size);
  const std::string final_path = env.root() + "/run/img";
  auto pass = [](unsigned long) { return true; };
  struct Case {
    const char* name;
    std::string local;
    std::string remote;
    uint64_t total;
    uint64_t block;
    std::function<bool(unsigned long)> hook;
    const char* message;
    uint64_t device_size = 0;  // 0: the volume's size
  };
  // The writer reads up to its pipeline's depth (a few MiB) ahead of the first progress
  // report, so a device that shrinks at that report must be larger than that.
  const uint64_t large = 192 * BLOCK;
  const Case cases[] = {
      {"no local path", "", "run/img", size, BLOCK, pass, "local_path_file_ is empty"},
      {"no remote path", device, "", size, BLOCK, pass, "remote_path_file_ is empty"},
      {"block size 0", device, "run/img", size, 0, pass, "block_size_"},
      {"total size 0", device, "run/img", 0, BLOCK, pass, "total_size_"},
      {"total not whole blocks", device, "run/img", size - 512, BLOCK, pass,
       "total_size_ % block_size_"},
      {"no device", env.dir() + "/missing", "run/img", size, BLOCK, pass,
       "Failed to open block reader for path"},
      {"device smaller than the volume", device, "run/img", size + BLOCK, BLOCK, pass,
       "bytes readable"},
      {"cancelled", device, "run/img", size, BLOCK, [](unsigned long) { return false; },
       "Failed to write data to image"},
      {"device shrinks while read", device, "run/img", large, BLOCK,
       [&](unsigned long) { return ::truncate(device.c_str(), 0) == 0; },
       "Failed to read data, offset", large},
      {"final name taken before the close", device, "run/img", size, BLOCK,
       [&](unsigned long) {
         ::mkdir(final_path.c_str(), 0700);
         return true;
       },
       "Failed to close run/img on storage pool"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    make_device(env, c.device_size != 0 ? c.device_size : size);
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), Client_IO_Base::Options()));
    test::Log_Capture log;
    EXPECT_EQ(write(io, c.local, c.remote, c.total, c.block, c.hook), std::make_pair(false, uint64_t{0}));
    EXPECT_TRUE(log.contains(c.message)) << log.text();
    ::rmdir(final_path.c_str());
    EXPECT_EQ(list_dir(env.root() + "/run"), "");
  }
  Client_IO_Ex idle;
  test::Log_Capture log;
  EXPECT_FALSE(write(idle, device, "run/img", size, BLOCK, pass).first);
  EXPECT_TRUE(log.contains("Failed to write data, the io not connected."));
}

}  // namespace
