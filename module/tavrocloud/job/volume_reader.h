// Writes one pool image onto a local block device: the volume restore opens each piece
// of a volume in the pool and hands it to a Volume_Reader, which writes every verified
// block at its own offset and flushes the device once the image is complete.
#ifndef TAVROCLOUD_JOB_VOLUME_READER_H
#define TAVROCLOUD_JOB_VOLUME_READER_H

#include "pool/fixed_block_file.h"
#include "pool/image_block_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>

class Client_IO;

namespace tavrocloud {

class Volume_Reader : public Image_Block_Reader {
 public:
  // Writes onto `dest_path` (an existing device or file, never created) the image of
  // the piece `piece` (its path, for the log) in the image's own block size; the block
  // size the catalog recorded for the piece, `recorded_block_size`, may be another (a
  // piece recorded with its device size) and is only compared with it in the log.
  Volume_Reader(const std::string& dest_path, size_t recorded_block_size,
                const std::string& piece);
  ~Volume_Reader() override;

  // Reads the image open for reading on `io`, writes each block at its offset, then
  // calls `callback` with the block (a false answer stops the read), and finally syncs
  // the device. True when every block was written and the device synced; false (logged)
  // when the image does not read, a write or the sync fails, or the callback refused.
  bool read_all(Client_IO& io, const Block_Callback& callback);

 protected:
  // Opens the device for writing in the image's block size; false (logged with the
  // errno) when it cannot be opened.
  bool handle_superblock(const Image_Superblock& superblock) override;

 private:
  // Syncs and closes the device; false (logged) when either fails.
  bool flush();

  std::string dest_path_;
  size_t block_size_;  // as the catalog recorded it; the image's own may differ
  std::string piece_;
  Fixed_Block_File_Writer writer_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_VOLUME_READER_H
