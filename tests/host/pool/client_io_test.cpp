#include "pool/client_io.h"

#include "failing_file_system.h"
#include "pool_test_env.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

using pool_test::Pool_Env;
using Options = Client_IO_Base::Options;

bool write_file(Client_IO_Ex& io, const std::string& path, const std::string& data,
                size_t piece = 1000) {
  if (!io.open(path, Client_IO_Base::MODE_WRITE, 0, 0)) return false;
  for (size_t at = 0; at < data.size(); at += piece) {
    if (!io.write(data.data() + at, std::min(piece, data.size() - at))) return false;
  }
  return io.close();
}

std::string read_file(Client_IO_Ex& io, const std::string& path, size_t piece = 777) {
  std::string out;
  if (!io.open(path, Client_IO_Base::MODE_READ, 0, 0)) return "<not opened>";
  std::string buf(piece, '\0');
  for (;;) {
    const ssize_t n = io.read(&buf[0], piece);
    if (n < 0) return "<read failed>";
    out.append(buf, 0, static_cast<size_t>(n));
    if (static_cast<size_t>(n) < piece) break;
  }
  io.close();
  return out;
}

TEST(Client_IO, ConnectAcceptsOnlyUrlsUnderARegisteredRoot) {
  Pool_Env env;
  ::mkdir((env.dir() + "/other").c_str(), 0700);
  ::mkdir((env.root() + "/inner").c_str(), 0700);
  ::symlink((env.dir() + "/other").c_str(), (env.root() + "/escape").c_str());
  struct Case {
    std::string url;
    bool ok;
  } cases[] = {
      {env.url(), true},
      {env.url() + "/", true},
      {env.url() + "/host/job", true},  // created on the first write
      {env.url() + "/./inner//", true},
      {"file://" + env.dir() + "/other", false},
      {"file://" + env.dir() + "/pool2", false},  // a sibling that shares the prefix
      {env.url() + "/../other", false},
      {env.url() + "/escape", false},
      {"file://relative/dir", false},
      {"http://" + env.root(), false},
      {env.root(), false},
      {"", false},
  };
  for (const Case& c : cases) {
    Client_IO_Ex io;
    EXPECT_EQ(io.connect(c.url, Options()), c.ok) << c.url;
    EXPECT_EQ(io.is_connected(), c.ok) << c.url;
    EXPECT_EQ(std::string(io.error()).empty(), c.ok) << c.url;
  }
  ASSERT_EQ(std::system(("rm -rf '" + env.root() + "'").c_str()), 0);
  Client_IO_Ex io;
  EXPECT_FALSE(io.connect(env.url(), Options()));  // the pool's directory is gone
}

TEST(Client_IO, PathsStayInsideTheConnection) {
  Pool_Env env;
  ::mkdir((env.dir() + "/other").c_str(), 0700);
  pool_test::write_file(env.dir() + "/other/secret", "secret");
  ::symlink((env.dir() + "/other").c_str(), (env.root() + "/escape").c_str());
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  const char* refused[] = {"", "/etc/passwd", "../other/secret", "a/../../other/secret",
                           "..", "a/..", "escape/secret", "escape/new", "escape/sub/new"};
  for (const char* p : refused) {
    EXPECT_FALSE(io.open(p, Client_IO_Base::MODE_READ, 0, 0)) << p;
    EXPECT_FALSE(io.open(p, Client_IO_Base::MODE_WRITE, 0, 0)) << p;
    EXPECT_FALSE(io.remove(p)) << p;
  }
  EXPECT_EQ(pool_test::read_file(env.dir() + "/other/secret"), "secret");
  EXPECT_EQ(pool_test::list_dir(env.dir() + "/other"), "secret");
  EXPECT_FALSE(io.open("x", 3, 0, 0));  // no such mode
}

