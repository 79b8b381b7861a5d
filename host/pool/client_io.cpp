#include "pool/client_io.h"

#include "pool/fs_util.h"
#include "pool/pool_file_system.h"
#include "pool/pool_registry.h"
#include "pool/file_hints.h"
#include "yolt/scoped_deleter.h"

#include <ace/Log_Msg.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace {

// Size of the buffer that gathers small writes and reads ahead of small reads.
constexpr size_t IO_BUFFER_SIZE = size_t(1) << 20;
// A read of at least this much goes straight into the caller's buffer and reads ahead
// only a little (enough for the record header that usually follows), so bulk data is
// copied once, from the page cache to its destination.
constexpr size_t DIRECT_READ_MIN = size_t(16) << 10;
constexpr size_t SHORT_READ_AHEAD = size_t(4) << 10;
// While a file is read, the kernel is asked to fetch this far ahead of the position, in
// steps of a quarter of it: a cold image then streams from the disk in large requests.
constexpr uint64_t PREFETCH_WINDOW = uint64_t(32) << 20;
// Writes of at least this much (with whatever is waiting in the buffer) go to the file
// directly instead of through the buffer.
constexpr size_t DIRECT_WRITE_MIN = size_t(64) << 10;
// Most iovecs handed to one writev (the system's limit is 1024).
constexpr int MAX_IOV = 512;
// Written data is handed to the disk in steps of this size while the file is still
// being written, so the sync at close finds little left to do.
constexpr uint64_t WRITE_BEHIND_STEP = uint64_t(16) << 20;
constexpr mode_t DIR_MODE = 0700;
constexpr mode_t FILE_MODE = 0600;

Pool_File_System& fs() { return Pool_File_System::current(); }

// The canonical `real`, which lies at or below the canonical pool folder `root`, as a
// path below that folder ("" for the folder itself).
std::string below_pool(const std::string& real, const std::string& root) {
  if (real.size() <= root.size()) return std::string();
  return real.substr(root == "/" ? 1 : root.size() + 1);
}

// How often an open for writing makes its folders again when one of them is removed
// before its file is created in it.
constexpr int CREATE_ROUNDS = 4;

// The folders that opens for writing of this process made, and those where a file is
// being written now. After a failed upload, the removal of its file and the teardown of
// the connection that made the folders remove those of them that are left empty, from the
// file's folder up: a folder that someone else made, one that holds anything and one where
// a file is being written (a file without a name shows in no listing) stay. Folders of
// sibling uploads (other connections, same job folder) are known here too, so the last
// failed upload of a run leaves no empty folder.
//
// The host lives as long as the product that loads it, so only the most recent
// MAX_NOTED folders are kept: a clean-up comes soon after the uploads of its run, and a
// folder forgotten meanwhile merely stays (empty) instead of being removed. The lock
// guards the notes only; a folder is looked at and removed outside it, marked as being
// removed, so that writers elsewhere never wait for a removal and a writer into that very
// folder waits only for its one rmdir.
class Made_Folders {
 public:
  static Made_Folders& instance() {
    static Made_Folders folders;
    return folders;
  }

