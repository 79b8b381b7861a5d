#include "pool/client_io.h"

#include "pool/pool_file_system.h"
#include "pool_test_env.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using pool_test::Pool_Env;
using pool_test::list_dir;
using testing::HasSubstr;
using Options = Client_IO_Base::Options;
const int R = Client_IO_Base::MODE_READ, W = Client_IO_Base::MODE_WRITE;

// A pool file system that fails one chosen call with a chosen errno (from its `after`-th
// use on), installed for the lifetime of the object; for tests of the pool's failure paths.
// Without `unnamed_files` it is one that cannot make files without a name (EOPNOTSUPP);
// with `short_writes` its writes are short.
class FS : public Pool_File_System {
 public:
  enum Call { NONE, OPEN, LINK_UNNAMED, WRITE, FSYNC, RENAME, SYNC_DIRECTORY };
  FS(Call call, int err, int after = 0, bool unnamed_files = true)
      : call_(call), err_(err), after_(after), unnamed_files_(unnamed_files),
        previous_(install(this)) {}
  ~FS() override { install(previous_); }
  int open(const char* p, int flags, mode_t m) override {
    return fail(OPEN) ? -1 : Pool_File_System::open(p, flags, m);
  }
  int open_unnamed(const char* dir, mode_t mode) override {
    errno = EOPNOTSUPP;
    return unnamed_files_ ? Pool_File_System::open_unnamed(dir, mode) : -1;
  }
  int link_unnamed(int fd, const char* p) override {
    return fail(LINK_UNNAMED) ? -1 : Pool_File_System::link_unnamed(fd, p);
  }
  ssize_t writev(int fd, const struct iovec* iov, int count) override {
    if (fail(WRITE)) return -1;
    if (short_writes == 0 || count == 0) return Pool_File_System::writev(fd, iov, count);
    const struct iovec first = {iov[0].iov_base, std::min(iov[0].iov_len, short_writes)};
    return Pool_File_System::writev(fd, &first, 1);  // short, as a signal or a full disk makes it
  }
  int fsync(int fd) override { return fail(FSYNC) ? -1 : Pool_File_System::fsync(fd); }
  int rename(const char* from, const char* to, bool replace) override {
    return fail(RENAME) ? -1 : Pool_File_System::rename(from, to, replace);
  }
  int sync_directory(const char* d) override {
    return fail(SYNC_DIRECTORY) ? -1 : Pool_File_System::sync_directory(d);
  }
  size_t short_writes = 0;  // when not 0, each write stops after at most this many bytes

 private:
  // True, with errno set, when `call` is the one to fail and its turn has come.
  bool fail(Call call) {
    if (call != call_ || seen_++ < after_) return false;
    errno = err_;
    return true;
  }
  Call call_;
  int err_, after_;
  bool unnamed_files_;
  int seen_ = 0;
  Pool_File_System* previous_;
};

bool put(Client_IO_Ex& io, const std::string& path, const std::string& data, size_t piece = 1000) {
  if (!io.open(path, W, 0, 0)) return false;
  for (size_t at = 0; at < data.size(); at += piece)
    if (!io.write(data.data() + at, std::min(piece, data.size() - at))) return false;
  return io.close();
}

std::string get(Client_IO_Ex& io, const std::string& path, size_t piece = 777) {
  if (!io.open(path, R, 0, 0)) return "<not opened>";
  std::string out, buf(piece, '\0');
  for (ssize_t n = piece; static_cast<size_t>(n) == piece;) {
    if ((n = io.read(&buf[0], piece)) < 0) return "<read failed>";
    out.append(buf, 0, static_cast<size_t>(n));
  }
  io.close();
  return out;
}