TEST(Client_IO, WritesAppearOnlyWhenClosed) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url() + "/host/job", Options()));
  ASSERT_TRUE(io.open("a/b/file", Client_IO_Base::MODE_WRITE, 0, 0));
  const std::string data = pool_test::make_content(pool_test::RANDOM, 3 << 20);
  ASSERT_TRUE(io.write(data.data(), 100));
  ASSERT_TRUE(io.write(data.data() + 100, data.size() - 100));
  EXPECT_EQ(io.storage_size(), data.size());
  const std::string dir = env.root() + "/host/job/a/b";
  EXPECT_FALSE(pool_test::exists(dir + "/file"));
  EXPECT_EQ(pool_test::list_dir(dir).find(".file."), 0u);  // the temporary name
  ASSERT_TRUE(io.close());
  EXPECT_EQ(pool_test::list_dir(dir), "file");
  EXPECT_TRUE(pool_test::read_file(dir + "/file") == data);
  struct stat st;
  ASSERT_EQ(::stat((dir + "/file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(Client_IO, ReadsBackWhatWasWrittenInAnyPieces) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  const std::string data = pool_test::make_content(pool_test::MIXED, (2 << 20) + 12345);
  for (size_t piece : {size_t(1), size_t(48), size_t(131072 + 48), size_t(3) << 20}) {
    const std::string part = piece == 1 ? data.substr(0, 100000) : data;
    ASSERT_TRUE(write_file(io, "f", part, piece)) << piece;
    EXPECT_TRUE(read_file(io, "f", piece) == part) << piece;
    EXPECT_EQ(io.storage_size(), part.size());
    ASSERT_TRUE(io.remove("f"));
  }
  Options flush;
  flush.flush_after_write = true;
  ASSERT_TRUE(io.connect(env.url(), flush));
  ASSERT_TRUE(write_file(io, "g", data, 5000));
  EXPECT_TRUE(read_file(io, "g") == data);
}

// Vectored writes land as the concatenation of their pieces, whether they are gathered
// in the buffer (small) or written past it (large), mixed with plain writes and with
// data already waiting in the buffer; a vector with a negative count is refused.
TEST(Client_IO, VectoredWritesKeepTheOrderOfTheirPieces) {
  Pool_Env env;
  const std::string data = pool_test::make_content(pool_test::MIXED, 3 << 20, 9);
  // Piece lengths of each vectored write; 0 stands for a plain write of 1000 bytes.
  const std::vector<std::vector<size_t>> writes = {
      {48, 0, 131072, 48, 70000}, {0}, {1, 2, 3}, {0}, {48, 131072}, {200000},
      {48, 65535}, {48, 65536}, {0}, {1 << 20, 48, 1 << 20}};
  for (bool flush : {false, true}) {
    SCOPED_TRACE(flush);
    Options opts;
    opts.flush_after_write = flush;
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), opts));
    ASSERT_TRUE(io.open("v", Client_IO_Base::MODE_WRITE, 0, 0));
    size_t at = 0;
    for (const std::vector<size_t>& pieces : writes) {
      if (pieces[0] == 0) {
        ASSERT_TRUE(io.write(data.data() + at, 1000));
        at += 1000;
        continue;
      }
      std::vector<struct iovec> iov;
      for (size_t n : pieces) {
        iov.push_back({const_cast<char*>(data.data()) + at, n});
        at += n;
      }
      iov.push_back({nullptr, 0});
      ASSERT_TRUE(io.write(iov.data(), static_cast<int>(iov.size())));
    }
    ASSERT_LE(at, data.size());
    EXPECT_EQ(io.storage_size(), at);
    EXPECT_FALSE(io.write(static_cast<const struct iovec*>(nullptr), -1));
    ASSERT_TRUE(io.close());
    EXPECT_TRUE(pool_test::read_file(env.root() + "/v") == data.substr(0, at));
    ASSERT_TRUE(io.remove("v"));
  }
}

// A file larger than a few write-behind steps (handed to the disk by a helper thread
// while it is written) is published whole; one dropped half way leaves nothing, also
// while the helper is at work.
TEST(Client_IO, LongWritesArePublishedOrDroppedWhole) {
  Pool_Env env;
  const std::string piece = pool_test::make_content(pool_test::RANDOM, 1 << 20, 3);
  const int pieces = 40;
  auto content = [&](int i) {
    std::string p = piece;
    p.replace(0, sizeof i, reinterpret_cast<const char*>(&i), sizeof i);
    return p;
  };
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  for (bool drop : {false, true}) {
    SCOPED_TRACE(drop);
    ASSERT_TRUE(io.open("long", Client_IO_Base::MODE_WRITE, 0, 0));
    for (int i = 0; i < pieces; ++i) {
      if (drop && i == pieces / 2) break;
      const std::string p = content(i);
      ASSERT_TRUE(io.write(p.data(), p.size()));
    }
    if (drop) {
      io.abort();
      EXPECT_EQ(pool_test::list_dir(env.root()), "");
      continue;
    }
    ASSERT_TRUE(io.close());
    const std::string got = pool_test::read_file(env.root() + "/long");
    ASSERT_EQ(got.size(), piece.size() * pieces);
    for (int i = 0; i < pieces; ++i) {
      EXPECT_TRUE(got.compare(i * piece.size(), piece.size(), content(i)) == 0) << i;
    }
    ASSERT_TRUE(io.remove("long"));
  }
}

TEST(Client_IO, ExistingFilesNeedOverwrite) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  ASSERT_TRUE(write_file(io, "f", "first"));
  EXPECT_FALSE(io.open("f", Client_IO_Base::MODE_WRITE, 0, 0));
  Options overwrite;
  overwrite.overwrite = true;
  ASSERT_TRUE(io.connect(env.url(), overwrite));
  ASSERT_TRUE(write_file(io, "f", "second"));
  EXPECT_EQ(pool_test::read_file(env.root() + "/f"), "second");
}

