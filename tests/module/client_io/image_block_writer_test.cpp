#include "client_io/image_block_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(Image_Block_Writer, AddBlockKeepsRangesInOrder) {
  Image_Block_Writer writer(nullptr);
  writer.add_block(0, 1ull << 30);
  writer.add_block(1ull << 40, 4096);
  ASSERT_EQ(writer.blocks().size(), 2u);
  EXPECT_EQ(writer.blocks()[0].offset, 0u);
  EXPECT_EQ(writer.blocks()[0].length, 1ull << 30);
  EXPECT_EQ(writer.blocks()[1].offset, 1ull << 40);
  EXPECT_EQ(writer.blocks()[1].length, 4096u);
}

// Without a connection nothing can be written, and nothing crashes.
TEST(Image_Block_Writer, RefusesWithoutAConnection) {
  Image_Block_Writer writer(nullptr);
  EXPECT_FALSE(writer.init(512, 131072, 1, 0));
  EXPECT_FALSE(writer.write_superblock(std::string(16, 'a'), std::string(16, 'b'), 0, nullptr, 0));
  writer.add_block(0, 131072);
  EXPECT_FALSE(writer.write_blocks(nullptr, nullptr));
}

}  // namespace