  // Notes the folders `made` (absolute, as make_directories gives them) as this process's.
  void note(const std::vector<std::string>& made) {
    std::vector<std::pair<std::string, Identity>> found;
    for (const std::string& dir : made) {
      struct stat st;
      if (::lstat(dir.c_str(), &st) == 0) found.push_back({dir, {st.st_dev, st.st_ino}});
    }
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& f : found) {
      made_[f.first] = {f.second, ++serial_};
      order_.push_back({f.first, serial_});
    }
    forget_oldest();
  }

  // A file is written in `dir` from begin_write until end_write: it is never removed then.
  void begin_write(const std::string& dir) {
    std::unique_lock<std::mutex> guard(lock_);
    removed_.wait(guard, [&] { return removing_.count(dir) == 0; });
    ++writing_[dir];
  }
  void end_write(const std::string& dir) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = writing_.find(dir);
    if (it != writing_.end() && --it->second <= 0) writing_.erase(it);
  }

  // Removes `dir` and then each parent while it is a folder noted here, still the one
  // made (not replaced), empty and not written in.
  void prune(std::string dir) {
    for (;;) {
      Identity noted;
      {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = made_.find(dir);
        if (it == made_.end() || writing_.count(dir) != 0 || !removing_.insert(dir).second) return;
        noted = it->second.identity;
      }
      const Outcome outcome = remove_empty(dir, noted);
      {
        std::lock_guard<std::mutex> guard(lock_);
        removing_.erase(dir);
        const auto it = made_.find(dir);
        if (outcome != Outcome::KEPT && it != made_.end() && it->second.identity == noted)
          made_.erase(it);
      }
      removed_.notify_all();
      if (outcome != Outcome::REMOVED) return;
      dir = dir_of(dir);
    }
  }

 private:
  using Identity = std::pair<dev_t, ino_t>;
  enum class Outcome { REMOVED, KEPT, REPLACED };
  struct Note {
    Identity identity;
    uint64_t serial;  // tells this note from an earlier one of the same path in order_
  };
  static constexpr size_t MAX_NOTED = 4096;

  // Removes `dir` when it is the folder noted as `noted` and empty. REMOVED also when it
  // is gone; KEPT when it holds anything (or cannot be removed: logged); REPLACED when a
  // link or another folder took its place.
  static Outcome remove_empty(const std::string& dir, const Identity& noted) {
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) return errno == ENOENT ? Outcome::REMOVED : Outcome::KEPT;
    if (!S_ISDIR(st.st_mode) || st.st_dev != noted.first || st.st_ino != noted.second)
      return Outcome::REPLACED;
    if (::rmdir(dir.c_str()) == 0 || errno == ENOENT) return Outcome::REMOVED;
    if (errno != ENOTEMPTY && errno != EEXIST)
      ACE_ERROR((LM_WARNING, "Cannot remove the empty pool folder %s: %m.\n", dir.c_str()));
    return Outcome::KEPT;
  }

  // Called under lock_: drops the oldest notes beyond MAX_NOTED (and stale places in
  // order_ of notes already gone).
  void forget_oldest() {
    while (order_.size() > MAX_NOTED ||
           (!order_.empty() && !is_current(order_.front().first, order_.front().second))) {
      const auto& oldest = order_.front();
      if (is_current(oldest.first, oldest.second)) made_.erase(oldest.first);
      order_.pop_front();
    }
  }
  bool is_current(const std::string& dir, uint64_t serial) const {
    const auto it = made_.find(dir);
    return it != made_.end() && it->second.serial == serial;
  }

  std::mutex lock_;
  std::condition_variable removed_;
  std::map<std::string, Note> made_;
  std::deque<std::pair<std::string, uint64_t>> order_;  // notes, oldest first
  uint64_t serial_ = 0;
  std::map<std::string, int> writing_;
  std::set<std::string> removing_;
};

// Tries fresh hidden names "<dir>/.<name>.<random>.part" with `use` (which fails with
// EEXIST when a name is taken) until one is free; `use`'s result, with the name in `path`
// only on success.
template <typename Use>
int with_temporary_name(const std::string& dir, const std::string& name, std::string& path,
                        Use use) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string tag(8, 'x');
    for (char& c : tag) c = ALPHABET[random() % (sizeof ALPHABET - 1)];
    std::string candidate = dir + "/." + name + "." + tag + ".part";
    const int rc = use(candidate);
    if (rc >= 0) path = std::move(candidate);
    if (rc >= 0 || errno != EEXIST) return rc;
  }
  return -1;
}

// Creates the file to be written in `dir`, with `mode`: without a name, so that a writer
// that dies leaves nothing behind, or, where the file system cannot make one, under a new
// hidden name that no one else has (O_EXCL). Its descriptor, or -1 with errno set; `path`
// is the hidden name, empty for a file without one.
int create_file(const std::string& dir, const std::string& name, mode_t mode, std::string& path) {
  path.clear();
  const int fd = fs().open_unnamed(dir.c_str(), mode);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  return with_temporary_name(dir, name, path, [mode](const std::string& candidate) {
    return fs().open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  });
}