// Urls and paths must stay below a registered root, also through "..", a shared name
// prefix or a symbolic link; nothing outside is read, written or removed.
TEST(Client_IO, UrlsAndPathsStayInsideThePool) {
  Pool_Env env;
  const std::string other = env.root() + "-old";  // its name starts with the pool's
  ::mkdir(other.c_str(), 0700);
  ::mkdir((env.root() + "/inner").c_str(), 0700);
  pool_test::write_file(other + "/secret", "secret");
  ::symlink(other.c_str(), (env.root() + "/escape").c_str());
  const std::pair<std::string, bool> urls[] = {
      {env.url(), true}, {env.url() + "/", true}, {env.url() + "/host/job", true},
      {env.url() + "/./inner//", true}, {"file://" + other, false},
      {"file://" + env.dir() + "/pool2", false}, {env.url() + "/../pool-old", false},
      {env.url() + "/escape", false}, {"file://relative/dir", false},
      {"http://" + env.root(), false}, {env.root(), false}, {"", false}};
  for (const auto& u : urls) {
    Client_IO_Ex io;
    EXPECT_EQ(io.connect(u.first, Options()), u.second) << u.first;
    EXPECT_EQ(io.is_connected() && std::string(io.error()).empty(), u.second) << u.first;
  }
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  for (const char* p : {"", "/etc/passwd", "../pool-old/secret", "a/../../pool-old/secret", "..",
                        "a/..", "escape/secret", "escape/new", "escape/sub/new"}) {
    EXPECT_FALSE(io.open(p, R, 0, 0) || io.open(p, W, 0, 0) || io.remove(p)) << p;
  }
  EXPECT_FALSE(io.open("x", 3, 0, 0));  // no such mode
  EXPECT_EQ(list_dir(other) + pool_test::read_file(other + "/secret"), "secretsecret");
  std::filesystem::remove_all(env.root());
  EXPECT_FALSE(io.connect(env.url(), Options()));  // the pool's directory is gone
}

// Plain and vectored writes of any size, gathered or written past the buffer, land in
// order, unseen, and appear (0640) only when closed; they read back in any piece size,
// with and without flush_after_write (the latter also where the file system cannot make
// files without a name, so that they are written under a hidden name), also when the
// file system writes less than asked.
TEST(Client_IO, WritesAppearWholeWhenClosedAndReadBack) {
  Pool_Env env;
  const std::string data = pool_test::make_content(pool_test::MIXED, 3 << 20, 9);
  // Piece lengths of each vectored write; a single one is a plain write.
  const std::vector<std::vector<size_t>> writes = {
      {48, 0, 131072, 48, 70000}, {1000}, {1, 2, 3}, {1000}, {48, 131072}, {200000},
      {48, 65535}, {48, 65536}, {1000}, {1 << 20, 48, 1 << 20}};
  for (bool flush : {false, true}) {
    SCOPED_TRACE(flush);
    Options opts;
    opts.flush_after_write = flush;
    FS short_writes(FS::NONE, 0, 0, !flush);
    short_writes.short_writes = 65537;
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url() + "/job", opts));
    ASSERT_TRUE(io.open("a/b/v", W, 0, 0));
    size_t at = 0;
    for (const std::vector<size_t>& pieces : writes) {
      std::vector<struct iovec> iov;
      for (size_t n : pieces) {
        iov.push_back({const_cast<char*>(data.data()) + at, n});
        at += n;
      }
      iov.push_back({nullptr, 0});
      ASSERT_TRUE(pieces.size() == 1 ? io.write(iov[0].iov_base, pieces[0])
                                     : io.write(iov.data(), static_cast<int>(iov.size())));
    }
    EXPECT_EQ(io.storage_size(), at);
    EXPECT_FALSE(io.write(static_cast<const struct iovec*>(nullptr), -1));
    const std::string dir = env.root() + "/job/a/b";
    EXPECT_EQ(list_dir(dir).substr(0, 3), flush ? ".v." : "");
    ASSERT_TRUE(io.close());
    EXPECT_EQ(list_dir(dir), "v");
    EXPECT_EQ(std::filesystem::status(dir + "/v").permissions(), std::filesystem::perms(0600));
    for (size_t piece : {size_t(1) << 20, size_t(48), size_t(131072 + 48), size_t(3) << 20})
      EXPECT_TRUE(get(io, "a/b/v", piece) == data.substr(0, at)) << piece;
    EXPECT_EQ(io.storage_size(), at);
    ASSERT_TRUE(io.remove("a/b/v"));
  }
}

