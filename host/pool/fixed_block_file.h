// Whole-block access to a local file or block device: the volume upload reads the
// attached device block by block into one aligned buffer and hands out a pointer into
// it (no copy); the volume restore writes each restored block at its offset. A writer
// never truncates a device and creates a missing file only when asked to (O_CREAT), so
// a vanished device link cannot turn into a file.
#ifndef POOL_FIXED_BLOCK_FILE_H
#define POOL_FIXED_BLOCK_FILE_H

#include "client_io/client_io_base.h"
#include "pool/file_hints.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

// A buffer of one block, aligned for direct I/O.
template <typename Char>
class File_Buffer_T {
 public:
  static constexpr size_t ALIGNMENT = 4096;

  // Makes room for `size` elements; false (errno ENOMEM) when that fails.
  bool allocate(size_t size) {
    if (size == size_) return true;
    void* p = nullptr;
    const size_t bytes = (size * sizeof(Char) + ALIGNMENT - 1) / ALIGNMENT * ALIGNMENT;
    if (size == 0 || ::posix_memalign(&p, ALIGNMENT, bytes) != 0) {
      errno = ENOMEM;
      return false;
    }
    data_.reset(static_cast<Char*>(p));
    size_ = size;
    return true;
  }
  Char* data() { return data_.get(); }
  const Char* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(Char* p) const { std::free(p); }
  };
  std::unique_ptr<Char, Free> data_;
  size_t size_ = 0;
};

// The descriptor, position and error shared by the reader and the writer.
class Fixed_Block_File_Base {
 public:
  Fixed_Block_File_Base() = default;
  ~Fixed_Block_File_Base() { close(); }
  Fixed_Block_File_Base(const Fixed_Block_File_Base&) = delete;
  Fixed_Block_File_Base& operator=(const Fixed_Block_File_Base&) = delete;

  // Moves the position; returns the new position, or -1 with last_error() set.
  ACE_OFF_T seek(ACE_OFF_T offset, int whence);

  // Closes the file (syncing and dropping its cache as its options say; a block device
  // that was written is always synced, so a write-back error is reported here and not
  // lost after the device is detached); true when that succeeded or nothing was open.
  bool close();

  bool is_open() const { return fd_ >= 0; }
  // errno of the last failure (0 when none).
  int last_error() const { return last_error_; }
  int handle() const { return fd_; }
  const File_Options& file_options() const { return options_; }

 protected:
  bool open_fd(const std::string& path, int flags, mode_t mode, const File_Options& options);
  bool set_error(int err) {
    last_error_ = err;
    errno = err;
    return false;
  }
  // Drops the page cache behind `bytes` just transferred when the options say so.
  void after_transfer(size_t bytes);
  // A block device being written hands its data to the disk in steps while it is
  // written (the `bytes` just written at `at`), so the sync that ends the writing finds
  // little left to do.
  void write_behind(uint64_t at, size_t bytes);

  int fd_ = -1;
  ACE_OFF_T pos_ = 0;
  int last_error_ = 0;
  File_Options options_;
  uint64_t since_discard_ = 0;
  uint64_t since_sync_ = 0;
  bool writing_ = false;
  bool block_device_ = false;
  uint64_t behind_from_ = UINT64_MAX;  // the range written since the last step
  uint64_t behind_to_ = 0;
  // A helper thread gives the kernel hints: write-back for a device being written, a
  // fetch ahead for a file read with read-ahead. Made when first needed.
  std::unique_ptr<File_Hints> hints_;
};

