// Writes one pool image (pool/image_format.h) through a pool connection: the superblock
// first, then the extent table, one record per block and the trailer. The calling
// thread takes each block from the source (and copies it out of the source's buffer)
// into a batch of blocks, a few worker threads compress and checksum whole batches, and
// one output thread writes each batch's records in order with one vectored write, so
// the codec and the reading hide behind the disk. The block
// source and the progress handler are always called on the calling thread. The volume
// upload drives it through Image_Block_Writer (client_io/image_block_writer.h).
//
// The connection holds the file back from publication from init on and releases it only
// after the trailer: on any failure the partial file is dropped, and a file closed before
// its trailer is discarded, so an image under its final name is always complete.
#ifndef POOL_IMAGE_WRITER_H
#define POOL_IMAGE_WRITER_H

#include "pool/block_codec.h"
#include "pool/image_format.h"

#include <ace/os_include/sys/os_types.h>

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class Client_IO;

namespace yolt {

class Image_Writer {
 public:
  // Points the block source's data pointer at the bytes of the block at `offset` and
  // returns their count, which must be the `size` asked for; -1 on failure.
  using Block_Source = std::function<ssize_t(const char*& data, ssize_t size, ACE_OFF_T offset)>;
  // Receives the bytes of each block just written; false stops the writing.
  using Progress_Handler = std::function<bool(unsigned long bytes)>;

  // Writes to `io`, which must have a file open for writing when the superblock is
  // written; the writer does not own it. From init on, that file is published by the
  // connection's close() only once the trailer is written.
  explicit Image_Writer(Client_IO* io);
  virtual ~Image_Writer();
  Image_Writer(const Image_Writer&) = delete;
  Image_Writer& operator=(const Image_Writer&) = delete;

  // Sets the geometry: `sector_size` a power of two of at least 512, `block_size` a
  // multiple of it of at most 64 MiB, `version` the format version (1), `flags` 0. The
  // codec is the connection's compression option (AUTO: zstd at level 1; ZSTD at the
  // option's level). True when accepted; false (logged) otherwise.
  bool init(size_t sector_size, size_t block_size, unsigned int version, unsigned int flags);

  // Writes the superblock with the 16-byte backup-set and image UUIDs, `image_flags`,
  // `extra_length` bytes of extra data (null when 0) and the file's path below its pool's
  // folder (Client_IO::path) as the image's name, once, after init. True when written; false (logged; the file is
  // dropped) otherwise.
  bool write_superblock(const std::string& set_uuid, const std::string& image_uuid,
                        uint32_t image_flags, const void* extra, size_t extra_length);

  // Worker threads for the codec (default: up to 6, by the machine's cores).
  void set_threads(size_t threads) { threads_ = threads == 0 ? 1 : threads; }

 protected:
  // Writes the extent table, every block of `extents` taken from `source` in order,
  // and the trailer. True when the whole image was written; false (logged; the file is
  // dropped) on a source, codec or write failure or when `progress` answers false.
  bool write_image(const std::vector<Image_Extent>& extents, const Progress_Handler& progress,
                   const Block_Source& source);

  Client_IO* io_;

 private:
  struct Slot;
  bool drop();
  bool write_records(const std::vector<Image_Extent>& extents, const Progress_Handler& progress,
                     const Block_Source& source);
  bool encode_block(Slot& slot, size_t index, Block_Codec& codec) const;
  bool encode_batch(Slot& slot, Block_Codec& codec) const;
  bool write_batch(Slot& slot);

  size_t sector_size_ = 0;
  size_t block_size_ = 0;
  int codec_ = 0;
  int level_ = 0;
  size_t threads_;
  bool initialised_ = false;
  bool superblock_written_ = false;
  bool finished_ = false;
  Image_Trailer trailer_;
};

}  // namespace yolt

#endif  // POOL_IMAGE_WRITER_H
