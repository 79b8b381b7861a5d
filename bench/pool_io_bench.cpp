// bench-component: host_pool
//
// Command-line driver of the storage-pool benchmark (bench/pool_bench.sh): writes a
// local file into a pool image the way a volume upload does (whole blocks through the
// block reader, the image block writer and a pool connection) and restores an image onto
// a local file the way a volume restore does. The pool is registered once, in a private
// host home under POOL_DIR, so it never touches a real one and the timed runs do not
// include the registration.
//
//   pool_io_bench make-mixed FILE MIB             random, zero and text thirds
//   pool_io_bench register POOL_DIR               once, before write and read
//   pool_io_bench write SRC POOL_DIR NAME CODEC   CODEC: none, auto, lzop, zstd[:LEVEL]
//   pool_io_bench read POOL_DIR NAME DEST         DEST is created anew
//
// write and read print "seconds=<s> close_seconds=<s> stored=<bytes> peak_rss_kib=<n>";
// close_seconds is the part spent closing (for a pool write: the flush, fsync, rename and
// directory sync that publish the image). POOL_BENCH_THREADS sets the codec threads.
#include "client_io/image_block_writer.h"
#include "pool/client_io.h"
#include "pool/compression.h"
#include "pool/fixed_block_file.h"
#include "pool/image_block_reader.h"
#include "pool/pool_registry.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t BLOCK = 131072;

int usage() {
  std::fprintf(stderr,
               "usage: pool_io_bench make-mixed FILE MIB\n"
               "       pool_io_bench register POOL_DIR\n"
               "       pool_io_bench write SRC POOL_DIR NAME CODEC\n"
               "       pool_io_bench read POOL_DIR NAME DEST\n");
  return 2;
}

long peak_rss_kib() {
  struct rusage ru;
  return ::getrusage(RUSAGE_SELF, &ru) == 0 ? ru.ru_maxrss : -1;
}

std::string bench_home(const std::string& pool_dir) { return pool_dir + "/.bench-home"; }

