#include "pool/compression.h"

#include "pool/block_codec.h"
#include "pool_test_env.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Unknown names never give -1 or another invalid value, and are warned about.
TEST(Compression, NamesToMethods) {
  test::Log_Capture log;
  const std::tuple<const char*, int, int, bool> cases[] = {
      {"NONE", -1, COMPR_NONE, false}, {"auto", -1, COMPR_AUTO, false}, {"lzo", -1, COMPR_LZOP, false},
      {"Zstd", -1, COMPR_ZSTD, false}, {"gzip", -1, COMPR_AUTO, true},  {"", -1, COMPR_AUTO, true},
      {nullptr, -1, COMPR_AUTO, true}, {"zstd9", 99, COMPR_AUTO, true}, {"gzip", COMPR_LZOP, COMPR_LZOP, true}};
  for (const auto& c : cases) {
    log.clear();
    const char* name = std::get<0>(c);
    EXPECT_EQ(compression_name_to_value(name, std::get<1>(c)), std::get<2>(c)) << (name ? name : "(null)");
    EXPECT_EQ(log.contains("Unknown compression method", LM_WARNING), std::get<3>(c));
  }
}

// Stored images are found by these names: a changed suffix loses every older backup.
TEST(Compression, Suffixes) {
  std::string all;
  for (int m : {int(COMPR_NONE), int(COMPR_AUTO), int(COMPR_ZSTD), int(COMPR_LZOP), -1, int(COMPR_MAX)})
    all += compression_value_to_suffix(m);
  EXPECT_EQ(all, ".img.img.zst.img.zst.img.lzo.img.img");
}

TEST(Block_Codec, RoundTripsAndRefusesDamage) {
  Block_Codec codec;
  const std::string raw = pool_test::make_content(pool_test::TEXT, 131072);
  for (int method : {COMPR_NONE, COMPR_LZOP, COMPR_ZSTD}) {
    SCOPED_TRACE(method);
    std::string packed(Block_Codec::bound(raw.size()), '\0');
    const size_t n = codec.compress(method, 3, raw.data(), raw.size(), &packed[0], packed.size());
    ASSERT_GT(n, 0u);
    EXPECT_LT(n, method == COMPR_NONE ? raw.size() + 1 : raw.size() / 2);
    std::string back(raw.size(), '\0');
    ASSERT_TRUE(codec.decompress(method, packed.data(), n, &back[0], back.size()));
    EXPECT_TRUE(back == raw);
    EXPECT_FALSE(codec.decompress(method, packed.data(), n, &back[0], back.size() - 1));
  }
  std::string out(16, '\0');
  EXPECT_EQ(codec.compress(COMPR_AUTO, 1, "abc", 3, &out[0], out.size()), 0u);
  EXPECT_FALSE(codec.decompress(7, "abc", 3, &out[0], 3));
  EXPECT_FALSE(codec.decompress(COMPR_ZSTD, "garbage!", 8, &out[0], 8));
}

}  // namespace
