#include "tavrocloud/job/volume_reader.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavrocloud {

Volume_Reader::Volume_Reader(const std::string& dest_path, size_t recorded_block_size,
                             const std::string& piece)
    : dest_path_(dest_path), block_size_(recorded_block_size), piece_(piece) {}

Volume_Reader::~Volume_Reader() = default;

bool Volume_Reader::handle_superblock(const Image_Superblock& superblock) {
  // The image knows its own block size (bounded by the reader); the catalog's may be
  // another, so the device is written in the image's.
  const size_t block_size = superblock.block_size;
  if (block_size != block_size_)
    ACE_DEBUG((LM_DEBUG, "Piece %s was recorded with block size %B, its image has %B.\n",
               piece_.c_str(), static_cast<ACE_UINT64>(block_size_),
               static_cast<ACE_UINT64>(block_size)));
  // No O_CREAT: a device link that vanished must not turn into a file.
  if (writer_.open(dest_path_, O_CLOEXEC, false, 0640, File_Options(block_size))) return true;
  const int error = writer_.last_error();
  errno = error;
  ACE_ERROR((LM_ERROR, "Failed to open device %s, errno=%d, %m.\n", dest_path_.c_str(), error));
  return false;
}

bool Volume_Reader::read_all(Client_IO& io, const Block_Callback& callback) {
  auto write_block = [this, &callback](const char* data, size_t length, int64_t offset) {
    if (writer_.seek(offset, SEEK_SET) != offset || !writer_.write(data, length, false)) {
      const int error = writer_.last_error();
      errno = error;
      ACE_ERROR((LM_ERROR, "Failed to write %u bytes at %q to %s, errno=%d, %m.\n",
                 static_cast<unsigned>(length), static_cast<long long>(offset),
                 dest_path_.c_str(), error));
      return false;
    }
    return callback(data, length, offset);
  };
  // 0: the blocks are the image's own, whatever the catalog recorded.
  const bool read = read_blocks_align(io, write_block, 0);
  if (!read) {
    writer_.close();
    return false;
  }
  return flush();
}

bool Volume_Reader::flush() {
  if (!writer_.is_open()) {
    // An image without a superblock hook call cannot have ended well; keep it loud.
    ACE_ERROR((LM_ERROR, "Device %s was never opened.\n", dest_path_.c_str()));
    return false;
  }
  bool synced = ::fsync(writer_.handle()) == 0;
  int error = synced ? 0 : errno;
  if (!writer_.close() && synced) {
    synced = false;
    error = writer_.last_error();
  }
  if (synced) return true;
  errno = error;
  ACE_ERROR((LM_ERROR, "Failed to flush device %s, errno=%d, %m.\n", dest_path_.c_str(), error));
  return false;
}

}  // namespace tavrocloud
