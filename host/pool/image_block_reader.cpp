#include "pool/image_block_reader.h"

#include "client_io/client_io_base.h"
#include "pool/aligned_buffer.h"
#include "pool/client_io.h"
#include "pool/ordered_pipeline.h"

#include <ace/Log_Msg.h>

#include <algorithm>
#include <exception>
#include <new>
#include <system_error>
#include <cstring>
#include <thread>

struct Image_Block_Reader::Slot {
  Aligned_Buffer in;   // the stored bytes
  Aligned_Buffer out;  // the expanded block
  Image_Record_Header header;
  const char* data = nullptr;  // the verified block, in `in`, `out` or the zero block
  std::string why;
};

namespace {

// Up to six codec threads, leaving two cores to the transfer threads.
size_t default_threads() {
  const unsigned int cores = std::thread::hardware_concurrency();
  return std::max<size_t>(1, std::min<size_t>(6, cores > 2 ? cores - 2 : 1));
}

bool read_exact(Client_IO& io, void* buf, size_t len, std::string& why, const char* what) {
  const ssize_t n = io.read(buf, len);
  if (n == static_cast<ssize_t>(len)) return true;
  why = n < 0 ? std::string(io.error()) : std::string("truncated image (in the ") + what + ")";
  return false;
}

bool fail_with(std::string& why, const std::string& text) {
  why = text;
  return false;
}

bool known_codec(uint8_t codec) {
  return codec == COMPR_NONE || codec == COMPR_LZOP || codec == COMPR_ZSTD;
}

// Walks the blocks that the extents promise, in order.
class Block_Walk {
 public:
  Block_Walk(const std::vector<Image_Extent>& extents, size_t block_size)
      : extents_(extents), block_size_(block_size) {
    if (!extents_.empty()) offset_ = extents_[0].offset;
  }
  bool done() const { return index_ >= extents_.size(); }
  uint64_t offset() const { return offset_; }
  size_t length() const {
    const Image_Extent& e = extents_[index_];
    return static_cast<size_t>(std::min<uint64_t>(block_size_, e.offset + e.length - offset_));
  }
  void next() {
    offset_ += length();
    const Image_Extent& e = extents_[index_];
    if (offset_ >= e.offset + e.length && ++index_ < extents_.size())
      offset_ = extents_[index_].offset;
  }

 private:
  const std::vector<Image_Extent>& extents_;
  size_t block_size_;
  size_t index_ = 0;
  uint64_t offset_ = 0;
};

}  // namespace

Image_Block_Reader::Image_Block_Reader() : threads_(default_threads()) {}

Image_Block_Reader::~Image_Block_Reader() = default;

bool Image_Block_Reader::handle_superblock(const Image_Superblock&) { return true; }

bool Image_Block_Reader::handle_superblock_extra(const char*, size_t) { return true; }

bool Image_Block_Reader::handle_descriptor_header(const std::vector<Image_Extent>&) {
  return true;
}

bool Image_Block_Reader::refuse(const std::string& why) const {
  ACE_DEBUG((LM_ERROR, "Failed to read pool image: %s.\n", why.c_str()));
  return false;
}

bool Image_Block_Reader::read_blocks_align(Client_IO* io, const Block_Callback& callback,
                                           size_t block_size) {
  if (io == nullptr) return refuse("no pool connection");
  return read_blocks_align(*io, callback, block_size);
}

bool Image_Block_Reader::read_blocks_align(Client_IO& io, const Block_Callback& callback,
                                           size_t block_size) {
  if (block_size == 0) return refuse("block size 0");
  if (!callback) return refuse("no block callback");
  try {
    Image_Superblock sb;
    std::vector<Image_Extent> extents;
    if (!read_header(io, block_size, sb, extents)) return false;
    return read_records(io, sb, extents, callback);
  } catch (const std::bad_alloc&) {
    return refuse("out of memory");
  }
}

