// Reads one pool image (pool/image_format.h) from a pool connection and hands out its
// blocks in order, each verified against its checksums; the volume restore derives its
// volume reader from it and writes every block onto the new volume. One input thread
// reads the records in batches (each record's stored bytes straight into the batch's
// buffer), a few worker threads verify and expand whole batches, and the calling thread
// hands the blocks out in order; the hooks and the block callback always run there.
#ifndef POOL_IMAGE_BLOCK_READER_H
#define POOL_IMAGE_BLOCK_READER_H

#include "pool/aligned_buffer.h"
#include "pool/block_codec.h"
#include "pool/image_format.h"
#include "pool/ordered_pipeline.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Client_IO;

class Image_Block_Reader {
 public:
  // Receives one block: its bytes (valid until the callback returns), their count and
  // the block's offset in the volume; false stops the reading, which then fails.
  using Block_Callback = std::function<bool(const char* data, size_t length, int64_t offset)>;

  Image_Block_Reader();
  virtual ~Image_Block_Reader();
  Image_Block_Reader(const Image_Block_Reader&) = delete;
  Image_Block_Reader& operator=(const Image_Block_Reader&) = delete;

  // Reads the image from the file open for reading on `io`: the superblock (then
  // handle_superblock), the extra data (handle_superblock_extra), the extents
  // (handle_descriptor_header), then every block to `callback`, then the trailer. The
  // blocks are the image's own: `block_size` 0 takes the image's block size as it is
  // (handle_superblock sees it), any other value must be the image's. True when the
  // whole image was read and verified; false (logged) when `block_size` is not 0 and not
  // the image's, the image was written under another path in the pool than the one it
  // is open under (pool_image::is_named, checked before the hooks), a hook or the
  // callback answers false, or the image is damaged: a checksum mismatch, a missing,
  // extra or misplaced block, a truncated file, data after the trailer. Blocks before a
  // damage may have been handed out already. Buffers are sized by the image's own block
  // size, which the superblock bounds (pool_image::MAX_BLOCK_SIZE).
  bool read_blocks_align(Client_IO& io, const Block_Callback& callback, size_t block_size);
  bool read_blocks_align(Client_IO* io, const Block_Callback& callback, size_t block_size);

  // Worker threads for the codec (default: up to 6, by the machine's cores).
  void set_threads(size_t threads) { threads_ = threads == 0 ? 1 : threads; }

 protected:
  // Hooks called in this order before the first block; false ends the read with
  // failure. The defaults accept.
  virtual bool handle_superblock(const Image_Superblock& superblock);
  virtual bool handle_superblock_extra(const char* data, size_t length);
  virtual bool handle_descriptor_header(const std::vector<Image_Extent>& extents);

 private:
  struct Slot;
  bool read_header(Client_IO& io, size_t block_size, Image_Superblock& sb,
                   std::vector<Image_Extent>& extents);
  bool read_records(Client_IO& io, const Image_Superblock& sb,
                    const std::vector<Image_Extent>& extents, const Block_Callback& callback);
  bool read_stream(Client_IO& io, const Image_Superblock& sb,
                   const std::vector<Image_Extent>& extents, Ordered_Pipeline<Slot>& pipeline,
                   std::string& why) const;
  bool expand_batch(Slot& slot, Block_Codec& codec) const;
  bool deliver(const Slot& slot, size_t records, const Block_Callback& callback,
               std::string& why) const;
  bool refuse(const std::string& why) const;

  size_t threads_;
  uint64_t chain_ = 0;  // the checksum chain up to the extent table, set by read_header
  Aligned_Buffer zero_block_;
};

#endif  // POOL_IMAGE_BLOCK_READER_H
