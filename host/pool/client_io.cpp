#include "pool/client_io.h"

#include "pool/fs_util.h"
#include "pool/pool_registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

namespace {

// Size of the buffer that gathers small writes and reads ahead of small reads.
constexpr size_t IO_BUFFER_SIZE = size_t(1) << 20;
// Written data is handed to the disk in steps of this size while the file is still
// being written, so the sync at close finds little left to do.
constexpr uint64_t WRITE_BEHIND_STEP = uint64_t(32) << 20;
constexpr mode_t DIR_MODE = 0750;
constexpr mode_t FILE_MODE = 0640;

// Renames `from` to `to`, refusing to replace an existing `to` unless `replace`.
int rename_file(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str());
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // The file system cannot rename without replacing: a hard link refuses an existing
  // name just as well.
  if (::link(from.c_str(), to.c_str()) != 0) return -1;
  ::unlink(from.c_str());
  return 0;
}

}  // namespace

Client_IO::Client_IO() = default;

Client_IO::~Client_IO() {
  if (fd_ >= 0) abort();
}

bool Client_IO::set_error(const std::string& text) {
  error_ = text;
  return false;
}

bool Client_IO::set_errno_error(const std::string& what, int err) {
  return set_error(what + ": " + std::strerror(err));
}

bool Client_IO::resolve(const std::string& path, std::string& full) {
  if (!connected_) return set_error("not connected to a storage pool");
  std::string rel;
  if (!normalise_relative_path(path, rel))
    return set_error("refused pool path \"" + path + "\": it must be relative, without \"..\"");
  full = base_dir_ + "/" + rel;
  return true;
}

bool Client_IO::open(const std::string& path, int mode, int /*flags*/, int perms) {
  if (fd_ >= 0) return set_error("a file is already open on this connection");
  std::string full;
  if (!resolve(path, full)) return false;
  try {
    if (mode == MODE_READ) return open_read(full);
    if (mode == MODE_WRITE) return open_write(full, perms);
  } catch (const std::bad_alloc&) {
    abort();
    return set_error("out of memory opening " + full);
  }
  return set_error("unknown open mode " + std::to_string(mode));
}

bool Client_IO::open_read(const std::string& full) {
  const std::string real = real_path(full);
  if (real.empty()) return set_errno_error("cannot open " + full, errno);
  if (!path_within(real, pool_root_)) return set_error(full + " lies outside the pool");
  const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return set_errno_error("cannot open " + full, errno);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return set_error(full + " is not a regular file");
  }
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  fd_ = fd;
  mode_ = MODE_READ;
  final_path_ = full;
  stored_ = static_cast<uint64_t>(st.st_size);
  buf_pos_ = buf_len_ = 0;
  // Read-ahead beyond the end of the file is pointless: small files get small buffers.
  buffer_.resize(std::min<uint64_t>(IO_BUFFER_SIZE, std::max<uint64_t>(stored_ + 1, 4096)));
  limiter_ = Rate_Limiter(options_.rate_limits.src_rate_limits);
  return true;
}

bool Client_IO::open_write(const std::string& full, int perms) {
  const std::string dir = dir_of(full);
  // Checked before anything is created, so that a link inside the pool cannot make
  // directories appear elsewhere, and again after.
  if (!path_within(real_existing_ancestor(dir), pool_root_))
    return set_error(full + " lies outside the pool");
  if (!make_directories(dir, DIR_MODE)) return set_errno_error("cannot create " + dir, errno);
  if (!path_within(real_path(dir), pool_root_)) return set_error(full + " lies outside the pool");
  struct stat st;
  if (!options_.overwrite && ::lstat(full.c_str(), &st) == 0)
    return set_errno_error("cannot write " + full, EEXIST);
  std::string tmpl = dir + "/." + base_of(full) + ".XXXXXX.part";
  const int fd = ::mkostemps(&tmpl[0], 5, O_CLOEXEC);
  if (fd < 0) return set_errno_error("cannot create a file in " + dir, errno);
  if (::fchmod(fd, perms > 0 ? static_cast<mode_t>(perms) : FILE_MODE) != 0) {
    const int e = errno;
    ::close(fd);
    ::unlink(tmpl.c_str());
    return set_errno_error("cannot set the mode of " + tmpl, e);
  }
  fd_ = fd;
  mode_ = MODE_WRITE;
  temp_path_ = tmpl;
  final_path_ = full;
  stored_ = 0;
  buf_pos_ = buf_len_ = 0;
  buffer_.resize(IO_BUFFER_SIZE);
  limiter_ = Rate_Limiter(options_.rate_limits.dest_rate_limits);
  return true;
}

void Client_IO::throttle(size_t bytes) {
  if (limiter_.unlimited()) return;
  const Rate_Limiter::Clock::duration wait = limiter_.reserve(bytes);
  if (wait > Rate_Limiter::Clock::duration::zero()) std::this_thread::sleep_for(wait);
}

ssize_t Client_IO::read(void* buf, size_t len) {
  if (fd_ < 0 || mode_ != MODE_READ) {
    set_error("no file is open for reading");
    return -1;
  }
  char* out = static_cast<char*>(buf);
  size_t done = std::min(len, buf_len_ - buf_pos_);
  std::memcpy(out, buffer_.data() + buf_pos_, done);
  buf_pos_ += done;
  while (done < len) {
    // One call fills the caller's buffer and reads ahead into ours.
    struct iovec iov[2] = {{out + done, len - done}, {buffer_.data(), buffer_.size()}};
    throttle(len - done);
    const ssize_t n = ::readv(fd_, iov, 2);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      set_errno_error("cannot read " + final_path_, errno);
      return -1;
    }
    if (n == 0) break;
    const size_t got = static_cast<size_t>(n);
    if (got <= len - done) {
      done += got;
    } else {
      buf_pos_ = 0;
      buf_len_ = got - (len - done);
      done = len;
    }
  }
  return static_cast<ssize_t>(done);
}