// Gives the unnamed file open as `fd`, written for `final_path`, a new hidden name beside
// it, from which it is renamed when published; 0 with the name in `path`, or -1 with
// errno set.
int link_temporary(int fd, const std::string& final_path, std::string& path) {
  return with_temporary_name(dir_of(final_path), base_of(final_path), path,
                             [fd](const std::string& candidate) {
                               return fs().link_unnamed(fd, candidate.c_str());
                             });
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
  if (mode != MODE_READ && mode != MODE_WRITE)
    return set_error("unknown open mode " + std::to_string(mode));
  try {
    return mode == MODE_READ ? open_read(full) : open_write(full, perms);
  } catch (const std::bad_alloc&) {
    abort();
    return set_error("out of memory opening " + full);
  }
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
  path_ = below_pool(real, pool_root_);  // the file itself is no link (O_NOFOLLOW)
  stored_ = static_cast<uint64_t>(st.st_size);
  buf_pos_ = buf_len_ = 0;
  file_pos_ = prefetched_to_ = prefetch_due_ = 0;
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
  Made_Folders& folders = Made_Folders::instance();
  folders.begin_write(dir);
  auto unmark = make_deleter([&] {
    if (fd_ < 0) folders.end_write(dir);
  });
  const mode_t mode = perms > 0 ? static_cast<mode_t>(perms) : FILE_MODE;
  std::string tmpl;
  int fd = -1;
  std::string in_pool;
  // An empty folder on the way may be removed meanwhile by the clean-up of a failed
  // upload (another connection or process): it is made again.
  for (int round = 1; fd < 0; ++round) {
    std::vector<std::string> made;
    const bool ready = make_directories(dir, DIR_MODE, &made);
    const int made_errno = errno;
    folders.note(made);
    made_dirs_.insert(made_dirs_.end(), made.begin(), made.end());
    if (!ready) return set_errno_error("cannot create " + dir, made_errno);
    const std::string real_dir = real_path(dir);
    if (!path_within(real_dir, pool_root_)) return set_error(full + " lies outside the pool");
    in_pool = below_pool(real_dir, pool_root_);
    struct stat st;
    if (!options_.overwrite && ::lstat(full.c_str(), &st) == 0)
      return set_errno_error("cannot write " + full, EEXIST);
    fd = create_file(dir, base_of(full), mode, tmpl);
    if (fd < 0 && (errno != ENOENT || round == CREATE_ROUNDS))
      return set_errno_error("cannot create a file in " + dir, errno);
  }
  // The mode is set exactly, whatever the process's umask.
  if (::fchmod(fd, mode) != 0) {
    const int e = errno;
    ::close(fd);
    if (!tmpl.empty()) fs().remove(tmpl.c_str());
    return set_errno_error("cannot set the mode of the new file for " + full, e);
  }
  fd_ = fd;
  mode_ = MODE_WRITE;
  writing_dir_ = dir;
  temp_path_ = tmpl;
  final_path_ = full;
  path_ = (in_pool.empty() ? "" : in_pool + "/") + base_of(full);
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
  if (done > 0) std::memcpy(out, buffer_.data() + buf_pos_, done);
  buf_pos_ += done;
  while (done < len) {
    prefetch();
    // One call fills the caller's buffer and reads ahead into ours.
    const size_t want = len - done;
    const size_t ahead = want >= DIRECT_READ_MIN ? std::min(SHORT_READ_AHEAD, buffer_.size())
                                                 : buffer_.size();
    struct iovec iov[2] = {{out + done, want}, {buffer_.data(), ahead}};
    const ssize_t n = ::readv(fd_, iov, 2);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      set_errno_error("cannot read " + final_path_, errno);
      return -1;
    }
    if (n == 0) break;
    const size_t got = static_cast<size_t>(n);
    file_pos_ += got;
    throttle(got);
    if (got <= want) {
      done += got;
    } else {
      buf_pos_ = 0;
      buf_len_ = got - want;
      done = len;
    }
  }
  return static_cast<ssize_t>(done);
}

void Client_IO::prefetch() {
  if (file_pos_ < prefetch_due_ || prefetched_to_ >= stored_) return;
  const uint64_t from = std::max(prefetched_to_, file_pos_);
  const uint64_t to = std::min<uint64_t>(stored_, file_pos_ + PREFETCH_WINDOW);
  // A hint only: a failure costs speed, never data.
  if (to > from)
    ::posix_fadvise(fd_, static_cast<off_t>(from), static_cast<off_t>(to - from),
                    POSIX_FADV_WILLNEED);
  prefetched_to_ = to;
  prefetch_due_ = file_pos_ + PREFETCH_WINDOW / 4;
}

