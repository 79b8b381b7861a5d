// The connection to a storage pool and the one file open on it. A pool is a directory
// registered in the host's pool registry (pool/pool_registry.h); a connection's url
// ("file:///dir", as get_pool_info gives it, optionally with sub-directories) must lie at
// or below a registered pool root, and every path opened or removed is relative to it.
// The volume upload writes images through it, the volume restore reads them.
//
// A file written through a connection is created without a name in its directory, so
// that a writer that dies (killed, the machine down) leaves nothing in the pool; close()
// flushes and syncs it, links it under a hidden temporary name beside its final name,
// renames it to the final name and syncs the directory, and only then is it there. Where
// the file system cannot make a file without a name, it is written under the hidden
// temporary name from the start (which a dead writer leaves behind). A file that is not
// closed successfully is discarded. The file-system calls go through Pool_File_System
// (pool/pool_file_system.h), where tests make them fail. One connection serves one
// thread at a time; several connections may be used at once from different threads.
#ifndef POOL_CLIENT_IO_H
#define POOL_CLIENT_IO_H

#include "client_io/client_io_base.h"
#include "pool/aligned_buffer.h"
#include "pool/rate_limiter.h"

#include <sys/types.h>
#include <sys/uio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class File_Hints;

class Client_IO : public Client_IO_Base {
 public:
  virtual ~Client_IO();
  Client_IO(const Client_IO&) = delete;
  Client_IO& operator=(const Client_IO&) = delete;

  // Opens `path` (relative to the connection, no "..") with MODE_READ or MODE_WRITE.
  // Writing creates missing parent directories (again, when one is removed meanwhile as
  // empty by another connection's clean-up) and fails when the file exists unless the
  // options say overwrite. `flags` is reserved (0); `perms` is the mode of a new
  // file (0 for 0600). True when open; false with error() set (also when not connected
  // or a file is already open).
  bool open(const std::string& path, int mode, int flags, int perms);

  // Reads up to `len` bytes; returns the count (short only at the end of the file) or
  // -1 with error() set. Only in MODE_READ.
  ssize_t read(void* buf, size_t len);

  // Writes all `len` bytes (small writes are gathered in a buffer unless the options
  // say flush_after_write; large ones go to the file at once); false with error() set.
  // Only in MODE_WRITE.
  bool write(const void* buf, size_t len);
  // Writes the `count` pieces of `iov` one after the other, as write() would write
  // their concatenation, without copying large pieces; false with error() set.
  bool write(const struct iovec* iov, int count);

  // Closes the open file: a read file is just closed; a written file is flushed,
  // synced, given its temporary name, renamed to its final name and its directory synced. True when that all
  // succeeded and also when no file is open; false with error() set on any failure, in
  // which case no file remains under the final name: when only the directory sync
  // failed, after the rename, the file is removed again (with `overwrite`, the file it
  // replaced is gone too), so the caller never has to tell a published file from a
  // failed one.
  bool close();

  // Drops the open file: a file being written is removed, nothing is published.
  void abort();

  // While held, close() discards the written file instead of publishing it and
  // reports the failure: the image writer holds the file from its init until its
  // trailer is written, so an interrupted image never appears under its final name. A
  // hold lasts until released or the file is closed or dropped; opening a file keeps it.
  void hold_publication() { held_ = true; }
  void release_publication() { held_ = false; }

  bool is_open() const { return fd_ >= 0; }
  // The open file's path below the folder of its registered pool, whatever folder the
  // connection is at, with links among its folders resolved ("" when none is open). A
  // pool image claims this path as its name when written and is read only under it
  // (pool/image_format.h), so it reads through a connection at any depth.
  const std::string& path() const { return path_; }
  // Text of the last failure ("" when none yet).
  const char* error() const { return error_.c_str(); }
  // Bytes stored for the open (or last) file: its size when read, the bytes written so
  // far when written.
  uint64_t storage_size() const { return stored_; }
  const Options& options() const { return options_; }

 protected:
  Client_IO();

  bool set_error(const std::string& text);
  bool set_errno_error(const std::string& what, int err);
  // The absolute path of `path` below the connection; false (error set) when not
  // connected or the path is refused.
  bool resolve(const std::string& path, std::string& full);
  // Removes the folders that this connection's opens for writing made, where empty (as
  // Client_IO_Ex::remove does), and forgets them.
  void prune_made_directories();

  // Connection state, set by Client_IO_Ex.
  std::string pool_root_;  // canonical root of the pool
  std::string base_dir_;   // the connection's directory (normalised, absolute)
  bool connected_ = false;
  Options options_;

 private:
  bool open_read(const std::string& full);
  bool open_write(const std::string& full, int perms);
  bool flush_buffer();
  bool write_fd(struct iovec* iov, int count);
  void prefetch();
  void throttle(size_t bytes);
  void reset_file();

  int fd_ = -1;
  int mode_ = 0;
  bool held_ = false;
  bool write_failed_ = false;  // a write failed: the file can only be discarded
  std::string temp_path_;
  std::string final_path_;
  std::string path_;
  std::string writing_dir_;             // write: the folder of the open file
  std::vector<std::string> made_dirs_;  // folders the opens for writing made, parents first
  std::string error_;
  uint64_t stored_ = 0;
  uint64_t file_pos_ = 0;       // bytes handed to (write) or taken from (read) the file
  uint64_t flushed_to_ = 0;     // write: bytes whose write-back has been started
  uint64_t prefetched_to_ = 0;  // read: the kernel was asked to fetch up to here
  uint64_t prefetch_due_ = 0;   // read: the position at which to ask again
  std::unique_ptr<File_Hints> write_behind_;  // write: started with the first step
  Aligned_Buffer buffer_;
  std::vector<struct iovec> iov_;  // write: the pieces of one vectored write, kept for reuse
  size_t buf_pos_ = 0;  // read: next byte to hand out
  size_t buf_len_ = 0;  // read: bytes held; write: bytes waiting
  Rate_Limiter limiter_;
};

class Client_IO_Ex : public Client_IO {
 public:
  Client_IO_Ex();
  // Tears the connection down (an unclosed written file is discarded).
  ~Client_IO_Ex() override;

  // Connects to `url`, which must be "file://" and an absolute directory at or below
  // the root of a registered pool whose directory exists; an earlier connection is torn
  // down first. True when connected; false with error() set.
  bool connect(const std::string& url, const Options& options);

  // True between a successful connect and the teardown.
  bool is_connected() const { return connected_; }

  // Removes the file `path` (relative to the connection); a missing file is not an
  // error. Then its folder and each parent above it that opens for writing of this
  // process made are removed while empty, up to the first that holds anything, was made
  // by someone else or has a file being written in it: a failed upload leaves no empty
  // folder. False with error() set when not connected, the path is refused or the
  // removal of the file failed.
  bool remove(const std::string& path);

  // Ends the connection: an open read file is closed, an unclosed written file
  // discarded, and the folders that this connection made and that are left empty are
  // removed as remove() removes them. Safe to call at any time, also twice.
  void teardown();
};

#endif  // POOL_CLIENT_IO_H