// The final name taken (or unusable) while the file was written: close reports it, the
// temporary file is gone and the other file is untouched.
TEST(Client_IO, CloseReportsAFailedPublication) {
  Pool_Env env;
  for (bool overwrite : {false, true}) {
    SCOPED_TRACE(overwrite);
    Options opts;
    opts.overwrite = overwrite;
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), opts));
    ASSERT_TRUE(io.open("d/f", Client_IO_Base::MODE_WRITE, 0, 0));
    ASSERT_TRUE(io.write("data", 4));
    // Someone else's directory, not empty, under the final name.
    ASSERT_EQ(::mkdir((env.root() + "/d/f").c_str(), 0700), 0);
    pool_test::write_file(env.root() + "/d/f/keep", "keep");
    EXPECT_FALSE(io.close());
    EXPECT_NE(std::string(io.error()).find("rename"), std::string::npos) << io.error();
    EXPECT_EQ(pool_test::list_dir(env.root() + "/d"), "f");
    EXPECT_EQ(pool_test::read_file(env.root() + "/d/f/keep"), "keep");
    EXPECT_TRUE(io.close());  // nothing open any more
    ASSERT_EQ(std::system(("rm -rf '" + env.root() + "/d'").c_str()), 0);
  }
}

// A write that the file system refuses (here: the process's file size limit) is
// reported by write or close, and nothing stays behind.
TEST(Client_IO, WriteFailureIsReportedAndCleanedUp) {
  Pool_Env env;
  struct rlimit old;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*old_handler)(int) = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 256 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Client_IO_Ex io;
  bool ok = io.connect(env.url(), Options()) && io.open("big", Client_IO_Base::MODE_WRITE, 0, 0);
  const std::string chunk(100000, 'x');
  bool wrote = true;
  for (int i = 0; ok && wrote && i < 30; ++i) wrote = io.write(chunk.data(), chunk.size());
  const bool closed = io.close();
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);
  ASSERT_TRUE(ok);
  EXPECT_FALSE(wrote && closed);
  EXPECT_NE(std::string(io.error()), "");
  EXPECT_EQ(pool_test::list_dir(env.root()), "");
}

// Each step of writing and publishing failing with EIO or ENOSPC (also the directory
// sync after the rename, and the second of several writes): the failure is reported,
// nothing is left under the final name nor as a temporary file, and the file that was
// there before (without overwrite) is untouched.
TEST(Client_IO, FileSystemFailuresNeverLeaveAFileBehind) {
  using FS = pool_test::Failing_File_System;
  struct Case {
    FS::Call call;
    int after;
    const char* said;
  } cases[] = {
      {FS::OPEN, 0, "cannot create"},   {FS::WRITE, 0, "cannot write"},
      {FS::WRITE, 1, "cannot write"},   {FS::FSYNC, 0, "cannot sync"},
      {FS::RENAME, 0, "cannot rename"}, {FS::SYNC_DIRECTORY, 0, "directory"},
  };
  const std::string data(300000, 'x');
  for (const Case& c : cases) {
    for (int err : {EIO, ENOSPC}) {
      SCOPED_TRACE(std::string(c.said) + " " + std::to_string(c.after) + " " + std::to_string(err));
      Pool_Env env;
      Client_IO_Ex io;
      ASSERT_TRUE(io.connect(env.url(), Options()));
      ASSERT_TRUE(write_file(io, "old", "kept"));
      {
        FS failing(c.call, err, c.after);
        EXPECT_FALSE(write_file(io, "d/new", data, 100000));
        io.abort();  // what a caller does after a failed write
      }
      EXPECT_NE(std::string(io.error()).find(c.said), std::string::npos) << io.error();
      EXPECT_NE(std::string(io.error()).find(std::strerror(err)), std::string::npos);
      EXPECT_EQ(pool_test::list_dir(env.root() + "/d"), "");
      EXPECT_EQ(read_file(io, "old"), "kept");
    }
  }
}

TEST(Client_IO, AbortAndHeldFilesAreDiscarded) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  ASSERT_TRUE(io.open("a", Client_IO_Base::MODE_WRITE, 0, 0));
  io.write("x", 1);
  io.abort();
  EXPECT_FALSE(io.is_open());
  ASSERT_TRUE(io.open("b", Client_IO_Base::MODE_WRITE, 0, 0));
  io.hold_publication();
  EXPECT_FALSE(io.close());
  ASSERT_TRUE(io.open("c", Client_IO_Base::MODE_WRITE, 0, 0));
  io.hold_publication();
  io.release_publication();
  EXPECT_TRUE(io.close());
  EXPECT_EQ(pool_test::list_dir(env.root()), "c");
}

