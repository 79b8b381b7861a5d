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
#include <vector>

namespace {

// Stored bytes and expanded bytes a batch holds (more when one block needs more), and
// the records it holds at most.
constexpr size_t BATCH_BYTES = size_t(512) << 10;
constexpr size_t BATCH_RECORDS = 64;

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

// The name an image claims, as it may be shown in the log: its bytes come from the pool.
std::string claimed_name(const Image_Superblock& sb) {
  std::string out;
  for (const char c : sb.name) out += (c >= 0x20 && c < 0x7F) ? c : '?';
  return sb.name.size() < sb.name_length ? out + "..." : out;
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

// One record of a batch.
struct Batch_Record {
  Image_Record_Header header;
  size_t in_at = 0;            // its stored bytes in the batch's `in`
  size_t out_at = 0;           // its expanded bytes in the batch's `out`, when compressed
  const char* data = nullptr;  // the verified block: in `in`, `out` or the zero block
};

bool compressed(const Image_Record_Header& h) {
  return h.codec != COMPR_NONE && !(h.flags & pool_image::RECORD_ZERO);
}

// Verifies one record whose stored bytes are at `in` + its offset and points its data
// at the block; null on success, else why it failed.
const char* expand_record(Batch_Record& r, const char* in, char* out, const char* zero_block,
                          Block_Codec& codec) {
  const Image_Record_Header& h = r.header;
  if (h.flags & pool_image::RECORD_ZERO) {
    r.data = zero_block;
    return nullptr;
  }
  const char* stored = in + r.in_at;
  const uint64_t stored_hash = pool_image::hash(stored, h.stored_length);
  if (stored_hash != h.stored_hash) return "block data checksum mismatch";
  if (h.codec == COMPR_NONE) {
    if (h.raw_hash != stored_hash) return "block checksum mismatch";
    r.data = stored;
    return nullptr;
  }
  char* raw = out + r.out_at;
  if (!codec.decompress(h.codec, stored, h.stored_length, raw, h.raw_length))
    return "cannot expand a compressed block";
  if (pool_image::hash(raw, h.raw_length) != h.raw_hash) return "expanded block checksum mismatch";
  r.data = raw;
  return nullptr;
}

}  // namespace

// A batch of consecutive records: their stored bytes back to back in `in`, the expanded
// bytes of the compressed ones in `out`. Batching lets one hand-off and one wake-up
// carry many blocks (a run of zero blocks costs next to nothing), and each record's
// bytes are read once, straight into `in`.
struct Image_Block_Reader::Slot {
  Aligned_Buffer in;
  Aligned_Buffer out;
  std::vector<Batch_Record> records;  // the first `count` are in use
  size_t count = 0;
  size_t in_used = 0;
  size_t out_used = 0;
  size_t failed = 0;  // the first record that failed verification; `count` when none
  const char* why = "";
};

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
  chain_ = sb.checksum;
  if (!pool_image::is_named(sb, io.path()))
    return refuse("the image at \"" + io.path() + "\" was written as \"" + claimed_name(sb) +
                  "\": it is another image, renamed or copied over this one");
  if (block_size != 0 && sb.block_size != block_size)
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
      !pool_image::decode_extents(buf.data(), count, chain_, extents, why))
    return refuse(why);
  if (!handle_descriptor_header(extents)) return refuse("extents not accepted");
  return true;
}

bool Image_Block_Reader::expand_batch(Slot& slot, Block_Codec& codec) const {
  for (slot.failed = 0; slot.failed < slot.count; ++slot.failed) {
    const char* why = expand_record(slot.records[slot.failed], slot.in.data(), slot.out.data(),
                                    zero_block_.data(), codec);
    if (why != nullptr) {
      slot.why = why;
      return false;
    }
  }
  return true;
}

