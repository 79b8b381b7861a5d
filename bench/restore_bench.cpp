// bench-component: mod_tc_job
// The write phase of a volume restore, for bench/restore_bench.sh: one pool image read
// through Volume_Reader onto a device, from the opening of the image to the device
// synced, as the volume restore runs it for each piece. Prints the seconds and the
// process's peak resident memory.
//
//   restore_bench POOL_DIR NAME DEVICE     (the pool registered by pool_io_bench)
#include "pool/client_io.h"
#include "tavrocloud/job/volume_reader.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: restore_bench POOL_DIR NAME DEVICE\n");
    return 2;
  }
  const std::string pool_dir = argv[1], name = argv[2], device = argv[3];
  ::setenv("QUILLON3_ROOT", (pool_dir + "/.bench-home").c_str(), 1);
  const auto start = std::chrono::steady_clock::now();
  Client_IO_Ex io;
  if (!io.connect("file://" + pool_dir, Client_IO_Base::Options()) ||
      !io.open(name, Client_IO_Base::MODE_READ, 0, 0)) {
    std::fprintf(stderr, "pool: %s\n", io.error());
    return 1;
  }
  // No catalog here: the image's own block size is the one read (0 recorded).
  tavrocloud::Volume_Reader reader(device, 0, name);
  uint64_t bytes = 0;
  const bool ok = reader.read_all(io, [&bytes](const char*, size_t n, int64_t) {
    bytes += n;
    return true;
  });
  io.close();
  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  struct rusage ru;
  ::getrusage(RUSAGE_SELF, &ru);
  std::printf("%.3f %ld %llu\n", secs, ru.ru_maxrss, static_cast<unsigned long long>(bytes));
  return ok ? 0 : 1;
}