// A file dropped while the write-behind helper thread still hands its steps to the disk
// leaves nothing.
TEST(Client_IO, AbortDuringWriteBehindLeavesNothing) {
  Pool_Env env;
  const std::string data = pool_test::make_content(pool_test::RANDOM, 20 << 20, 3);
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()) && io.open("run/long", W, 0, 0));
  for (size_t at = 0; at < data.size(); at += 1 << 20) ASSERT_TRUE(io.write(&data[at], 1 << 20));
  io.abort();
  EXPECT_EQ(list_dir(env.root()) + "/" + list_dir(env.root() + "/run"), "run/");
}

// An existing file needs overwrite; a final name taken meanwhile by a directory fails
// close, leaves no temporary file and the directory untouched.
TEST(Client_IO, PublicationNeverReplacesWhatItMustNot) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()) && put(io, "f", "first"));
  for (bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite);
    Options opts;
    opts.overwrite = overwrite;
    ASSERT_TRUE(io.connect(env.url(), opts));
    ASSERT_EQ(put(io, "f", "second"), overwrite);
    const std::string d = env.root() + "/d";
    ASSERT_TRUE(io.open("d/f", W, 0, 0) && io.write("data", 4));
    ASSERT_EQ(::mkdir((d + "/f").c_str(), 0700), 0);
    pool_test::write_file(d + "/f/keep", "keep");
    EXPECT_FALSE(io.close());
    EXPECT_THAT(io.error(), HasSubstr("rename"));
    EXPECT_EQ(list_dir(d) + pool_test::read_file(d + "/f/keep"), "fkeep");
    EXPECT_TRUE(io.close());  // nothing open any more
    std::filesystem::remove_all(d);
  }
  EXPECT_EQ(pool_test::read_file(env.root() + "/f"), "second");
}

// Each step of writing and publishing failing with EIO or ENOSPC (also the directory
// sync after the rename, and the second of several writes) under a hidden name, where
// the file system cannot make files without a name, and the link of a file made without
// one (the other steps of that way are the job runs' pool faults): the failure is
// reported, nothing is left under the final or a temporary name, the file already there
// stays.
TEST(Client_IO, FileSystemFailuresNeverLeaveAFileBehind) {
  const struct { bool unnamed; FS::Call call; int after; const char* error; } cases[] = {
      {true, FS::LINK_UNNAMED, 0, "cannot link"}, {true, FS::WRITE, 1, "cannot write"},
      {false, FS::OPEN, 0, "cannot create"}, {false, FS::WRITE, 1, "cannot write"},
      {false, FS::FSYNC, 0, "cannot sync"}, {false, FS::RENAME, 0, "cannot rename"},
      {false, FS::SYNC_DIRECTORY, 0, "directory"}};
  for (const auto& c : cases) {
    for (int err : {EIO, ENOSPC}) {
      SCOPED_TRACE(testing::Message() << c.error << c.after << c.unnamed << " " << err);
      Pool_Env env;
      Client_IO_Ex io;
      ASSERT_TRUE(io.connect(env.url(), Options()) && put(io, "old", "kept"));
      {
        FS failing(c.call, err, c.after, c.unnamed);
        EXPECT_FALSE(put(io, "d/new", std::string(300000, 'x'), 100000));
        io.abort();  // what a caller does after a failed write
      }
      EXPECT_THAT(io.error(), testing::AllOf(HasSubstr(c.error), HasSubstr(std::strerror(err))));
      EXPECT_EQ(list_dir(env.root() + "/d") + get(io, "old"), "kept");
    }
  }
  // A caller that goes on writing after a failed write and then closes: the file would
  // have a hole, so it is never published.
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()) && io.open("holed", W, 0, 0));
  {
    FS failing(FS::WRITE, EIO);
    EXPECT_FALSE(io.write(std::string(300000, 'x').data(), 300000));
  }
  EXPECT_FALSE(io.write(std::string(300000, 'y').data(), 300000));
  EXPECT_FALSE(io.close());
  EXPECT_EQ(list_dir(env.root()), "");
}