// Reads the records into batches and checks the trailer; runs on the input thread and
// does not log: a failure is returned in `why`.
bool Image_Block_Reader::read_stream(Client_IO& io, const Image_Superblock& sb,
                                     const std::vector<Image_Extent>& extents,
                                     Ordered_Pipeline<Slot>& pipeline, std::string& why) const {
  const size_t bound = Block_Codec::bound(sb.block_size);
  Image_Trailer seen;
  seen.headers_hash = chain_;
  Block_Walk walk(extents, sb.block_size);
  char unit[pool_image::RECORD_HEADER_SIZE];
  Slot* s = nullptr;  // the batch being filled
  for (;;) {
    if (!read_exact(io, unit, sizeof unit, why, "blocks")) return false;
    const pool_image::Unit_Kind kind = pool_image::unit_kind(unit);
    if (kind == pool_image::UNIT_TRAILER) break;
    if (kind != pool_image::UNIT_RECORD) return fail_with(why, "damaged block header");
    Image_Record_Header h;
    if (!pool_image::decode_record_header(unit, seen.headers_hash, h, why)) return false;
    if (walk.done() || h.offset != walk.offset() || h.raw_length != walk.length())
      return fail_with(why, "unexpected block at offset " + std::to_string(h.offset));
    if (!known_codec(h.codec) || h.stored_length > bound ||
        (h.codec == COMPR_NONE && !(h.flags & pool_image::RECORD_ZERO) &&
         h.stored_length != h.raw_length))
      return fail_with(why, "bad block header at offset " + std::to_string(h.offset));
    const size_t out_need = compressed(h) ? h.raw_length : 0;
    if (s != nullptr && (s->count == s->records.size() ||
                         s->in_used + h.stored_length > s->in.size() ||
                         s->out_used + out_need > s->out.size())) {
      pipeline.submit();
      s = nullptr;
    }
    if (s == nullptr) {
      if ((s = pipeline.acquire()) == nullptr) return true;  // the consumer stopped; it knows why
      s->count = s->in_used = s->out_used = 0;
    }
    Batch_Record& r = s->records[s->count];
    r.header = h;
    r.in_at = s->in_used;
    r.out_at = s->out_used;
    if (!read_exact(io, s->in.data() + r.in_at, h.stored_length, why, "blocks")) return false;
    s->in_used += h.stored_length;
    s->out_used += out_need;
    ++s->count;
    seen.records += 1;
    seen.raw_bytes += h.raw_length;
    seen.stored_bytes += h.stored_length;
    walk.next();
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
  // The last batch goes out only once the whole image checked out, so a damaged trailer
  // stops the read before its final blocks are handed out.
  if (s != nullptr && s->count > 0) pipeline.submit();
  return true;
}

// Hands the first `records` blocks of a batch to the callback, straight from where they
// were verified.
bool Image_Block_Reader::deliver(const Slot& s, size_t records, const Block_Callback& callback,
                                 std::string& why) const {
  for (size_t i = 0; i < records; ++i) {
    const Batch_Record& r = s.records[i];
    if (!callback(r.data, r.header.raw_length, static_cast<int64_t>(r.header.offset))) {
      why = "stopped by the caller";
      return false;
    }
  }
  return true;
}

// One input thread reads the file, the workers verify and expand, and the calling
// thread hands the blocks to the callback (which may log to the caller's job), so
// reading, expanding and the callback's own writing overlap.
bool Image_Block_Reader::read_records(Client_IO& io, const Image_Superblock& sb,
                                      const std::vector<Image_Extent>& extents,
                                      const Block_Callback& callback) {
  zero_block_.resize(sb.block_size);
  std::memset(zero_block_.data(), 0, zero_block_.size());
  const size_t in_bytes = std::max(BATCH_BYTES, Block_Codec::bound(sb.block_size));
  const size_t out_bytes = std::max<size_t>(BATCH_BYTES, sb.block_size);
  Ordered_Pipeline<Slot> pipeline(
      threads_, pipeline_depth(threads_, in_bytes + out_bytes),
      [this](Slot& s, Block_Codec& c) { return expand_batch(s, c); });
  for (Slot& s : pipeline.slots()) {
    s.in.resize(in_bytes);
    s.out.resize(out_bytes);
    s.records.resize(BATCH_RECORDS);
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
    const Slot* s = pipeline.wait_oldest(ok);
    if (s == nullptr) break;
    if (deliver(*s, ok ? s->count : s->failed, callback, why) && !ok) {
      why = std::string(s->why) + " at offset " +
            std::to_string(s->records[s->failed].header.offset);
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
