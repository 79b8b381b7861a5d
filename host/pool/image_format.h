// The on-disk layout of a pool image, shared by the image writer and reader. An image is
// self-describing and verifiable from its first byte to its last:
//
//   superblock   512 bytes: magic "Q3IMAGE\0", format version, sector size, block size,
//                default codec and level, flags, backup-set and image UUIDs, length and
//                XXH3 of the extra data, the image's name (below: its length, XXH3 and
//                first 400 bytes), XXH3 of the superblock itself in its last 8 bytes
//   extra        the superblock's extra data (0 bytes or more)
//   extents      magic "Q3EXTNT\0", count, then (offset, length) per extent, XXH3
//   records      one per block, in extent order, each a 48-byte header (magic "QBLK",
//                codec, flags, raw and stored length, offset, XXH3 of the raw and of the
//                stored bytes, XXH3 of the header) followed by the stored bytes; an
//                all-zero block is a header with the zero flag and no stored bytes
//   trailer      48 bytes: magic "QEND", record count, raw and stored byte totals, the
//                end of the checksum chain, XXH3 of the trailer
//
// The checksums form one chain from the superblock on: the superblock's checksum seeds
// the extent table's, which seeds the first record header's, each header's seeds the
// next one's, and the trailer holds the last. A superblock in front of another image's
// body, a record of another image or a record out of its place fails at once.
//
// An image knows which image it is: its name is the path it was written under, below
// the folder of its registered pool (host/definition/job/instance/file for a backup's
// volume), whatever folder the connection was at. The superblock holds the name's length
// and XXH3 (which identify it) and its first MAX_NAME_TEXT bytes (which tell a person
// what the image is), and the reader refuses an image opened under another name before
// it hands out a block. All images of a backup set share their UUIDs, so the name is also
// what makes their chains differ: the head of one image in front of the body of another
// of the same set fails too. A name is as long as its path (the file system bounds it)
// and is identified whole; only a person sees it cut, after MAX_NAME_TEXT bytes.
//
// Older images are named differently and still read: images named below the connection
// they were written through (job/instance/file, below the backup's folder) are read
// where that name is the tail of their path, starting at a folder (a renamed folder
// above it goes unnoticed there); images written before images carried their name hold
// zeros there (length 0) and read without the check.
//
// Every integer is little-endian. The blocks of an extent are block-size long except
// the last one of the extent, which holds the rest.
#ifndef POOL_IMAGE_FORMAT_H
#define POOL_IMAGE_FORMAT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pool_image {

// The format version callers of the image writer name, and the layout written on disk
// (2: the chained checksums; images of layout 1 are refused).
constexpr uint32_t FORMAT_VERSION = 1;
constexpr uint32_t LAYOUT_VERSION = 2;
constexpr size_t SUPERBLOCK_SIZE = 512;
constexpr size_t RECORD_HEADER_SIZE = 48;
constexpr size_t TRAILER_SIZE = 48;
constexpr size_t EXTENT_HEADER_SIZE = 16;
constexpr size_t EXTENT_SIZE = 16;
constexpr size_t UUID_SIZE = 16;
constexpr size_t MIN_SECTOR_SIZE = 512;
constexpr size_t MAX_BLOCK_SIZE = size_t(64) << 20;
constexpr size_t MAX_EXTRA_SIZE = size_t(1) << 20;
constexpr uint32_t MAX_EXTENTS = uint32_t(1) << 20;
// The bytes of an image's name the superblock holds as text: what is left of it after
// the fields and before the checksum (offsets 104 to 504).
constexpr size_t MAX_NAME_TEXT = SUPERBLOCK_SIZE - 104 - 8;
static_assert(MAX_NAME_TEXT == 400, "the superblock's room for the name");

constexpr uint8_t RECORD_ZERO = 1;  // record flag: an all-zero block, nothing stored

}  // namespace pool_image

// What the superblock of an image says.
struct Image_Superblock {
  uint32_t version = pool_image::LAYOUT_VERSION;
  uint32_t sector_size = 0;
  uint32_t block_size = 0;
  uint32_t codec = 0;  // the codec the writer chose; each record names its own
  int32_t level = 0;
  uint32_t flags = 0;
  uint32_t image_flags = 0;
  std::string set_uuid;    // 16 bytes
  std::string image_uuid;  // 16 bytes
  uint32_t extra_length = 0;
  uint64_t extra_hash = 0;
  // The image's name in the pool: encoded whole (its length and hash identify it),
  // decoded as its first MAX_NAME_TEXT bytes, with name_length and name_hash set. Empty
  // (length 0) for an image written before images carried their name.
  std::string name;
  uint32_t name_length = 0;
  uint64_t name_hash = 0;
  uint64_t checksum = 0;  // the superblock's own checksum, the seed of the chain (decoded)
};

struct Image_Extent {
  uint64_t offset = 0;
  uint64_t length = 0;
};

struct Image_Record_Header {
  uint8_t codec = 0;
  uint8_t flags = 0;
  uint32_t raw_length = 0;
  uint32_t stored_length = 0;
  uint64_t offset = 0;
  uint64_t raw_hash = 0;
  uint64_t stored_hash = 0;
};

struct Image_Trailer {
  uint64_t records = 0;
  uint64_t raw_bytes = 0;
  uint64_t stored_bytes = 0;
  uint64_t headers_hash = 0;
};

namespace pool_image {

uint64_t hash(const void* data, size_t len);
// The next link of the checksum chain: the hash of `data` seeded with the link before.
uint64_t chained_hash(const void* data, size_t len, uint64_t chain);
bool all_zero(const char* data, size_t len);

// Each decode_* checks magic, checksum and bounds; on failure it returns false and says
// why in `why`.
// Returns the superblock's checksum, the seed of the chain.
uint64_t encode_superblock(const Image_Superblock& sb, char* out);
bool decode_superblock(const char* in, Image_Superblock& sb, std::string& why);
// True when the decoded superblock is that of the image at `path` (below its pool's
// folder): its name is `path`, or a tail of it that starts at a folder (an image named
// below the connection it was written through), or it has none (which cannot tell).
bool is_named(const Image_Superblock& sb, const std::string& path);

// `chain` goes in as the superblock's checksum and comes out as the table's.
std::string encode_extents(const std::vector<Image_Extent>& extents, uint64_t& chain);
// The first EXTENT_HEADER_SIZE bytes of the extent table: the count.
bool decode_extent_count(const char* in, uint32_t& count, std::string& why);
// The whole table (header, `count` extents, hash) of extent_table_size(count) bytes.
size_t extent_table_size(uint32_t count);
bool decode_extents(const char* in, uint32_t count, uint64_t& chain,
                    std::vector<Image_Extent>& extents, std::string& why);

// Encodes the fields of a record header; seal_record_header then writes its checksum,
// chained to the one before, and returns it (the chain's next link). Headers can so be
// encoded in any order and sealed in file order.
void encode_record_header(const Image_Record_Header& h, char* out);
uint64_t seal_record_header(char* out, uint64_t chain);
void encode_trailer(const Image_Trailer& t, char* out);
// A 48-byte unit read after the extents is a record header or the trailer.
enum Unit_Kind { UNIT_RECORD, UNIT_TRAILER, UNIT_BAD };
Unit_Kind unit_kind(const char* in);
// Checks the header against the chain so far and advances `chain` past it.
bool decode_record_header(const char* in, uint64_t& chain, Image_Record_Header& h,
                          std::string& why);
bool decode_trailer(const char* in, Image_Trailer& t, std::string& why);

}  // namespace pool_image

#endif  // POOL_IMAGE_FORMAT_H
