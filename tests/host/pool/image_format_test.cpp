#include "pool/image_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Zero detection decides which blocks are stored as a bare header, so a single non-zero
// byte anywhere (first bytes, across a cache line, in the tail) must be seen.
TEST(Image_Format, AllZeroSeesEveryNonZeroByte) {
  for (size_t len : {size_t(0), size_t(1), size_t(63), size_t(64), size_t(65), size_t(128),
                     size_t(200), size_t(4096), size_t(4096 + 37)}) {
    std::string buf(len + 1, '\0');
    const char* data = buf.data() + 1;  // also off the natural alignment
    EXPECT_TRUE(pool_image::all_zero(data, len)) << len;
    for (size_t pos = 0; pos < len; ++pos) {
      buf[pos + 1] = static_cast<char>(1 << (pos % 8));
      EXPECT_FALSE(pool_image::all_zero(data, len)) << len << " " << pos;
      buf[pos + 1] = 0;
    }
    buf[0] = 1;  // a byte before the range does not count
    EXPECT_TRUE(pool_image::all_zero(data, len)) << len;
  }
}

}  // namespace
