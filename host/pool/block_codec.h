// Compression of single image blocks, for the image writer's and reader's worker
// threads. One object per thread: it keeps the codec contexts, so a block costs no
// allocation.
#ifndef POOL_BLOCK_CODEC_H
#define POOL_BLOCK_CODEC_H

#include <cstddef>
#include <memory>

class Block_Codec {
 public:
  Block_Codec();
  ~Block_Codec();
  Block_Codec(const Block_Codec&) = delete;
  Block_Codec& operator=(const Block_Codec&) = delete;

  // Room that compress needs for a block of `raw_len` bytes, whatever the codec.
  static size_t bound(size_t raw_len);

  // Compresses `len` bytes at `raw` with `codec` (COMPR_NONE, COMPR_LZOP or COMPR_ZSTD;
  // `level` is zstd's) into `out`, which has `cap` bytes; returns the stored length, or
  // 0 when the codec failed or is unknown.
  size_t compress(int codec, int level, const char* raw, size_t len, char* out, size_t cap);

  // Expands `stored_len` bytes at `stored` into exactly `raw_len` bytes at `out`; false
  // when the codec is unknown, the data is corrupt or the length differs.
  bool decompress(int codec, const char* stored, size_t stored_len, char* out, size_t raw_len);

  // False when a sample of the block (spread over all of it) does not compress: such a
  // block (already compressed or encrypted data) is stored as it is, without spending a
  // full compression on it. Blocks under 32 KiB are always worth a try.
  bool worth_compressing(const char* raw, size_t len);

  // zstd's level for `level`, clamped to what the library accepts.
  static int zstd_level(int level);

 private:
  struct Contexts;
  std::unique_ptr<Contexts> ctx_;
};

#endif  // POOL_BLOCK_CODEC_H
