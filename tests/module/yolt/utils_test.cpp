#include "yolt/utils.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

TEST(Utils, IsBlockDeviceRefusesRegularFilesAndMissingPaths) {
  char path[] = "/tmp/yolt_utils_XXXXXX";
  const int fd = ::mkstemp(path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  dev_t id = 77;
  EXPECT_FALSE(is_block_device(path, &id));
  EXPECT_EQ(id, 77u);
  EXPECT_FALSE(is_block_device("/tmp", &id));
  EXPECT_FALSE(is_block_device("/nonexistent/yolt", &id));
  EXPECT_FALSE(is_block_device(nullptr, &id));
  EXPECT_EQ(id, 77u);
  ::unlink(path);
}

TEST(Utils, IsBlockDeviceReportsTheDeviceNumber) {
  // Any block device the machine shows will do; containers may have none.
  for (const char* candidate : {"/dev/loop0", "/dev/sda", "/dev/vda", "/dev/nvme0n1"}) {
    struct stat st;
    if (::stat(candidate, &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    dev_t id = 0;
    EXPECT_TRUE(is_block_device(candidate, &id));
    EXPECT_EQ(id, st.st_rdev);
    EXPECT_TRUE(is_block_device(candidate));
    return;
  }
  GTEST_SKIP() << "no block device visible here";
}

TEST(Utils, UuidTextToBytes) {
  const std::string bytes =
      uuid_string_to_binary(std::string("00112233-4455-6677-8899-AABBCCDDEEFF"));
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x00);
  EXPECT_EQ(static_cast<unsigned char>(bytes[15]), 0xFF);
  EXPECT_EQ(uuid_string_to_binary(std::string("not-a-uuid")), "");
}

class Fake_Decoder : public Codec_Impl_T<unsigned char> {
 public:
  explicit Fake_Decoder(const std::string& plain) {
    if (plain.empty()) return;
    auto buf = std::make_unique<unsigned char[]>(plain.size());
    std::copy(plain.begin(), plain.end(), buf.get());
    set_result(std::move(buf), plain.size());
  }
};

TEST(Utils, CodecResultHolder) {
  Fake_Decoder ok("secret");
  ASSERT_TRUE(ok);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ok.get()), ok.length()), "secret");
  ok.reset();
  EXPECT_FALSE(ok);
  EXPECT_EQ(ok.length(), 0u);
  Fake_Decoder failed("");
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.get(), nullptr);
}

}  // namespace