// A pool file system whose first file creation finds its folder removed just before, as
// the clean-up of another connection's failed upload can do.
class Folder_Removed_Before_Create : public Pool_File_System {
 public:
  Folder_Removed_Before_Create() : previous_(install(this)) {}
  ~Folder_Removed_Before_Create() override { install(previous_); }
  int open_unnamed(const char* dir, mode_t mode) override {
    if (removed_++ == 0) std::filesystem::remove(dir);
    return Pool_File_System::open_unnamed(dir, mode);
  }

 private:
  int removed_ = 0;
  Pool_File_System* previous_;
};

// The pool's folders below "before" (a folder there before), as "a a/b ...".
std::string folders_below(const std::string& dir) {
  std::set<std::string> found;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
    if (e.is_directory()) found.insert(std::filesystem::relative(e.path(), dir));
  std::string out;
  for (const std::string& f : found) out += (out.empty() ? "" : " ") + f;
  return out;
}

// The removal of a file (after a failed upload) also removes the folders that writes of
// this process made for it once they are empty, from the file's folder up, across
// connections; never a folder that holds anything, one that was there before, or one in
// which another connection is writing a file (a file without a name leaves its folder
// looking empty), nor one that took the place of a folder made here. Only the 4096 most
// recent folders made are remembered (the host lives as long as the product): folders
// made before those stay, empty. The teardown does the same for the folders of a write
// that failed.
TEST(Client_IO, ARemovalLeavesNoEmptyFolderItMade) {
  const struct {
    const char* name;
    const char* kept;     // a file written and kept beforehand, or ""
    const char* writing;  // a file another connection is writing meanwhile, or ""
    const char* left;     // the folders below "before" after the removal
    int made_since = 0;   // folders that opens elsewhere in the pool made since
  } rows[] = {
      {"alone", "", "", ""},
      {"beside a kept image", "job/b/img", "", "job job/b"},
      {"beside a kept image in its folder", "job/a/kept", "", "job job/a"},
      {"while another writes in its folder", "", "job/a/other", "job job/a"},
      {"while another writes beside it", "", "job/b/other", "job job/b"},
      {"after 4095 folders made elsewhere", "", "", "job", 4094},
      {"after 4096 folders made elsewhere", "", "", "job job/a", 4095},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Pool_Env env;
    const std::string before = env.root() + "/before";
    ::mkdir(before.c_str(), 0700);
    Client_IO_Ex io, writer;
    ASSERT_TRUE(io.connect(env.url() + "/before", Options()));
    ASSERT_TRUE(writer.connect(env.url() + "/before", Options()));
    ASSERT_TRUE(*row.kept == '\0' || put(writer, row.kept, "kept"));
    ASSERT_TRUE(put(io, "job/a/img", "image"));
    ASSERT_TRUE(*row.writing == '\0' || writer.open(row.writing, W, 0, 0));
    Client_IO_Ex elsewhere;
    ASSERT_TRUE(elsewhere.connect(env.url(), Options()));
    for (int i = 0; i < row.made_since; ++i) {
      ASSERT_TRUE(elsewhere.open("many/" + std::to_string(i) + "/img", W, 0, 0));
      elsewhere.abort();
    }
    Client_IO_Ex remover;  // as the clean-up of a failed run does
    ASSERT_TRUE(remover.connect(env.url(), Options()) && remover.remove("before/job/a/img"));
    EXPECT_EQ(folders_below(before), row.left);
    if (*row.writing == '\0') continue;
    EXPECT_TRUE(writer.write("new", 3) && writer.close()) << writer.error();
    EXPECT_EQ(get(writer, row.writing), "new");
  }
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  {
    FS failing(FS::OPEN, EIO, 0, false);
    EXPECT_FALSE(io.open("job/c/img", W, 0, 0));
  }
  EXPECT_EQ(list_dir(env.root()), "job");
  io.teardown();
  EXPECT_EQ(list_dir(env.root()), "");
  // A folder removed under a writer before its file is created there is made again.
  ASSERT_TRUE(io.connect(env.url(), Options()));
  Folder_Removed_Before_Create removing;
  EXPECT_TRUE(put(io, "job/d/img", "image")) << io.error();
  EXPECT_EQ(get(io, "job/d/img"), "image");
  // A folder that someone else put in place of one made here, on the same file system,
  // is theirs: it stays.
  ASSERT_TRUE(put(io, "job/e/img", "image"));
  const std::string made = env.root() + "/job/e";
  ASSERT_EQ(::rename(made.c_str(), (made + "-moved").c_str()) | ::mkdir(made.c_str(), 0700), 0);
  EXPECT_TRUE(io.remove("job/e/img"));
  EXPECT_EQ(list_dir(env.root() + "/job"), "d e e-moved");
}

