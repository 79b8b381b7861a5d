// Uploads one local block device into the storage pool as one image: the volume upload
// task reads the device block by block and hands each block, without a copy, to the
// pool's image writer.
#ifndef TAVROCLOUD_JOB_VOLUME_WRITER_H
#define TAVROCLOUD_JOB_VOLUME_WRITER_H

#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/fixed_block_file.h"

#include <ace/os_include/sys/os_types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tavrocloud {

class Volume_Writer {
 public:
  // Writes `total_size` bytes of `local_path` from `offset` on into the image
  // `remote_path` on `io` (connected; not owned), in blocks of `block_size` bytes.
  Volume_Writer(Client_IO_Ex& io, const std::string& local_path, const std::string& remote_path,
                uint64_t offset, uint64_t total_size, uint64_t block_size);
  Volume_Writer(const Volume_Writer&) = delete;
  Volume_Writer& operator=(const Volume_Writer&) = delete;

  // Writes and publishes the whole image, stamped with the two UUIDs (as text), calling
  // `progress_handler` with the bytes of each block written (false stops). True only when
  // the image was written and closed on the pool; false (logged) otherwise, and then
  // nothing is published.
  bool write_all(const std::string& image_uuid, const std::string& backup_set_uuid,
                 const std::function<bool(unsigned long)>& progress_handler);
  // The block source of the image writer: reads the block at `offset` and points `buf`
  // at it. Exactly one full block, or -1 (logged).
  ssize_t read_block(const char*& buf, ssize_t size, ACE_OFF_T offset);
  // Bytes the pool stored for the image; 0 until write_all succeeded.
  uint64_t storage_size() const { return storage_size_; }
  // Whether write_all opened the image on the pool: only then can a file of this
  // attempt be there, and only then may a failed upload remove the image's path.
  bool opened_remote() const { return opened_remote_; }

 private:
  bool check_args() const;
  bool open_reader();
  bool write_image(const std::string& image_uuid, const std::string& backup_set_uuid,
                   const std::function<bool(unsigned long)>& progress_handler);

  Client_IO_Ex& io_;
  const std::string local_path_file_;
  const std::string remote_path_file_;
  uint64_t offset_;
  uint64_t total_size_;
  uint64_t storage_size_ = 0;
  bool opened_remote_ = false;
  size_t block_size_;
  Image_Block_Writer writer_;
  Fixed_Block_File_Reader reader_;
};

}  // namespace tavrocloud

#endif  // TAVROCLOUD_JOB_VOLUME_WRITER_H
