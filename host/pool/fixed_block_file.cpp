#include "pool/fixed_block_file.h"

#include <algorithm>
#include <new>

namespace {

// Bytes written to a block device between two starts of its write-back.
constexpr uint64_t WRITE_BEHIND_STEP = uint64_t(16) << 20;

}  // namespace

ACE_OFF_T Fixed_Block_File_Base::seek(ACE_OFF_T offset, int whence) {
  if (fd_ < 0) {
    set_error(EBADF);
    return -1;
  }
  ACE_OFF_T target = -1;
  switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = pos_ + offset; break;
    case SEEK_END: target = ::lseek(fd_, offset, SEEK_END); break;
    default: break;
  }
  if (target < 0) {
    set_error(whence == SEEK_END ? errno : EINVAL);
    return -1;
  }
  pos_ = target;
  return pos_;
}

bool Fixed_Block_File_Base::open_fd(const std::string& path, int flags, mode_t mode,
                                    const File_Options& options) {
  close();
  last_error_ = 0;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return set_error(errno);
  fd_ = fd;
  pos_ = 0;
  options_ = options;
  since_discard_ = since_sync_ = 0;
  behind_from_ = UINT64_MAX;
  behind_to_ = 0;
  writing_ = false;
  block_device_ = false;
  return true;
}

void Fixed_Block_File_Base::after_transfer(size_t bytes) {
  if (options_.discard_cache <= 0) return;
  since_discard_ += bytes;
  if (since_discard_ < static_cast<uint64_t>(options_.discard_cache)) return;
  since_discard_ = 0;
  if (writing_) ::fdatasync(fd_);
  ::posix_fadvise(fd_, 0, pos_, POSIX_FADV_DONTNEED);
}

void Fixed_Block_File_Base::write_behind(uint64_t at, size_t bytes) {
  behind_from_ = std::min(behind_from_, at);
  behind_to_ = std::max(behind_to_, at + bytes);
  if (behind_to_ - behind_from_ < WRITE_BEHIND_STEP) return;
  try {
    if (!hints_) hints_ = std::make_unique<File_Hints>(fd_, File_Hints::WRITE_BACK);
    hints_->request(behind_from_, behind_to_);
  } catch (const std::bad_alloc&) {
    // Without a helper the sync at close does all the work.
  }
  behind_from_ = UINT64_MAX;
  behind_to_ = 0;
}

bool Fixed_Block_File_Base::close() {
  if (fd_ < 0) return true;
  // The helper is done with the descriptor before it is synced and closed.
  hints_.reset();
  bool ok = true;
  if (writing_) {
    if (options_.sync_close == File_Options::SYNC_CLOSE_SYNC || block_device_) {
      ok = ::fsync(fd_) == 0 || set_error(errno);
    } else if (options_.sync_close == File_Options::SYNC_CLOSE_ASYNC) {
      ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
  }
  if (options_.discard_cache == File_Options::DISCARD_CACHE_ON_CLOSE) {
    if (writing_ && ok) ::fdatasync(fd_);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED);
  }
  if (::close(fd_) != 0 && errno != EINTR && ok) ok = set_error(errno);
  fd_ = -1;
  writing_ = false;
  block_device_ = false;
  return ok;
}
