#include "pool/compression.h"

#include "pool/block_codec.h"
#include "pool_test_env.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Unknown names never give -1 or another invalid value, and are warned about; a value
// out of range has the plain suffix.
TEST(Compression, NamesToMethods) {
  test::Log_Capture log;
  // {name, the value for an unknown name, the method, warned}
  const std::tuple<const char*, int, int, bool> cases[] = {
      {"NONE", -1, COMPR_NONE, false}, {"auto", -1, COMPR_AUTO, false},
      {"lzo", -1, COMPR_LZOP, false}, {"Zstd", -1, COMPR_ZSTD, false},
      {"gzip", -1, COMPR_AUTO, true}, {"", -1, COMPR_AUTO, true}, {nullptr, -1, COMPR_AUTO, true},
      {"zstd9", 99, COMPR_AUTO, true}, {"gzip", COMPR_LZOP, COMPR_LZOP, true}};
  for (const auto& [name, fallback, method, warned] : cases) {
    log.clear();
    EXPECT_EQ(compression_name_to_value(name, fallback), method) << (name ? name : "(null)");
    EXPECT_EQ(log.contains("Unknown compression method", LM_WARNING), warned);
  }
  EXPECT_EQ(std::string(compression_value_to_suffix(-1)) + compression_value_to_suffix(COMPR_MAX),
            ".img.img");
}

// Each codec's block unpacks only into its own size; a codec that is no block codec packs
// nothing, unknown codecs and garbage are refused.
TEST(Block_Codec, RoundTripsAndRefusesDamage) {
  Block_Codec codec;
  const std::string raw = pool_test::make_content(pool_test::TEXT, 131072);
  std::string packed(Block_Codec::bound(raw.size()), '\0'), back(raw.size(), '\0');
  for (int method : {COMPR_NONE, COMPR_LZOP, COMPR_ZSTD}) {
    const size_t n = codec.compress(method, 3, raw.data(), raw.size(), &packed[0], packed.size());
    EXPECT_TRUE(n > 0 && codec.decompress(method, packed.data(), n, &back[0], back.size()) &&
                back == raw) << method;
    EXPECT_FALSE(codec.decompress(method, packed.data(), n, &back[0], back.size() - 1)) << method;
  }
  EXPECT_EQ(codec.compress(COMPR_AUTO, 1, "abc", 3, &back[0], 16), 0u);
  EXPECT_FALSE(codec.decompress(7, "abc", 3, &back[0], 3) ||
               codec.decompress(COMPR_ZSTD, "garbage!", 8, &back[0], 8));
}

}  // namespace
