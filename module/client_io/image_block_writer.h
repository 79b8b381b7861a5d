// The image writer of a volume upload: the ranges of the volume to store (add_block)
// and the loop that takes each block from a block source and writes it into the pool
// image (write_blocks). Built on the host's yolt::Image_Writer, whose init and
// write_superblock come first; write_blocks is the host's (pool/image_block_writer.cpp).
#ifndef CLIENT_IO_IMAGE_BLOCK_WRITER_H
#define CLIENT_IO_IMAGE_BLOCK_WRITER_H

#include "pool/image_writer.h"
#include "yolt/utils.h"

#include <cstdint>
#include <vector>

class Image_Block_Writer : public yolt::Image_Writer {
 public:
  // Writes into the file open for writing on `io` (not owned).
  explicit Image_Block_Writer(Client_IO* io) : yolt::Image_Writer(io) {}

  // Adds the range [offset, offset + length) of the volume to the image.
  void add_block(uint64_t offset, uint64_t length) { blocks_.push_back(Block(offset, length)); }

  // Writes every added range, block by block from `source`, reporting the bytes of
  // each block written to `progress` (false stops); true when the whole image was
  // written, false (logged; the partial file is dropped) otherwise.
  bool write_blocks(const Progress_Handler& progress, const Block_Source& source);

  const std::vector<Block>& blocks() const { return blocks_; }

 private:
  std::vector<Block> blocks_;
};

#endif  // CLIENT_IO_IMAGE_BLOCK_WRITER_H
