// The host's out-of-line part of the module's image block writer.
#include "client_io/image_block_writer.h"

bool Image_Block_Writer::write_blocks(const Progress_Handler& progress,
                                      const Block_Source& source) {
  std::vector<Image_Extent> extents;
  extents.reserve(blocks_.size());
  for (const Block& b : blocks_) extents.push_back(Image_Extent{b.offset, b.length});
  return write_image(extents, progress, source);
}