bool Image_Block_Reader::read_header(Client_IO& io, size_t block_size, Image_Superblock& sb,
                                     std::vector<Image_Extent>& extents) {
  std::string why;
  std::vector<char> buf(pool_image::SUPERBLOCK_SIZE);
  if (!read_exact(io, buf.data(), buf.size(), why, "superblock") ||
      !pool_image::decode_superblock(buf.data(), sb, why))
    return refuse(why);
  if (sb.block_size != block_size)
    return refuse("the image's block size is " + std::to_string(sb.block_size) + ", not " +
                  std::to_string(block_size));
  if (!handle_superblock(sb)) return refuse("superblock not accepted");
  buf.resize(sb.extra_length);
  if (!read_exact(io, buf.data(), buf.size(), why, "superblock extra data")) return refuse(why);
  if (pool_image::hash(buf.data(), buf.size()) != sb.extra_hash)
    return refuse("superblock extra data checksum mismatch");
  if (!handle_superblock_extra(buf.data(), buf.size()))
    return refuse("superblock extra data not accepted");
  buf.resize(pool_image::EXTENT_HEADER_SIZE);
  uint32_t count = 0;
  if (!read_exact(io, buf.data(), buf.size(), why, "extent table") ||
      !pool_image::decode_extent_count(buf.data(), count, why))
    return refuse(why);
  buf.resize(pool_image::extent_table_size(count));
  if (!read_exact(io, buf.data() + pool_image::EXTENT_HEADER_SIZE,
                  buf.size() - pool_image::EXTENT_HEADER_SIZE, why, "extent table") ||
      !pool_image::decode_extents(buf.data(), count, extents, why))
    return refuse(why);
  if (!handle_descriptor_header(extents)) return refuse("extents not accepted");
  return true;
}

bool Image_Block_Reader::expand_block(Slot& slot, Block_Codec& codec) const {
  const Image_Record_Header& h = slot.header;
  if (h.flags & pool_image::RECORD_ZERO) {
    slot.data = zero_block_.data();
    return true;
  }
  const char* stored = slot.in.data();
  const uint64_t stored_hash = pool_image::hash(stored, h.stored_length);
  if (stored_hash != h.stored_hash) {
    slot.why = "block data checksum mismatch";
    return false;
  }
  if (h.codec == COMPR_NONE) {
    if (h.raw_hash != stored_hash) {
      slot.why = "block checksum mismatch";
      return false;
    }
    slot.data = stored;
    return true;
  }
  if (!codec.decompress(h.codec, stored, h.stored_length, slot.out.data(), h.raw_length)) {
    slot.why = "cannot expand a compressed block";
    return false;
  }
  if (pool_image::hash(slot.out.data(), h.raw_length) != h.raw_hash) {
    slot.why = "expanded block checksum mismatch";
    return false;
  }
  slot.data = slot.out.data();
  return true;
}