bool Client_IO::write_fd(const void* a, size_t alen, const void* b, size_t blen) {
  struct iovec iov[2] = {{const_cast<void*>(a), alen}, {const_cast<void*>(b), blen}};
  struct iovec* v = iov;
  int count = 2;
  throttle(alen + blen);
  while (count > 0) {
    if (v->iov_len == 0) {
      ++v;
      --count;
      continue;
    }
    const ssize_t n = ::writev(fd_, v, count);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return set_errno_error("cannot write " + final_path_, errno);
    size_t left = static_cast<size_t>(n);
    while (count > 0 && left >= v->iov_len) {
      left -= v->iov_len;
      ++v;
      --count;
    }
    if (count > 0) {
      v->iov_base = static_cast<char*>(v->iov_base) + left;
      v->iov_len -= left;
    }
    file_pos_ += static_cast<uint64_t>(n);
  }
  if (file_pos_ - flushed_to_ >= WRITE_BEHIND_STEP) {
    // Starts the write-back only; a failure here surfaces at the sync in close().
    ::sync_file_range(fd_, static_cast<off64_t>(flushed_to_),
                      static_cast<off64_t>(file_pos_ - flushed_to_), SYNC_FILE_RANGE_WRITE);
    flushed_to_ = file_pos_;
  }
  return true;
}

bool Client_IO::write(const void* buf, size_t len) {
  if (fd_ < 0 || mode_ != MODE_WRITE) return set_error("no file is open for writing");
  if (write_failed_) return false;
  if (!options_.flush_after_write && buf_len_ + len <= buffer_.size()) {
    std::memcpy(buffer_.data() + buf_len_, buf, len);
    buf_len_ += len;
  } else {
    const size_t pending = buf_len_;
    buf_len_ = 0;
    if (!write_fd(buffer_.data(), pending, buf, len)) {
      write_failed_ = true;
      return false;
    }
  }
  stored_ += len;
  return true;
}

bool Client_IO::flush_buffer() {
  const size_t pending = buf_len_;
  buf_len_ = 0;
  return write_fd(buffer_.data(), pending, nullptr, 0);
}

void Client_IO::reset_file() {
  fd_ = -1;
  mode_ = 0;
  held_ = false;
  write_failed_ = false;
  file_pos_ = flushed_to_ = 0;
  temp_path_.clear();
  final_path_.clear();
  buf_pos_ = buf_len_ = 0;
}

void Client_IO::abort() {
  if (fd_ < 0) return;
  ::close(fd_);
  if (mode_ == MODE_WRITE) ::unlink(temp_path_.c_str());
  reset_file();
}

bool Client_IO::close() {
  if (fd_ < 0) return true;
  if (mode_ == MODE_READ) {
    const bool ok = ::close(fd_) == 0 || errno == EINTR;
    const int e = errno;
    const std::string name = final_path_;
    reset_file();
    return ok || set_errno_error("cannot close " + name, e);
  }
  const std::string name = final_path_;
  if (write_failed_) {
    // The data is incomplete; the error of the failed write stays the one reported.
    abort();
    return false;
  }
  if (held_) {
    abort();
    return set_error("discarded " + name + ": it was not written completely");
  }
  bool ok = flush_buffer();
  if (ok && ::fsync(fd_) != 0) ok = set_errno_error("cannot sync " + name, errno);
  if (::close(fd_) != 0 && ok) ok = set_errno_error("cannot close " + name, errno);
  if (ok && rename_file(temp_path_, name, options_.overwrite) != 0)
    ok = set_errno_error("cannot rename " + temp_path_ + " to " + name, errno);
  if (!ok) ::unlink(temp_path_.c_str());
  reset_file();
  if (!ok) return false;
  if (!sync_directory(dir_of(name))) return set_errno_error("cannot sync the directory of " + name, errno);
  return true;
}

Client_IO_Ex::Client_IO_Ex() = default;

Client_IO_Ex::~Client_IO_Ex() { teardown(); }

bool Client_IO_Ex::connect(const std::string& url, const Options& options) {
  teardown();
  std::string dir;
  if (!pool_url_to_path(url, dir))
    return set_error("unsupported pool url \"" + url + "\" (need file:// and an absolute path)");
  Pool_Registry registry;
  std::string why;
  if (!registry.load(&why)) return set_error(why);
  const Pool_Record* pool = registry.find_root_of(dir);
  if (pool == nullptr) return set_error(url + " is not under a registered storage pool");
  const std::string root = real_path(pool->root());
  if (root.empty()) return set_errno_error("storage pool directory " + pool->root(), errno);
  const std::string real_dir = real_path(dir);
  if (!real_dir.empty() && !path_within(real_dir, root))
    return set_error(url + " lies outside its storage pool");
  pool_root_ = root;
  base_dir_ = dir;
  options_ = options;
  connected_ = true;
  return true;
}

bool Client_IO_Ex::remove(const std::string& path) {
  std::string full;
  if (!resolve(path, full)) return false;
  if (!path_within(real_existing_ancestor(dir_of(full)), pool_root_))
    return set_error(full + " lies outside the pool");
  if (::unlink(full.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR)
    return set_errno_error("cannot remove " + full, errno);
  return true;
}

void Client_IO_Ex::teardown() {
  if (is_open()) {
    // A written file that nobody closed is not complete: never publish it here.
    abort();
  }
  connected_ = false;
  pool_root_.clear();
  base_dir_.clear();
  options_ = Options();
}
