#include "pool/image_writer.h"

#include "pool/aligned_buffer.h"
#include "pool/client_io.h"
#include "pool/ordered_pipeline.h"

#include <ace/Log_Msg.h>

#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <system_error>
#include <thread>

namespace yolt {

namespace {

// Raw bytes of a batch of blocks (at least one block).
constexpr size_t BATCH_BYTES = size_t(512) << 10;

// Up to six codec threads, leaving two cores to the transfer threads.
size_t default_threads() {
  const unsigned int cores = std::thread::hardware_concurrency();
  return std::max<size_t>(1, std::min<size_t>(6, cores > 2 ? cores - 2 : 1));
}

bool power_of_two(size_t v) { return v != 0 && (v & (v - 1)) == 0; }

// One block of a batch, as encoded.
struct Batch_Block {
  uint64_t offset = 0;
  size_t raw_length = 0;
  size_t stored_length = 0;
  bool zero = false;    // all zero: not copied, stored as a header alone
  bool packed = false;  // the stored bytes follow the header in `out`; else they are in `in`
};

}  // namespace

// A batch of consecutive blocks: block i copied out of the source's buffer to
// in + i * block size, its record (header, then the compressed bytes when compressed)
// built at out + i * stride. One hand-off and one vectored write carry the batch.
struct Image_Writer::Slot {
  Aligned_Buffer in;
  Aligned_Buffer out;
  size_t stride = 0;
  std::vector<Batch_Block> blocks;  // the first `count` are in use
  size_t count = 0;
  size_t failed = 0;              // the first block that could not be encoded
  std::vector<struct iovec> iov;  // the output thread's, to write the batch
};

Image_Writer::Image_Writer(Client_IO* io) : io_(io), threads_(default_threads()) {}

Image_Writer::~Image_Writer() = default;

bool Image_Writer::drop() {
  // The caller reads the cause of the failure in errno: the clean-up must not change it.
  const int cause = errno;
  if (io_ != nullptr) io_->abort();
  errno = cause;
  return false;
}

bool Image_Writer::init(size_t sector_size, size_t block_size, unsigned int version,
                        unsigned int flags) {
  if (io_ == nullptr) {
    ACE_DEBUG((LM_ERROR, "Image writer without a pool connection.\n"));
    return false;
  }
  // From here the file is this image's: closed before its trailer, it is discarded,
  // also when the geometry is refused or no block was written.
  io_->hold_publication();
  if (!power_of_two(sector_size) || sector_size < pool_image::MIN_SECTOR_SIZE ||
      block_size == 0 || block_size % sector_size != 0 ||
      block_size > pool_image::MAX_BLOCK_SIZE || version != pool_image::FORMAT_VERSION ||
      flags != 0) {
    ACE_DEBUG((LM_ERROR,
               "Refused image geometry: sector size %B, block size %B, version %u, flags %u.\n",
               static_cast<ACE_UINT64>(sector_size), static_cast<ACE_UINT64>(block_size),
               version, flags));
    return false;
  }
  const Client_IO_Base::Options& opts = io_->options();
  switch (opts.compression_method) {
    case COMPR_NONE:
      codec_ = COMPR_NONE;
      level_ = 0;
      break;
    case COMPR_LZOP:
      codec_ = COMPR_LZOP;
      level_ = 0;
      break;
    case COMPR_ZSTD:
      codec_ = COMPR_ZSTD;
      level_ = Block_Codec::zstd_level(opts.compression_level);
      break;
    default:
      codec_ = COMPR_ZSTD;
      level_ = 1;
      break;
  }
  sector_size_ = sector_size;
  block_size_ = block_size;
  initialised_ = true;
  superblock_written_ = finished_ = false;
  trailer_ = Image_Trailer();
  return true;
}

bool Image_Writer::write_superblock(const std::string& set_uuid, const std::string& image_uuid,
                                    uint32_t image_flags, const void* extra,
                                    size_t extra_length) {
  if (!initialised_ || superblock_written_) {
    ACE_DEBUG((LM_ERROR, "Image superblock written %s.\n",
               initialised_ ? "twice" : "before the writer was initialised"));
    return false;
  }
  if (set_uuid.size() != pool_image::UUID_SIZE || image_uuid.size() != pool_image::UUID_SIZE ||
      extra_length > pool_image::MAX_EXTRA_SIZE || (extra_length > 0 && extra == nullptr)) {
    ACE_DEBUG((LM_ERROR, "Refused image superblock: UUIDs must be 16 bytes, extra data at "
                         "most 1 MiB.\n"));
    return false;
  }
  Image_Superblock sb;
  sb.sector_size = static_cast<uint32_t>(sector_size_);
  sb.block_size = static_cast<uint32_t>(block_size_);
  sb.codec = static_cast<uint32_t>(codec_);
  sb.level = level_;
  sb.image_flags = image_flags;
  sb.set_uuid = set_uuid;
  sb.image_uuid = image_uuid;
  sb.extra_length = static_cast<uint32_t>(extra_length);
  sb.extra_hash = pool_image::hash(extra_length ? extra : "", extra_length);
  sb.name = io_->path();
  char buf[pool_image::SUPERBLOCK_SIZE];
  trailer_.headers_hash = pool_image::encode_superblock(sb, buf);
  io_->hold_publication();
  if (!io_->write(buf, sizeof buf) || (extra_length && !io_->write(extra, extra_length))) {
    ACE_DEBUG((LM_ERROR, "Failed to write the image superblock: %s.\n", io_->error()));
    return drop();
  }
  superblock_written_ = true;
  return true;
}

// Builds the record of block `i` of a batch.
bool Image_Writer::encode_block(Slot& slot, size_t i, Block_Codec& codec) const {
  Batch_Block& b = slot.blocks[i];
  Image_Record_Header h;
  h.offset = b.offset;
  h.raw_length = static_cast<uint32_t>(b.raw_length);
  const char* raw = slot.in.data() + i * block_size_;
  char* record = slot.out.data() + i * slot.stride;
  b.packed = false;
  b.stored_length = 0;
  if (b.zero) {
    h.flags = pool_image::RECORD_ZERO;
  } else {
    h.raw_hash = pool_image::hash(raw, b.raw_length);
    char* packed = record + pool_image::RECORD_HEADER_SIZE;
    const size_t room = slot.stride - pool_image::RECORD_HEADER_SIZE;
    const size_t n = codec_ == COMPR_NONE || !codec.worth_compressing(raw, b.raw_length)
                         ? 0
                         : codec.compress(codec_, level_, raw, b.raw_length, packed, room);
    if (n > 0 && n < b.raw_length) {
      h.codec = static_cast<uint8_t>(codec_);
      h.stored_hash = pool_image::hash(packed, n);
      b.packed = true;
      b.stored_length = n;
    } else {
      // Incompressible (or uncompressed) blocks are stored as they are.
      h.codec = COMPR_NONE;
      h.stored_hash = h.raw_hash;
      b.stored_length = b.raw_length;
    }
  }
  h.stored_length = static_cast<uint32_t>(b.stored_length);
  pool_image::encode_record_header(h, record);
  return true;
}

bool Image_Writer::encode_batch(Slot& slot, Block_Codec& codec) const {
  for (slot.failed = 0; slot.failed < slot.count; ++slot.failed) {
    if (!encode_block(slot, slot.failed, codec)) return false;
  }
  return true;
}

bool Image_Writer::write_image(const std::vector<Image_Extent>& extents,
                               const Progress_Handler& progress, const Block_Source& source) {
  if (!superblock_written_ || finished_) {
    ACE_DEBUG((LM_ERROR, "Image blocks written %s.\n",
               finished_ ? "twice" : "before the superblock"));
    return false;
  }
  finished_ = true;
  if (!source) {
    ACE_DEBUG((LM_ERROR, "Image writer without a block source.\n"));
    return drop();
  }
  if (extents.size() > pool_image::MAX_EXTENTS) {
    ACE_DEBUG((LM_ERROR, "Too many image extents: %B.\n", static_cast<ACE_UINT64>(extents.size())));
    return drop();
  }
  for (const Image_Extent& e : extents) {
    if (e.length == 0 || e.offset + e.length < e.offset) {
      ACE_DEBUG((LM_ERROR, "Refused image extent at %Q of length %Q.\n",
                 static_cast<ACE_UINT64>(e.offset), static_cast<ACE_UINT64>(e.length)));
      return drop();
    }
  }
  const std::string table = pool_image::encode_extents(extents, trailer_.headers_hash);
  if (!io_->write(table.data(), table.size())) {
    ACE_DEBUG((LM_ERROR, "Failed to write the image extents: %s.\n", io_->error()));
    return drop();
  }
  bool written = false;
  try {
    written = write_records(extents, progress, source);
  } catch (const std::bad_alloc&) {
    ACE_DEBUG((LM_ERROR, "Out of memory while writing the image.\n"));
  }
  if (!written) return drop();
  char buf[pool_image::TRAILER_SIZE];
  pool_image::encode_trailer(trailer_, buf);
  if (!io_->write(buf, sizeof buf)) {
    ACE_DEBUG((LM_ERROR, "Failed to write the image trailer: %s.\n", io_->error()));
    return drop();
  }
  io_->release_publication();
  return true;
}

// Writes the records of a batch with one vectored write: headers and compressed bytes
// from `out`, blocks stored as they are straight from `in`.
bool Image_Writer::write_batch(Slot& s) {
  s.iov.clear();
  uint64_t chain = trailer_.headers_hash;
  for (size_t i = 0; i < s.count; ++i) {
    const Batch_Block& b = s.blocks[i];
    char* record = s.out.data() + i * s.stride;
    chain = pool_image::seal_record_header(record, chain);
    s.iov.push_back({record, pool_image::RECORD_HEADER_SIZE + (b.packed ? b.stored_length : 0)});
    if (!b.packed && b.stored_length > 0)
      s.iov.push_back({s.in.data() + i * block_size_, b.stored_length});
  }
  if (!io_->write(s.iov.data(), static_cast<int>(s.iov.size()))) return false;
  trailer_.headers_hash = chain;
  for (size_t i = 0; i < s.count; ++i) {
    const Batch_Block& b = s.blocks[i];
    trailer_.records += 1;
    trailer_.raw_bytes += b.raw_length;
    trailer_.stored_bytes += b.stored_length;
  }
  return true;
}

// The calling thread reads the source and reports progress (both are the caller's
// callbacks and may log to the caller's job), the workers encode, and one output thread
// writes the records in order, so reading, encoding and writing overlap.
bool Image_Writer::write_records(const std::vector<Image_Extent>& extents,
                                 const Progress_Handler& progress, const Block_Source& source) {
  const size_t per_batch = std::max<size_t>(1, BATCH_BYTES / block_size_);
  // 64-byte aligned records keep every block's header and data on their own lines.
  const size_t stride =
      (pool_image::RECORD_HEADER_SIZE + Block_Codec::bound(block_size_) + 63) / 64 * 64;
  Ordered_Pipeline<Slot> pipeline(
      threads_, pipeline_depth(threads_, per_batch * (block_size_ + stride)),
      [this](Slot& s, Block_Codec& c) { return encode_batch(s, c); });
  for (Slot& s : pipeline.slots()) {
    s.stride = stride;
    s.in.resize(per_batch * block_size_);
    s.out.resize(per_batch * s.stride);
    s.blocks.resize(per_batch);
    s.iov.reserve(2 * per_batch);
  }
  if (!pipeline.start()) {
    ACE_DEBUG((LM_ERROR, "Failed to start the image writer's threads.\n"));
    return false;
  }
  // Written by the output thread, read after it ended. errno is the thread's own, so the
  // cause of a failed write (ENOSPC on a full pool, say) is carried over to the caller.
  std::string output_error;
  int output_errno = 0;
  auto output = [&] {
    try {
      for (bool ok = false;;) {
        Slot* s = pipeline.wait_oldest(ok);
        if (s == nullptr) return;
        if (!ok || !write_batch(*s)) {
          if (ok) output_errno = errno;
          output_error = ok ? std::string(io_->error())
                            : "cannot encode the block at " +
                                  std::to_string(s->blocks[s->failed].offset);
          pipeline.cancel();
          return;
        }
        pipeline.release_oldest();
      }
    } catch (const std::exception& e) {
      output_error = e.what();
      pipeline.cancel();
    }
  };
  std::thread output_thread;
  try {
    output_thread = std::thread(output);
  } catch (const std::system_error&) {
    ACE_DEBUG((LM_ERROR, "Failed to start the image writer's threads.\n"));
    return false;
  }
  Pipeline_Thread_Joiner<Slot> joiner(pipeline, output_thread);
  std::deque<size_t> batch_blocks;  // blocks per batch handed over, not yet reported
  std::deque<size_t> block_bytes;   // lengths of those blocks
  uint64_t reported = 0;            // batches reported
  // Reports the blocks of the batches the output thread has written since the last call.
  auto report = [&]() -> bool {
    for (const uint64_t released = pipeline.released(); reported < released; ++reported) {
      for (size_t n = batch_blocks.front(); n > 0; --n) {
        const unsigned long bytes = static_cast<unsigned long>(block_bytes.front());
        block_bytes.pop_front();
        if (progress && !progress(bytes)) return false;
      }
      batch_blocks.pop_front();
    }
    return true;
  };
  Slot* s = nullptr;  // the batch being filled
  auto hand_over = [&] {
    batch_blocks.push_back(s->count);
    pipeline.submit();
    s = nullptr;
  };
  bool stopped = false;
  bool source_failed = false;
  bool output_ended = false;  // the output thread gave up; it says why
  for (size_t i = 0; i < extents.size() && !stopped && !source_failed && !output_ended; ++i) {
    const Image_Extent& e = extents[i];
    for (uint64_t off = e.offset, end = e.offset + e.length; off < end;) {
      if (s == nullptr) {
        if (!report()) {
          stopped = true;
          break;
        }
        if ((s = pipeline.acquire()) == nullptr) {
          output_ended = true;
          break;
        }
        s->count = 0;
      }
      const size_t want = static_cast<size_t>(std::min<uint64_t>(block_size_, end - off));
      const char* data = nullptr;
      const ssize_t got = source(data, static_cast<ssize_t>(want), static_cast<ACE_OFF_T>(off));
      if (got != static_cast<ssize_t>(want) || data == nullptr) {
        ACE_DEBUG((LM_ERROR, "Failed to read the block at %Q: got %d of %B bytes.\n",
                   static_cast<ACE_UINT64>(off), static_cast<int>(got),
                   static_cast<ACE_UINT64>(want)));
        source_failed = true;
        break;
      }
      Batch_Block& b = s->blocks[s->count];
      // A zero block is recognised here, while it is in the cache after the source's
      // read, and never copied: its record is a header alone.
      b.zero = pool_image::all_zero(data, want);
      if (!b.zero) std::memcpy(s->in.data() + s->count * block_size_, data, want);
      ++s->count;
      b.offset = off;
      b.raw_length = want;
      block_bytes.push_back(want);
      off += want;
      if (s->count == per_batch) hand_over();
    }
  }
  const bool complete = !stopped && !source_failed && !output_ended;
  if (complete && s != nullptr && s->count > 0) hand_over();
  if (complete) pipeline.close_input();
  joiner.join(stopped || source_failed);
  if (!output_error.empty()) {
    ACE_DEBUG((LM_ERROR, "Failed to write the image: %s.\n", output_error.c_str()));
    if (output_errno != 0) errno = output_errno;
    return false;
  }
  if (!stopped && !source_failed && !report()) stopped = true;
  if (stopped) ACE_DEBUG((LM_INFO, "Image writing stopped by its caller.\n"));
  return !stopped && !source_failed && !pipeline.cancelled();
}

}  // namespace yolt