// Registers POOL_DIR in a private host home under it.
int register_pool(const std::string& pool_dir) {
  ::setenv("QUILLON3_ROOT", bench_home(pool_dir).c_str(), 1);
  Pool_Record rec;
  rec.uuid = "bench-pool";
  rec.name = "bench";
  rec.url = "file://" + pool_dir;
  std::string error;
  if (!Pool_Registry().add(rec, &error)) {
    std::fprintf(stderr, "cannot register the pool: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

// Points the host home at the one register_pool made.
void use_pool(const std::string& pool_dir) {
  ::setenv("QUILLON3_ROOT", bench_home(pool_dir).c_str(), 1);
}

int make_mixed(const std::string& path, size_t mib) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 1;
  static const char* const words[] = {"backup ", "volume ", "instance ", "the ", "pool ",
                                      "snapshot ", "restore ", "of ", "block ", "a ",
                                      "image ", "and ", "storage ", "job ", "to ", "node\n"};
  const size_t total = mib << 20;
  std::vector<char> buf(1 << 20);
  uint64_t x = 88172645463325252ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (size_t at = 0; at < total; at += buf.size()) {
    if (at < total / 3) {
      for (size_t i = 0; i < buf.size(); i += 8) {
        const uint64_t v = next();
        std::memcpy(&buf[i], &v, 8);
      }
    } else if (at < 2 * total / 3) {
      std::fill(buf.begin(), buf.end(), 0);
    } else {
      for (size_t i = 0; i < buf.size();) {
        const uint64_t v = next();
        if (v % 9 == 0) {
          const int n = std::snprintf(&buf[i], buf.size() - i, "%u ", static_cast<unsigned>(v % 100000));
          i += n > 0 ? std::min<size_t>(n, buf.size() - i) : 0;
          continue;
        }
        for (const char* w = words[v % 16]; *w && i < buf.size(); ++w) buf[i++] = *w;
      }
    }
    if (std::fwrite(buf.data(), 1, buf.size(), out) != buf.size()) return 1;
  }
  return std::fclose(out) == 0 ? 0 : 1;
}

Client_IO_Base::Options codec_options(const std::string& codec) {
  Client_IO_Base::Options opts;
  const std::string::size_type colon = codec.find(':');
  opts.compression_method = compression_name_to_value(codec.substr(0, colon), COMPR_AUTO);
  opts.compression_level = colon == std::string::npos ? 1 : std::atoi(codec.c_str() + colon + 1);
  opts.overwrite = true;
  return opts;
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

void report(Clock::time_point start, Clock::time_point closing, uint64_t stored) {
  std::printf("seconds=%.3f close_seconds=%.3f stored=%llu peak_rss_kib=%ld\n",
              seconds_since(start), seconds_since(closing),
              static_cast<unsigned long long>(stored), peak_rss_kib());
}

int write_image(const std::string& src, const std::string& pool_dir, const std::string& name,
                const std::string& codec) {
  use_pool(pool_dir);
  const auto start = Clock::now();
  Fixed_Block_File_Reader reader;
  File_Options options(BLOCK);
  options.read_ahead = true;  // as the volume upload reads its device
  if (!reader.open(src, O_RDONLY | O_CLOEXEC, options, 0640, false)) {
    std::fprintf(stderr, "cannot open %s: %s\n", src.c_str(), std::strerror(reader.last_error()));
    return 1;
  }
  const ACE_OFF_T size = reader.seek(0, SEEK_END);
  Client_IO_Ex io;
  if (!io.connect("file://" + pool_dir, codec_options(codec)) ||
      !io.open(name, Client_IO_Base::MODE_WRITE, 0, 0)) {
    std::fprintf(stderr, "pool: %s\n", io.error());
    return 1;
  }
  Image_Block_Writer writer(&io);
  if (const char* t = std::getenv("POOL_BENCH_THREADS")) writer.set_threads(std::atoi(t));
  std::string set_uuid(16, '\1'), image_uuid(16, '\2');
  if (!writer.init(512, BLOCK, 1, 0) || !writer.write_superblock(set_uuid, image_uuid, 0, nullptr, 0))
    return 1;
  writer.add_block(0, static_cast<uint64_t>(size));
  const bool ok = writer.write_blocks(
      [](unsigned long) { return true; },
      [&reader](const char*& data, ssize_t want, ACE_OFF_T offset) -> ssize_t {
        size_t len = 0;
        if (reader.seek(offset, SEEK_SET) != offset || !reader.read(data, len)) return -1;
        return static_cast<ssize_t>(std::min<size_t>(len, static_cast<size_t>(want)));
      });
  const uint64_t stored = io.storage_size();
  const auto closing = Clock::now();
  if (!ok || !io.close()) {
    std::fprintf(stderr, "write failed: %s\n", io.error());
    return 1;
  }
  report(start, closing, stored);
  return 0;
}

int read_image(const std::string& pool_dir, const std::string& name, const std::string& dest) {
  use_pool(pool_dir);
  // A restore writes onto a fresh volume: the destination is a new file, opened (as the
  // restore opens its device) without truncation.
  if (::unlink(dest.c_str()) != 0 && errno != ENOENT) {
    std::fprintf(stderr, "cannot replace %s: %s\n", dest.c_str(), std::strerror(errno));
    return 1;
  }
  const auto start = Clock::now();
  Client_IO_Ex io;
  if (!io.connect("file://" + pool_dir, Client_IO_Base::Options()) ||
      !io.open(name, Client_IO_Base::MODE_READ, 0, 0)) {
    std::fprintf(stderr, "pool: %s\n", io.error());
    return 1;
  }
  Fixed_Block_File_Writer writer;
  if (!writer.open(dest, O_CLOEXEC | O_CREAT | O_EXCL, false, 0640, File_Options(BLOCK))) {
    std::fprintf(stderr, "cannot open %s: %s\n", dest.c_str(), std::strerror(writer.last_error()));
    return 1;
  }
  Image_Block_Reader reader;
  if (const char* t = std::getenv("POOL_BENCH_THREADS")) reader.set_threads(std::atoi(t));
  const bool ok = reader.read_blocks_align(
      io,
      [&writer](const char* data, size_t len, int64_t offset) {
        return writer.seek(offset, SEEK_SET) == offset && writer.write(data, len, false);
      },
      BLOCK);
  const auto closing = Clock::now();
  if (!ok || !writer.close()) return 1;
  report(start, closing, io.storage_size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string cmd = argv[1];
  if (cmd == "make-mixed" && argc == 4) return make_mixed(argv[2], std::strtoul(argv[3], nullptr, 10));
  if (cmd == "register" && argc == 3) return register_pool(argv[2]);
  if (cmd == "write" && argc == 6) return write_image(argv[2], argv[3], argv[4], argv[5]);
  if (cmd == "read" && argc == 5) return read_image(argv[2], argv[3], argv[4]);
  return usage();
}