// Reads the records into the pipeline and checks the trailer; runs on the input thread
// and does not log: a failure is returned in `why`.
bool Image_Block_Reader::read_stream(Client_IO& io, const Image_Superblock& sb,
                                     const std::vector<Image_Extent>& extents,
                                     Ordered_Pipeline<Slot>& pipeline, std::string& why) const {
  const size_t bound = Block_Codec::bound(sb.block_size);
  Image_Trailer seen;
  Block_Walk walk(extents, sb.block_size);
  char unit[pool_image::RECORD_HEADER_SIZE];
  for (;;) {
    if (!read_exact(io, unit, sizeof unit, why, "blocks")) return false;
    const pool_image::Unit_Kind kind = pool_image::unit_kind(unit);
    if (kind == pool_image::UNIT_TRAILER) break;
    if (kind != pool_image::UNIT_RECORD) return fail_with(why, "damaged block header");
    Image_Record_Header h;
    if (!pool_image::decode_record_header(unit, h, why)) return false;
    if (walk.done() || h.offset != walk.offset() || h.raw_length != walk.length())
      return fail_with(why, "unexpected block at offset " + std::to_string(h.offset));
    if (!known_codec(h.codec) || h.stored_length > bound ||
        (h.codec == COMPR_NONE && !(h.flags & pool_image::RECORD_ZERO) &&
         h.stored_length != h.raw_length))
      return fail_with(why, "bad block header at offset " + std::to_string(h.offset));
    Slot* s = pipeline.acquire();
    if (s == nullptr) return true;  // the consumer stopped; it knows why
    s->header = h;
    if (!read_exact(io, s->in.data(), h.stored_length, why, "blocks")) return false;
    seen.headers_hash = pool_image::chain_header_hash(seen.headers_hash, unit);
    seen.records += 1;
    seen.raw_bytes += h.raw_length;
    seen.stored_bytes += h.stored_length;
    walk.next();
    pipeline.submit();
  }
  Image_Trailer trailer;
  if (!pool_image::decode_trailer(unit, trailer, why)) return false;
  if (!walk.done()) return fail_with(why, "the image ends before its last block");
  if (trailer.records != seen.records || trailer.raw_bytes != seen.raw_bytes ||
      trailer.stored_bytes != seen.stored_bytes || trailer.headers_hash != seen.headers_hash)
    return fail_with(why, "the trailer does not match the blocks");
  char extra;
  const ssize_t n = io.read(&extra, 1);
  if (n != 0) return fail_with(why, n < 0 ? std::string(io.error()) : "data after the trailer");
  return true;
}

// Hands a block to the callback from a buffer of the calling thread: the callback's own
// write of it (to a device, through the page cache) copies from a cache-warm buffer,
// which the kernel does much faster than from memory another core just wrote.
bool Image_Block_Reader::deliver(const Slot& s, const Block_Callback& callback) {
  const size_t n = s.header.raw_length;
  const char* data = s.data;
  if (data != zero_block_.data()) {
    std::memcpy(staging_.data(), data, n);
    data = staging_.data();
  }
  return callback(data, n, static_cast<int64_t>(s.header.offset));
}

// One input thread reads the file, the workers expand and verify, and the calling
// thread hands the blocks to the callback (which may log to the caller's job), so
// reading, expanding and the callback's own writing overlap.
bool Image_Block_Reader::read_records(Client_IO& io, const Image_Superblock& sb,
                                      const std::vector<Image_Extent>& extents,
                                      const Block_Callback& callback) {
  zero_block_.resize(sb.block_size);
  staging_.resize(sb.block_size);
  std::memset(zero_block_.data(), 0, zero_block_.size());
  Ordered_Pipeline<Slot> pipeline(threads_, 3 * threads_ + 2,
                                  [this](Slot& s, Block_Codec& c) { return expand_block(s, c); });
  for (Slot& s : pipeline.slots()) {
    s.in.resize(Block_Codec::bound(sb.block_size));
    s.out.resize(sb.block_size);
  }
  if (!pipeline.start()) return refuse("cannot start the reader's threads");
  std::string input_error;  // written by the input thread, read after it ended
  bool input_ok = false;
  auto input = [&] {
    try {
      input_ok = read_stream(io, sb, extents, pipeline, input_error);
    } catch (const std::exception& e) {
      input_error = e.what();
    }
    if (input_ok) {
      pipeline.close_input();
    } else {
      pipeline.cancel();
    }
  };
  std::thread input_thread;
  try {
    input_thread = std::thread(input);
  } catch (const std::system_error&) {
    return refuse("cannot start the reader's threads");
  }
  Pipeline_Thread_Joiner<Slot> joiner(pipeline, input_thread);
  std::string why;
  for (bool ok = false;;) {
    Slot* s = pipeline.wait_oldest(ok);
    if (s == nullptr) break;
    if (!ok) {
      why = s->why + " at offset " + std::to_string(s->header.offset);
    } else if (!deliver(*s, callback)) {
      why = "stopped by the caller";
    }
    if (!why.empty()) {
      pipeline.cancel();
      break;
    }
    pipeline.release_oldest();
  }
  joiner.join(false);
  if (!why.empty()) return refuse(why);
  if (!input_ok) return refuse(input_error);
  return true;
}