bool Client_IO::write_fd(struct iovec* iov, int count) {
  uint64_t total = 0;
  for (int i = 0; i < count; ++i) total += iov[i].iov_len;
  throttle(static_cast<size_t>(total));
  while (count > 0) {
    if (iov->iov_len == 0) {
      ++iov;
      --count;
      continue;
    }
    const ssize_t n = fs().writev(fd_, iov, std::min(count, MAX_IOV));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return set_errno_error("cannot write " + final_path_, errno);
    size_t left = static_cast<size_t>(n);
    while (count > 0 && left >= iov->iov_len) {
      left -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
    file_pos_ += static_cast<uint64_t>(n);
  }
  if (file_pos_ - flushed_to_ >= WRITE_BEHIND_STEP) {
    try {
      if (!write_behind_)
        write_behind_ = std::make_unique<File_Hints>(fd_, File_Hints::WRITE_BACK);
      write_behind_->request(flushed_to_, file_pos_);
    } catch (const std::bad_alloc&) {
      // Without a helper the sync at close does all the work.
    }
    flushed_to_ = file_pos_;
  }
  return true;
}

bool Client_IO::write(const void* buf, size_t len) {
  struct iovec iov = {const_cast<void*>(buf), len};
  return write(&iov, 1);
}

bool Client_IO::write(const struct iovec* iov, int count) {
  if (fd_ < 0 || mode_ != MODE_WRITE) return set_error("no file is open for writing");
  if (write_failed_) return false;
  if (count < 0 || (count > 0 && iov == nullptr)) return set_error("bad iovec list");
  size_t len = 0;
  for (int i = 0; i < count; ++i) len += iov[i].iov_len;
  if (!options_.flush_after_write && len < DIRECT_WRITE_MIN && buf_len_ + len <= buffer_.size()) {
    for (int i = 0; i < count; ++i) {
      if (iov[i].iov_len == 0) continue;  // its base may be null
      std::memcpy(buffer_.data() + buf_len_, iov[i].iov_base, iov[i].iov_len);
      buf_len_ += iov[i].iov_len;
    }
  } else {
    // What waits in the buffer goes first, in the same call.
    try {
      iov_.clear();
      iov_.push_back({buffer_.data(), buf_len_});
      iov_.insert(iov_.end(), iov, iov + count);
    } catch (const std::bad_alloc&) {
      return set_error("out of memory writing " + final_path_);
    }
    buf_len_ = 0;
    if (!write_fd(iov_.data(), static_cast<int>(iov_.size()))) {
      write_failed_ = true;
      return false;
    }
  }
  stored_ += len;
  return true;
}

bool Client_IO::flush_buffer() {
  struct iovec pending = {buffer_.data(), buf_len_};
  buf_len_ = 0;
  return write_fd(&pending, 1);
}

void Client_IO::reset_file() {
  if (!writing_dir_.empty()) Made_Folders::instance().end_write(writing_dir_);
  writing_dir_.clear();
  fd_ = -1;
  mode_ = 0;
  held_ = false;
  write_failed_ = false;
  file_pos_ = flushed_to_ = prefetched_to_ = prefetch_due_ = 0;
  temp_path_.clear();
  final_path_.clear();
  path_.clear();
  buf_pos_ = buf_len_ = 0;
}

void Client_IO::abort() {
  if (fd_ < 0) return;
  write_behind_.reset();
  ::close(fd_);
  if (mode_ == MODE_WRITE && !temp_path_.empty()) fs().remove(temp_path_.c_str());
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
  write_behind_.reset();
  if (ok && fs().fsync(fd_) != 0) ok = set_errno_error("cannot sync " + name, errno);
  // An unnamed file gets its hidden name only now, while its descriptor is open.
  if (ok && temp_path_.empty() && link_temporary(fd_, name, temp_path_) != 0)
    ok = set_errno_error("cannot link the file written for " + name, errno);
  if (::close(fd_) != 0 && ok) ok = set_errno_error("cannot close " + name, errno);
  if (ok && fs().rename(temp_path_.c_str(), name.c_str(), options_.overwrite) != 0)
    ok = set_errno_error("cannot rename " + temp_path_ + " to " + name, errno);
  if (!ok && !temp_path_.empty()) fs().remove(temp_path_.c_str());
  reset_file();
  if (!ok) return false;
  const std::string dir = dir_of(name);
  if (fs().sync_directory(dir.c_str()) != 0) {
    // The name may not survive a crash, so the file is not reported as published; it is
    // taken back so that a failed close never leaves a file that looks complete.
    set_errno_error("cannot sync the directory of " + name, errno);
    if (fs().remove(name.c_str()) == 0) fs().sync_directory(dir.c_str());
    return false;
  }
  return true;
}

void Client_IO::prune_made_directories() {
  // Deepest first: each removal may leave its parent empty.
  for (auto it = made_dirs_.rbegin(); it != made_dirs_.rend(); ++it)
    Made_Folders::instance().prune(*it);
  made_dirs_.clear();
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
  if (fs().remove(full.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR)
    return set_errno_error("cannot remove " + full, errno);
  Made_Folders::instance().prune(dir_of(full));
  return true;
}

void Client_IO_Ex::teardown() {
  if (is_open()) {
    // A written file that nobody closed is not complete: never publish it here.
    abort();
  }
  prune_made_directories();
  connected_ = false;
  pool_root_.clear();
  base_dir_.clear();
  options_ = Options();
}
