#include "tavrocloud/job/volume_writer.h"

#include "yolt/check.h"
#include "yolt/scoped_deleter.h"
#include "yolt/utils.h"

#include <ace/Log_Msg.h>

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace tavrocloud {

namespace {

// Bytes readable from the open file or block device `fd`; false when unknown.
bool readable_size(int fd, uint64_t& size) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  if (S_ISBLK(st.st_mode)) return ::ioctl(fd, BLKGETSIZE64, &size) == 0;
  size = static_cast<uint64_t>(st.st_size);
  return S_ISREG(st.st_mode);
}

}  // namespace

Volume_Writer::Volume_Writer(Client_IO_Ex& io, const std::string& local_path,
                             const std::string& remote_path, uint64_t offset,
                             uint64_t total_size, uint64_t block_size)
    : io_(io),
      local_path_file_(local_path),
      remote_path_file_(remote_path),
      offset_(offset),
      total_size_(total_size),
      block_size_(static_cast<size_t>(block_size)),
      writer_(&io) {}

bool Volume_Writer::check_args() const {
  YOLT_CHECK_EMPTY(local_path_file_, false);
  YOLT_CHECK_EMPTY(remote_path_file_, false);
  YOLT_CHECK_LE(block_size_, 0u, false);
  YOLT_CHECK_LE(total_size_, 0u, false);
  YOLT_CHECK_NE(total_size_ % block_size_, 0u, false);
  return true;
}

bool Volume_Writer::open_reader() {
  // The device is read once, front to back: the kernel fetches ahead of the reads.
  File_Options options(block_size_);
  options.read_ahead = true;
  if (!reader_.open(local_path_file_, O_RDONLY | O_CLOEXEC, options, 0640, false)) {
    const int error = reader_.last_error();
    errno = error;
    ACE_ERROR((LM_ERROR, "Failed to open block reader for path %s, error: %d, msg: %m.\n",
               local_path_file_.c_str(), error));
    return false;
  }
  // A device smaller than the volume would end the image early with a short read; it is
  // refused before anything is written to the pool.
  uint64_t size = 0;
  if (!readable_size(reader_.handle(), size) || size < offset_ + total_size_) {
    ACE_ERROR((LM_ERROR, "Failed to back up %s: %Q bytes readable, %Q needed.\n",
               local_path_file_.c_str(), static_cast<ACE_UINT64>(size),
               static_cast<ACE_UINT64>(offset_ + total_size_)));
    return false;
  }
  return true;
}

bool Volume_Writer::write_all(const std::string& image_uuid, const std::string& backup_set_uuid,
                              const std::function<bool(unsigned long)>& progress_handler) {
  if (!check_args()) return false;
  if (!io_.is_connected()) {
    ACE_ERROR((LM_ERROR, "Failed to write data, the io not connected.\n"));
    return false;
  }
  if (!open_reader()) return false;
  if (!io_.open(remote_path_file_, Client_IO_Base::MODE_WRITE, 0, 0)) {
    ACE_ERROR((LM_ERROR, "Failed to open io, write to %s, error: %s.\n",
               remote_path_file_.c_str(), io_.error()));
    return false;
  }
  opened_remote_ = true;
  // On a failure the file is closed before its trailer: the pool discards it, never
  // publishes it, and that close's failure is the expected one, not worth a line.
  bool written = false;
  auto drop = make_deleter([&] {
    if (!written) io_.close();
  });
  if (!write_image(image_uuid, backup_set_uuid, progress_handler)) return false;
  written = true;
  // Only a file that was flushed, synced and published counts as uploaded.
  const bool closed = io_.close();
  storage_size_ = io_.storage_size();
  if (!closed) {
    ACE_ERROR((LM_ERROR, "Failed to close %s on storage pool: %s.\n", remote_path_file_.c_str(),
               io_.error()));
    storage_size_ = 0;
    return false;
  }
  return true;
}

bool Volume_Writer::write_image(const std::string& image_uuid, const std::string& backup_set_uuid,
                                const std::function<bool(unsigned long)>& progress_handler) {
  if (!writer_.init(512, block_size_, 1, 0)) {
    ACE_ERROR((LM_ERROR, "Failed to init image block writer.\n"));
    return false;
  }
  if (!writer_.write_superblock(uuid_string_to_binary(backup_set_uuid),
                                uuid_string_to_binary(image_uuid), 0, nullptr, 0)) {
    ACE_ERROR((LM_ERROR, "Failed to write super block.\n"));
    return false;
  }
  writer_.add_block(offset_, total_size_);
  auto source = [this](const char*& data, ssize_t size, ACE_OFF_T offset) {
    return read_block(data, size, offset);
  };
  // The pool's writer leaves errno at the cause: the pool's (ENOSPC on a full pool) or the
  // block source's.
  if (!writer_.write_blocks(progress_handler, source)) {
    const int error = errno;
    ACE_ERROR((LM_ERROR, "Failed to write data to image, error: %d, msg: %m.\n", error));
    return false;
  }
  return true;
}

ssize_t Volume_Writer::read_block(const char*& buf, ssize_t size, ACE_OFF_T offset) {
  YOLT_CHECK_LT(size, static_cast<ssize_t>(block_size_), -1);
  if (reader_.seek(offset, SEEK_SET) != offset) {
    const int error = reader_.last_error();
    errno = error;
    ACE_ERROR((LM_ERROR, "Failed to seek %Q, error: %d, msg: %m.\n",
               static_cast<ACE_UINT64>(offset), error));
    return -1;
  }
  size_t length = 0;
  const bool read = reader_.read(buf, length);
  // Anything but a whole block means the device shrank or ended: never a good image.
  if (!read || length != block_size_) {
    const int error = read ? EIO : reader_.last_error();
    ACE_ERROR((LM_ERROR, "Failed to read data, offset %Q, len %d, error: %d, msg: %s.\n",
               static_cast<ACE_UINT64>(offset), static_cast<int>(length), error,
               std::strerror(error)));
    return -1;
  }
  return static_cast<ssize_t>(length);
}

}  // namespace tavrocloud
