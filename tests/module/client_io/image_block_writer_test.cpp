#include "client_io/image_block_writer.h"

#include <gtest/gtest.h>

namespace {

// Without a connection nothing can be written, and nothing crashes.
TEST(Image_Block_Writer, RefusesWithoutAConnection) {
  Image_Block_Writer writer(nullptr);
  EXPECT_FALSE(writer.init(512, 131072, 1, 0));
  EXPECT_FALSE(writer.write_superblock(std::string(16, 'a'), std::string(16, 'b'), 0, nullptr, 0));
  writer.add_block(1ull << 40, 131072);  // offsets past 4 GiB are kept whole
  ASSERT_EQ(writer.blocks().size(), 1u);
  EXPECT_EQ(writer.blocks()[0].offset, 1ull << 40);
  EXPECT_FALSE(writer.write_blocks(nullptr, nullptr));
}

}  // namespace
