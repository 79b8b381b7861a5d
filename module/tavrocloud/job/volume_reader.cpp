#include "tavrocloud/job/volume_reader.h"

#include "pool/client_io.h"
#include "pool/image_format.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tavrocloud {

Volume_Reader::Volume_Reader(const std::string& dest_path, size_t block_size)
    : dest_path_(dest_path), block_size_(block_size) {}

Volume_Reader::~Volume_Reader() = default;

bool Volume_Reader::handle_superblock(const Image_Superblock&) {
  // No O_CREAT: a device link that vanished must not turn into a file.
  if (writer_.open(dest_path_, O_CLOEXEC, false, 0640, File_Options(block_size_))) return true;
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
  const bool read = read_blocks_align(io, write_block, block_size_);
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

bool read_image_block_size(Client_IO& io, const std::string& path, size_t& block_size) {
  char head[pool_image::SUPERBLOCK_SIZE];
  const ssize_t n = io.read(head, sizeof head);
  std::string why = n < 0 ? std::string(io.error()) : std::string("truncated image");
  Image_Superblock superblock;
  if (n != static_cast<ssize_t>(sizeof head) ||
      !pool_image::decode_superblock(head, superblock, why)) {
    ACE_ERROR((LM_ERROR, "Failed to read the superblock of image %s: %s.\n", path.c_str(),
               why.c_str()));
    return false;
  }
  // The pool reads forward only: the reader starts again from the first byte.
  if (!io.close() || !io.open(path, Client_IO_Base::MODE_READ, 0, 0)) {
    ACE_ERROR((LM_ERROR, "Failed to open image %s again, err %s.\n", path.c_str(), io.error()));
    return false;
  }
  block_size = superblock.block_size;
  return true;
}

}  // namespace tavrocloud