// Files not closed successfully (aborted, open at teardown, reconnect or the connection's
// end) are discarded; one file at a time, each in its own mode.
TEST(Client_IO, UnclosedFilesAreDiscardedAndModesKept) {
  Pool_Env env;
  Client_IO_Ex io;
  EXPECT_TRUE(io.close() && !io.remove("f"));  // nothing open, not even connected
  ASSERT_TRUE(io.connect(env.url(), Options()));
  ASSERT_TRUE(io.open("a", W, 0, 0) && io.write("x", 1));
  io.abort();
  EXPECT_TRUE(io.open("c", W, 0, 0) && io.close());
  ASSERT_TRUE(io.open("c", R, 0, 0));
  EXPECT_FALSE(io.open("g", W, 0, 0) || io.write("x", 1));
  io.close();
  char c;
  EXPECT_TRUE(io.open("g", W, 0, 0) && io.read(&c, 1) == -1);
  ASSERT_TRUE(io.connect(env.url(), Options()));  // drops "g"
  ASSERT_TRUE(io.open("h", W, 0, 0) && io.write("x", 1));
  io.teardown();
  EXPECT_FALSE(io.is_connected() || io.is_open() || io.open("f", W, 0, 0));
  {
    Client_IO_Ex dropped;
    EXPECT_TRUE(dropped.connect(env.url(), Options()) && dropped.open("i", W, 0, 0) &&
                dropped.write("x", 1));
  }
  EXPECT_EQ(list_dir(env.root()), "c");
  ASSERT_TRUE(io.connect(env.url(), Options()) && !io.open("missing", R, 0, 0));
  EXPECT_TRUE(io.remove("c") && io.remove("c") && io.remove("nodir/f"));  // gone is fine
  ASSERT_EQ(::mkdir((env.root() + "/sub").c_str(), 0700), 0);
  EXPECT_TRUE(!io.remove("sub") && *io.error());  // not a file
}

// A transfer starts with one second's worth in hand, so 512 KiB at 256 KiB/s take at
// least one second more: writes keep to the destination limit, reads to the source's.
TEST(Client_IO, WritesKeepToTheDestinationLimitAndReadsToTheSource) {
  Pool_Env env;
  const std::string data = pool_test::make_content(pool_test::TEXT, 512 << 10);
  for (const bool limit_writes : {true, false}) {
    Options opts;
    auto& limits = opts.rate_limits;
    (limit_writes ? limits.dest_rate_limits : limits.src_rate_limits).push_back({0, 0, 256 << 10});
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), opts));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(put(io, "f", data, 65536));
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_TRUE(get(io, "f", 65536) == data && io.remove("f"));
    const auto t2 = std::chrono::steady_clock::now();
    EXPECT_GE(limit_writes ? t1 - t0 : t2 - t1, std::chrono::milliseconds(900)) << limit_writes;
  }
}

}  // namespace
