// Fuzz target: one pool file read back as an image by the image reader, through a
// real pool connection. Built twice: as it comes (the checksums stop most inputs early),
// and with FUZZ_RECHECK, where every checksum of the input is first made right so the
// fuzzer reaches the extents, records, codecs and trailer behind them.
#include "fuzz_support.h"
#include "pool/block_codec.h"
#include "pool/client_io.h"
#include "pool/image_block_reader.h"
#include "pool/image_format.h"
#include "pool/pool_registry.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string g_dir;  // the throw-away home and pool of this process

uint64_t get_le(const std::string& s, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

void put_le(std::string& s, size_t at, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// Makes every checksum of `img` right, walking it as the reader does: the superblock
// (its block size kept small), the extra data, the extent table, each record header and
// its stored (and expanded) bytes, the trailer.
[[maybe_unused]] void recheck(std::string& img) {
  using namespace pool_image;
  if (img.size() < SUPERBLOCK_SIZE) return;
  std::memcpy(&img[0], "Q3IMAGE", 8);
  put_le(img, 8, LAYOUT_VERSION, 4);
  put_le(img, 12, SUPERBLOCK_SIZE, 4);
  put_le(img, 16, 512, 4);
  uint32_t block = static_cast<uint32_t>(get_le(img, 20, 4));
  if (block == 0 || block > (64u << 10) || block % 512 != 0)
    block = 512u << (static_cast<unsigned char>(img[20]) % 8);
  put_le(img, 20, block, 4);
  size_t pos = SUPERBLOCK_SIZE;
  const size_t extra = std::min<size_t>(get_le(img, 72, 4) % 4096, img.size() - pos);
  put_le(img, 72, extra, 4);
  put_le(img, 80, hash(img.data() + pos, extra), 8);
  // A named image gets the name of the file the input is read from.
  const bool named = get_le(img, 88, 4) != 0;
  put_le(img, 88, named ? 3 : 0, 8);
  put_le(img, 96, named ? hash("img", 3) : 0, 8);
  uint64_t chain = hash(img.data(), SUPERBLOCK_SIZE - 8);
  put_le(img, SUPERBLOCK_SIZE - 8, chain, 8);
  pos += extra;
  if (img.size() < pos + EXTENT_HEADER_SIZE + 8) return;
  std::memcpy(&img[pos], "Q3EXTNT", 8);
  const size_t room = (img.size() - pos - EXTENT_HEADER_SIZE - 8) / EXTENT_SIZE;
  const uint32_t count = static_cast<uint32_t>(std::min<size_t>(get_le(img, pos + 8, 4), room));
  put_le(img, pos + 8, count, 8);
  const size_t body = EXTENT_HEADER_SIZE + size_t(count) * EXTENT_SIZE;
  chain = chained_hash(img.data() + pos, body, chain);
  put_le(img, pos + body, chain, 8);
  pos += body + 8;
  Block_Codec codec;
  std::vector<char> raw;
  while (pos + RECORD_HEADER_SIZE <= img.size()) {
    char* unit = &img[pos];
    if (unit_kind(unit) == UNIT_TRAILER) {
      put_le(img, pos + 4, 0, 4);
      put_le(img, pos + 32, chain, 8);
      put_le(img, pos + 40, hash(unit, 40), 8);
      return;
    }
    std::memcpy(unit, "QBLK", 4);
    const size_t stored = std::min<size_t>(get_le(img, pos + 12, 4),
                                           img.size() - pos - RECORD_HEADER_SIZE);
    put_le(img, pos + 12, stored, 4);
    const char* bytes = unit + RECORD_HEADER_SIZE;
    const uint64_t stored_hash = hash(bytes, stored);
    put_le(img, pos + 32, stored_hash, 8);
    uint64_t raw_hash = stored_hash;
    const size_t raw_length = get_le(img, pos + 8, 4);
    if (unit[4] != 0 && raw_length <= block) {
      raw.resize(raw_length);
      if (codec.decompress(unit[4], bytes, stored, raw.data(), raw_length))
        raw_hash = hash(raw.data(), raw_length);
    }
    put_le(img, pos + 24, raw_hash, 8);
    chain = seal_record_header(unit, chain);
    pos += RECORD_HEADER_SIZE + stored;
  }
}

bool set_up_pool() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/fuzz_pool.XXXXXX";
  if (::mkdtemp(&tmpl[0]) == nullptr) return false;
  g_dir = tmpl;
  ::setenv("QUILLON3_ROOT", (g_dir + "/home").c_str(), 1);
  ::mkdir((g_dir + "/home").c_str(), 0700);
  ::mkdir((g_dir + "/pool").c_str(), 0700);
  Pool_Record rec;
  rec.uuid = "pool-1";
  rec.name = "fuzz";
  rec.host_uuid = "host-1";
  rec.url = "file://" + g_dir + "/pool";
  return Pool_Registry().add(rec);
}

void tear_down_pool() {
  if (!g_dir.empty()) std::system(("rm -rf '" + g_dir + "'").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_log();
  if (!set_up_pool()) std::abort();
  std::atexit(tear_down_pool);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string img(reinterpret_cast<const char*>(data), size);
#ifdef FUZZ_RECHECK
  recheck(img);
#endif
  {
    std::ofstream out(g_dir + "/pool/img", std::ios::binary | std::ios::trunc);
    out.write(img.data(), static_cast<std::streamsize>(img.size()));
  }
  const size_t block = img.size() >= 24 ? static_cast<size_t>(get_le(img, 20, 4)) : 4096;
  Client_IO_Ex io;
  if (!io.connect("file://" + g_dir + "/pool", Client_IO_Base::Options()) ||
      !io.open("img", Client_IO_Base::MODE_READ, 0, 0))
    std::abort();
  Image_Block_Reader reader;
  reader.set_threads(1);
  reader.read_blocks_align(io, [](const char*, size_t, int64_t) { return true; }, block);
  io.close();
  return 0;
}
