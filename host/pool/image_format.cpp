#include "pool/image_format.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>

namespace pool_image {
namespace {

const char SUPER_MAGIC[8] = {'Q', '3', 'I', 'M', 'A', 'G', 'E', '\0'};
const char EXTENT_MAGIC[8] = {'Q', '3', 'E', 'X', 'T', 'N', 'T', '\0'};
const char RECORD_MAGIC[4] = {'Q', 'B', 'L', 'K'};
const char TRAILER_MAGIC[4] = {'Q', 'E', 'N', 'D'};

// Byte offsets inside the superblock.
enum : size_t {
  SB_VERSION = 8,
  SB_SIZE = 12,
  SB_SECTOR = 16,
  SB_BLOCK = 20,
  SB_CODEC = 24,
  SB_LEVEL = 28,
  SB_FLAGS = 32,
  SB_IMAGE_FLAGS = 36,
  SB_SET_UUID = 40,
  SB_IMAGE_UUID = 56,
  SB_EXTRA_LEN = 72,
  SB_EXTRA_HASH = 80,
  SB_NAME_LEN = 88,
  SB_NAME_HASH = 96,
  SB_NAME_TEXT = 104,
  SB_CHECKSUM = SUPERBLOCK_SIZE - 8
};
static_assert(SB_NAME_TEXT + MAX_NAME_TEXT == SB_CHECKSUM, "the name's text fills the rest");

void put32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

void put64(char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<char>(v >> (8 * i));
}

uint32_t get32(const char* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

uint64_t get64(const char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

bool fail(std::string& why, const char* text) {
  why = text;
  return false;
}

bool power_of_two(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

uint64_t hash(const void* data, size_t len) { return XXH3_64bits(data, len); }

uint64_t chained_hash(const void* data, size_t len, uint64_t chain) {
  return XXH3_64bits_withSeed(data, len, chain);
}


bool all_zero(const char* data, size_t len) {
  // Most blocks that are not zero differ in their first bytes; the rest is checked a
  // cache line at a time, with one branch per line.
  size_t i = 0;
  for (; i < len && i < 64; ++i) {
    if (data[i] != 0) return false;
  }
  for (; i + 64 <= len; i += 64) {
    uint64_t w[8];
    std::memcpy(w, data + i, sizeof w);
    if ((w[0] | w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) != 0) return false;
  }
  for (; i < len; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

uint64_t encode_superblock(const Image_Superblock& sb, char* out) {
  std::memset(out, 0, SUPERBLOCK_SIZE);
  std::memcpy(out, SUPER_MAGIC, sizeof SUPER_MAGIC);
  put32(out + SB_VERSION, sb.version);
  put32(out + SB_SIZE, SUPERBLOCK_SIZE);
  put32(out + SB_SECTOR, sb.sector_size);
  put32(out + SB_BLOCK, sb.block_size);
  put32(out + SB_CODEC, sb.codec);
  put32(out + SB_LEVEL, static_cast<uint32_t>(sb.level));
  put32(out + SB_FLAGS, sb.flags);
  put32(out + SB_IMAGE_FLAGS, sb.image_flags);
  std::memcpy(out + SB_SET_UUID, sb.set_uuid.data(), std::min(sb.set_uuid.size(), UUID_SIZE));
  std::memcpy(out + SB_IMAGE_UUID, sb.image_uuid.data(),
              std::min(sb.image_uuid.size(), UUID_SIZE));
  put32(out + SB_EXTRA_LEN, sb.extra_length);
  put64(out + SB_EXTRA_HASH, sb.extra_hash);
  if (!sb.name.empty()) {
    put32(out + SB_NAME_LEN, static_cast<uint32_t>(sb.name.size()));
    put64(out + SB_NAME_HASH, hash(sb.name.data(), sb.name.size()));
    std::memcpy(out + SB_NAME_TEXT, sb.name.data(), std::min(sb.name.size(), MAX_NAME_TEXT));
  }
  const uint64_t checksum = hash(out, SB_CHECKSUM);
  put64(out + SB_CHECKSUM, checksum);
  return checksum;
}

bool decode_superblock(const char* in, Image_Superblock& sb, std::string& why) {
  if (std::memcmp(in, SUPER_MAGIC, sizeof SUPER_MAGIC) != 0)
    return fail(why, "not a pool image (bad superblock magic)");
  sb.checksum = hash(in, SB_CHECKSUM);
  if (get64(in + SB_CHECKSUM) != sb.checksum) return fail(why, "superblock checksum mismatch");
  sb.version = get32(in + SB_VERSION);
  if (sb.version != LAYOUT_VERSION) return fail(why, "unsupported image format version");
  if (get32(in + SB_SIZE) != SUPERBLOCK_SIZE) return fail(why, "bad superblock size");
  sb.sector_size = get32(in + SB_SECTOR);
  sb.block_size = get32(in + SB_BLOCK);
  if (!power_of_two(sb.sector_size) || sb.sector_size < MIN_SECTOR_SIZE ||
      sb.block_size == 0 || sb.block_size > MAX_BLOCK_SIZE || sb.block_size % sb.sector_size)
    return fail(why, "bad sector or block size in superblock");
  sb.codec = get32(in + SB_CODEC);
  sb.level = static_cast<int32_t>(get32(in + SB_LEVEL));
  sb.flags = get32(in + SB_FLAGS);
  sb.image_flags = get32(in + SB_IMAGE_FLAGS);
  sb.set_uuid.assign(in + SB_SET_UUID, UUID_SIZE);
  sb.image_uuid.assign(in + SB_IMAGE_UUID, UUID_SIZE);
  sb.extra_length = get32(in + SB_EXTRA_LEN);
  sb.extra_hash = get64(in + SB_EXTRA_HASH);
  if (sb.extra_length > MAX_EXTRA_SIZE) return fail(why, "superblock extra data too long");
  sb.name_length = get32(in + SB_NAME_LEN);
  sb.name_hash = get64(in + SB_NAME_HASH);
  if (get32(in + SB_NAME_LEN + 4) != 0 || (sb.name_length == 0 && sb.name_hash != 0))
    return fail(why, "bad image name in superblock");
  sb.name.assign(in + SB_NAME_TEXT, std::min<size_t>(sb.name_length, MAX_NAME_TEXT));
  return true;
}

bool is_named(const Image_Superblock& sb, const std::string& path) {
  if (sb.name_length == 0) return true;
  if (sb.name_length > path.size()) return false;
  // The only tail of `path` as long as the name; it must start a folder's name.
  const size_t at = path.size() - sb.name_length;
  return (at == 0 || path[at - 1] == '/') && sb.name_hash == hash(path.data() + at, sb.name_length);
}

size_t extent_table_size(uint32_t count) {
  return EXTENT_HEADER_SIZE + size_t(count) * EXTENT_SIZE + 8;
}

std::string encode_extents(const std::vector<Image_Extent>& extents, uint64_t& chain) {
  const uint32_t count = static_cast<uint32_t>(extents.size());
  std::string out(extent_table_size(count), '\0');
  char* p = &out[0];
  std::memcpy(p, EXTENT_MAGIC, sizeof EXTENT_MAGIC);
  put32(p + 8, count);
  size_t at = EXTENT_HEADER_SIZE;
  for (const Image_Extent& e : extents) {
    put64(p + at, e.offset);
    put64(p + at + 8, e.length);
    at += EXTENT_SIZE;
  }
  chain = chained_hash(p, at, chain);
  put64(p + at, chain);
  return out;
}

bool decode_extent_count(const char* in, uint32_t& count, std::string& why) {
  if (std::memcmp(in, EXTENT_MAGIC, sizeof EXTENT_MAGIC) != 0)
    return fail(why, "bad extent table magic");
  count = get32(in + 8);
  if (count > MAX_EXTENTS || get32(in + 12) != 0) return fail(why, "bad extent count");
  return true;
}

bool decode_extents(const char* in, uint32_t count, uint64_t& chain,
                    std::vector<Image_Extent>& extents, std::string& why) {
  const size_t body = EXTENT_HEADER_SIZE + size_t(count) * EXTENT_SIZE;
  const uint64_t checksum = chained_hash(in, body, chain);
  if (get64(in + body) != checksum)
    return fail(why, "extent table checksum mismatch (damaged, or not of this image)");
  chain = checksum;
  extents.clear();
  extents.reserve(count);
  for (size_t at = EXTENT_HEADER_SIZE; at < body; at += EXTENT_SIZE) {
    Image_Extent e;
    e.offset = get64(in + at);
    e.length = get64(in + at + 8);
    if (e.length == 0 || e.offset + e.length < e.offset) return fail(why, "bad extent");
    extents.push_back(e);
  }
  return true;
}

void encode_record_header(const Image_Record_Header& h, char* out) {
  std::memcpy(out, RECORD_MAGIC, sizeof RECORD_MAGIC);
  out[4] = static_cast<char>(h.codec);
  out[5] = static_cast<char>(h.flags);
  out[6] = out[7] = 0;
  put32(out + 8, h.raw_length);
  put32(out + 12, h.stored_length);
  put64(out + 16, h.offset);
  put64(out + 24, h.raw_hash);
  put64(out + 32, h.stored_hash);
  put64(out + 40, 0);
}

uint64_t seal_record_header(char* out, uint64_t chain) {
  const uint64_t checksum = chained_hash(out, 40, chain);
  put64(out + 40, checksum);
  return checksum;
}

void encode_trailer(const Image_Trailer& t, char* out) {
  std::memcpy(out, TRAILER_MAGIC, sizeof TRAILER_MAGIC);
  put32(out + 4, 0);
  put64(out + 8, t.records);
  put64(out + 16, t.raw_bytes);
  put64(out + 24, t.stored_bytes);
  put64(out + 32, t.headers_hash);
  put64(out + 40, hash(out, 40));
}

Unit_Kind unit_kind(const char* in) {
  if (std::memcmp(in, RECORD_MAGIC, sizeof RECORD_MAGIC) == 0) return UNIT_RECORD;
  if (std::memcmp(in, TRAILER_MAGIC, sizeof TRAILER_MAGIC) == 0) return UNIT_TRAILER;
  return UNIT_BAD;
}

bool decode_record_header(const char* in, uint64_t& chain, Image_Record_Header& h,
                          std::string& why) {
  const uint64_t checksum = chained_hash(in, 40, chain);
  if (get64(in + 40) != checksum)
    return fail(why, "block header checksum mismatch (damaged, or not of this image)");
  chain = checksum;
  h.codec = static_cast<uint8_t>(in[4]);
  h.flags = static_cast<uint8_t>(in[5]);
  h.raw_length = get32(in + 8);
  h.stored_length = get32(in + 12);
  h.offset = get64(in + 16);
  h.raw_hash = get64(in + 24);
  h.stored_hash = get64(in + 32);
  if (in[6] != 0 || in[7] != 0 || (h.flags & ~RECORD_ZERO) != 0)
    return fail(why, "bad block header flags");
  if ((h.flags & RECORD_ZERO) && h.stored_length != 0)
    return fail(why, "zero block with stored data");
  return true;
}

bool decode_trailer(const char* in, Image_Trailer& t, std::string& why) {
  if (get64(in + 40) != hash(in, 40) || get32(in + 4) != 0)
    return fail(why, "trailer checksum mismatch");
  t.records = get64(in + 8);
  t.raw_bytes = get64(in + 16);
  t.stored_bytes = get64(in + 24);
  t.headers_hash = get64(in + 32);
  return true;
}

}  // namespace pool_image