template <typename Char, typename Buffer>
class Fixed_Block_File_Reader_T : public Fixed_Block_File_Base {
 public:
  // Opens `path` read-only with `flags` (O_CLOEXEC and the like) and one buffer of
  // `options.block_size`; `mode` is unused for reading; with `require_block_device` a
  // file that is not a block device is refused (ENODEV). True on success, false with
  // last_error() set.
  bool open(const std::string& path, int flags, const File_Options& options, mode_t mode,
            bool require_block_device) {
    if (options.block_size == 0) return set_error(EINVAL);
    if (!buffer_.allocate(options.block_size)) return set_error(ENOMEM);
    int f = (flags & ~(O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) | O_RDONLY;
    if (options.discard_cache == File_Options::DISCARD_CACHE_DIRECT_IO) f |= O_DIRECT;
    if (!open_fd(path, f, mode, options)) return false;
    struct stat st;
    if (require_block_device && (::fstat(fd_, &st) != 0 || !S_ISBLK(st.st_mode))) {
      Fixed_Block_File_Base::close();
      return set_error(ENODEV);
    }
    ::posix_fadvise(fd_, 0, 0, options.read_ahead ? POSIX_FADV_SEQUENTIAL : POSIX_FADV_NORMAL);
    window_start_ = prefetched_to_ = prefetch_due_ = 0;
    return true;
  }

  // Reads one block at the position into the buffer: `data` points at it and `length`
  // is the bytes read (less than a block only at the end, 0 there). True on success,
  // false with last_error() set.
  bool read(const Char*& data, size_t& length) {
    length = 0;
    if (fd_ < 0) return set_error(EBADF);
    const size_t want = buffer_.size() * sizeof(Char);
    if (options_.read_ahead) prefetch(want);
    char* out = reinterpret_cast<char*>(buffer_.data());
    size_t got = 0;
    while (got < want) {
      const ssize_t n = ::pread(fd_, out + got, want - got, pos_ + static_cast<ACE_OFF_T>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return set_error(errno);
      if (n == 0) break;
      got += static_cast<size_t>(n);
    }
    pos_ += static_cast<ACE_OFF_T>(got);
    after_transfer(got);
    data = buffer_.data();
    length = got / sizeof(Char);
    return true;
  }

 private:
  // With read-ahead, the kernel is asked to fetch this far ahead of the position, in
  // steps of a quarter of it: a device that is read block by block then streams in
  // large requests that overlap with the reader's own work. Only a hint.
  static constexpr uint64_t PREFETCH_WINDOW = uint64_t(16) << 20;

  void prefetch(size_t want) {
    const uint64_t pos = static_cast<uint64_t>(pos_);
    // A seek out of the window (backwards, or beyond what was asked for) starts anew.
    const bool inside = pos >= window_start_ && pos + want <= prefetched_to_;
    if (inside && pos < prefetch_due_) return;
    const uint64_t from = inside ? prefetched_to_ : pos;
    const uint64_t to = pos + std::max<uint64_t>(PREFETCH_WINDOW, want);
    if (!inside) window_start_ = pos;
    prefetched_to_ = to;
    prefetch_due_ = pos + PREFETCH_WINDOW / 4;
    try {
      if (!hints_) hints_ = std::make_unique<File_Hints>(fd_, File_Hints::FETCH);
      hints_->request(from, to);
    } catch (const std::bad_alloc&) {
      // The kernel's own read-ahead remains.
    }
  }

  Buffer buffer_;
  uint64_t window_start_ = 0;   // read-ahead: where the window began
  uint64_t prefetched_to_ = 0;  // the kernel was asked to fetch up to here
  uint64_t prefetch_due_ = 0;   // the position from which to ask again
};

template <typename Char, typename Buffer>
class Fixed_Block_File_Writer_T : public Fixed_Block_File_Base {
 public:
  // Opens `path` for writing with `flags` (O_CLOEXEC, O_CREAT to create a missing file
  // with `mode`); `truncate` empties a regular file, never a device. True on success,
  // false with last_error() set.
  bool open(const std::string& path, int flags, bool truncate, mode_t mode,
            const File_Options& options) {
    int f = (flags & ~(O_RDONLY | O_RDWR | O_TRUNC)) | O_WRONLY;
    const bool direct = options.discard_cache == File_Options::DISCARD_CACHE_DIRECT_IO;
    if (direct) {
      if (options.block_size == 0 || !buffer_.allocate(options.block_size)) return set_error(EINVAL);
      f |= O_DIRECT;
    }
    if (!open_fd(path, f, mode, options)) return false;
    writing_ = true;
    struct stat st;
    const bool known = ::fstat(fd_, &st) == 0;
    block_device_ = known && S_ISBLK(st.st_mode);
    if (truncate && known && S_ISREG(st.st_mode) && ::ftruncate(fd_, 0) != 0) {
      const int e = errno;
      Fixed_Block_File_Base::close();
      return set_error(e);
    }
    return true;
  }

  // Writes `length` elements at the position, all of them; `sync_now` also syncs the
  // data to the disk. True on success, false with last_error() set.
  bool write(const Char* data, size_t length, bool sync_now) {
    if (fd_ < 0) return set_error(EBADF);
    const char* in = reinterpret_cast<const char*>(data);
    const size_t bytes = length * sizeof(Char);
    if (options_.discard_cache == File_Options::DISCARD_CACHE_DIRECT_IO) {
      // Direct I/O needs an aligned buffer of whole blocks.
      if (bytes > buffer_.size() * sizeof(Char)) return set_error(EINVAL);
      std::memcpy(buffer_.data(), in, bytes);
      in = reinterpret_cast<const char*>(buffer_.data());
    }
    size_t done = 0;
    while (done < bytes) {
      const ssize_t n = ::pwrite(fd_, in + done, bytes - done, pos_ + static_cast<ACE_OFF_T>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return set_error(n < 0 ? errno : EIO);
      done += static_cast<size_t>(n);
    }
    pos_ += static_cast<ACE_OFF_T>(bytes);
    since_sync_ += bytes;
    const bool sync_due = sync_now || options_.sync == File_Options::SYNC_ALL ||
                          (options_.sync > 0 && since_sync_ >= static_cast<uint64_t>(options_.sync));
    if (sync_due) {
      since_sync_ = 0;
      if (::fdatasync(fd_) != 0) return set_error(errno);
    }
    if (block_device_) write_behind(static_cast<uint64_t>(pos_) - bytes, bytes);
    after_transfer(bytes);
    return true;
  }

 private:
  Buffer buffer_;
};

using Fixed_Block_File_Reader = Fixed_Block_File_Reader_T<char, File_Buffer_T<char>>;
using Fixed_Block_File_Writer = Fixed_Block_File_Writer_T<char, File_Buffer_T<char>>;

#endif  // POOL_FIXED_BLOCK_FILE_H