TEST(Client_IO, Removal) {
  Pool_Env env;
  Client_IO_Ex io;
  EXPECT_FALSE(io.remove("f"));  // not connected
  ASSERT_TRUE(io.connect(env.url() + "/job", Options()));
  ASSERT_TRUE(write_file(io, "vm/f", "data"));
  EXPECT_TRUE(io.remove("vm/f"));
  EXPECT_FALSE(pool_test::exists(env.root() + "/job/vm/f"));
  EXPECT_TRUE(io.remove("vm/f"));        // already gone
  EXPECT_TRUE(io.remove("nodir/f"));     // never there
  ASSERT_EQ(::mkdir((env.root() + "/job/sub").c_str(), 0700), 0);
  EXPECT_FALSE(io.remove("sub"));        // not a file
  EXPECT_NE(std::string(io.error()), "");
}

TEST(Client_IO, TeardownEndsTheConnectionAndReconnectWorks) {
  Pool_Env env;
  Client_IO_Ex io;
  ASSERT_TRUE(io.connect(env.url(), Options()));
  ASSERT_TRUE(io.open("pending", Client_IO_Base::MODE_WRITE, 0, 0));
  io.write("x", 1);
  io.teardown();
  EXPECT_FALSE(io.is_connected());
  EXPECT_FALSE(io.is_open());
  EXPECT_EQ(pool_test::list_dir(env.root()), "");  // never closed: discarded
  EXPECT_FALSE(io.open("f", Client_IO_Base::MODE_WRITE, 0, 0));
  io.teardown();  // twice is fine
  ASSERT_TRUE(io.connect(env.url(), Options()));
  ASSERT_TRUE(write_file(io, "f", "after"));
  // Connecting again while a file is open drops it first.
  ASSERT_TRUE(io.open("g", Client_IO_Base::MODE_WRITE, 0, 0));
  ASSERT_TRUE(io.connect(env.url(), Options()));
  EXPECT_FALSE(io.is_open());
  EXPECT_EQ(read_file(io, "f"), "after");
  EXPECT_EQ(pool_test::list_dir(env.root()), "f");
  {
    Client_IO_Ex dropped;  // destroyed with a file open: discarded too
    ASSERT_TRUE(dropped.connect(env.url(), Options()));
    ASSERT_TRUE(dropped.open("h", Client_IO_Base::MODE_WRITE, 0, 0));
    dropped.write("x", 1);
  }
  EXPECT_EQ(pool_test::list_dir(env.root()), "f");
}

TEST(Client_IO, OneFileAtATimeModesAreKeptAndCloseIsIdempotent) {
  Pool_Env env;
  Client_IO_Ex io;
  EXPECT_TRUE(io.close());  // nothing open, not even connected
  ASSERT_TRUE(io.connect(env.url(), Options()));
  ASSERT_TRUE(write_file(io, "f", "data"));
  ASSERT_TRUE(io.open("f", Client_IO_Base::MODE_READ, 0, 0));
  EXPECT_FALSE(io.open("g", Client_IO_Base::MODE_WRITE, 0, 0));
  EXPECT_FALSE(io.write("x", 1));
  io.close();
  ASSERT_TRUE(io.open("g", Client_IO_Base::MODE_WRITE, 0, 0));
  char c;
  EXPECT_EQ(io.read(&c, 1), -1);
  EXPECT_TRUE(io.close());
  EXPECT_TRUE(io.close());
  EXPECT_FALSE(io.open("missing", Client_IO_Base::MODE_READ, 0, 0));
  EXPECT_EQ(pool_test::read_file(env.root() + "/f"), "data");
}

TEST(Client_IO, WritesKeepToTheDestinationLimitAndReadsToTheSource) {
  Pool_Env env;
  // A transfer starts with one second's worth in hand, so 1 MiB at 512 KiB/s takes at
  // least one second more; unlimited, it takes milliseconds.
  const size_t limit = 512 << 10;
  const std::string data = pool_test::make_content(pool_test::TEXT, 1 << 20);
  for (const bool limit_writes : {true, false}) {
    Options opts;
    (limit_writes ? opts.rate_limits.dest_rate_limits : opts.rate_limits.src_rate_limits)
        .push_back({0, 0, limit});
    Client_IO_Ex io;
    ASSERT_TRUE(io.connect(env.url(), opts));
    const std::string name = limit_writes ? "written" : "read";
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(write_file(io, name, data, 65536));
    const auto t1 = std::chrono::steady_clock::now();
    EXPECT_TRUE(read_file(io, name, 65536) == data);
    const auto t2 = std::chrono::steady_clock::now();
    EXPECT_GE(limit_writes ? t1 - t0 : t2 - t1, std::chrono::milliseconds(900)) << name;
  }
}

}  // namespace
