#include "pool/block_codec.h"

#include "client_io/client_io_base.h"

#include <lzo/lzo1x.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

bool lzo_ready() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] { ok = ::lzo_init() == LZO_E_OK; });
  return ok;
}

size_t lzo_bound(size_t len) { return len + len / 16 + 64 + 3; }

}  // namespace

struct Block_Codec::Contexts {
  ZSTD_CCtx* cctx = nullptr;
  ZSTD_DCtx* dctx = nullptr;
  std::vector<unsigned char> lzo_work;

  ~Contexts() {
    ZSTD_freeCCtx(cctx);
    ZSTD_freeDCtx(dctx);
  }
};

Block_Codec::Block_Codec() : ctx_(std::make_unique<Contexts>()) {}

Block_Codec::~Block_Codec() = default;

size_t Block_Codec::bound(size_t raw_len) {
  return std::max({raw_len, lzo_bound(raw_len), ZSTD_compressBound(raw_len)});
}

int Block_Codec::zstd_level(int level) {
  return std::min(std::max(level, ZSTD_minCLevel()), ZSTD_maxCLevel());
}

size_t Block_Codec::compress(int codec, int level, const char* raw, size_t len, char* out,
                             size_t cap) {
  switch (codec) {
    case COMPR_NONE:
      if (cap < len) return 0;
      std::memcpy(out, raw, len);
      return len;
    case COMPR_ZSTD: {
      if (ctx_->cctx == nullptr && (ctx_->cctx = ZSTD_createCCtx()) == nullptr) return 0;
      const size_t n = ZSTD_compressCCtx(ctx_->cctx, out, cap, raw, len, zstd_level(level));
      return ZSTD_isError(n) ? 0 : n;
    }
    case COMPR_LZOP: {
      if (!lzo_ready() || cap < lzo_bound(len)) return 0;
      if (ctx_->lzo_work.empty()) ctx_->lzo_work.resize(LZO1X_1_MEM_COMPRESS);
      lzo_uint n = 0;
      const int rc = ::lzo1x_1_compress(reinterpret_cast<const unsigned char*>(raw), len,
                                        reinterpret_cast<unsigned char*>(out), &n,
                                        ctx_->lzo_work.data());
      return rc == LZO_E_OK ? n : 0;
    }
    default:
      return 0;
  }
}

bool Block_Codec::worth_compressing(const char* raw, size_t len) {
  constexpr size_t SEGMENTS = 16;
  constexpr size_t SEGMENT = 256;
  constexpr size_t SAMPLE = SEGMENTS * SEGMENT;
  if (len < 8 * SAMPLE) return true;
  char sample[SAMPLE];
  const size_t stride = (len - SEGMENT) / (SEGMENTS - 1);
  for (size_t i = 0; i < SEGMENTS; ++i) std::memcpy(sample + i * SEGMENT, raw + i * stride, SEGMENT);
  char packed[SAMPLE + SAMPLE / 8 + 128];
  const size_t n = compress(COMPR_ZSTD, 1, sample, SAMPLE, packed, sizeof packed);
  // Random bytes come out a little larger than they went in; anything that saves at
  // least 3% of the sample is worth compressing in full.
  return n > 0 && n < SAMPLE - SAMPLE / 32;
}

bool Block_Codec::decompress(int codec, const char* stored, size_t stored_len, char* out,
                             size_t raw_len) {
  switch (codec) {
    case COMPR_NONE:
      if (stored_len != raw_len) return false;
      std::memcpy(out, stored, raw_len);
      return true;
    case COMPR_ZSTD: {
      if (ctx_->dctx == nullptr && (ctx_->dctx = ZSTD_createDCtx()) == nullptr) return false;
      const size_t n = ZSTD_decompressDCtx(ctx_->dctx, out, raw_len, stored, stored_len);
      return !ZSTD_isError(n) && n == raw_len;
    }
    case COMPR_LZOP: {
      if (!lzo_ready()) return false;
      lzo_uint n = raw_len;
      const int rc = ::lzo1x_decompress_safe(reinterpret_cast<const unsigned char*>(stored),
                                             stored_len, reinterpret_cast<unsigned char*>(out),
                                             &n, nullptr);
      return rc == LZO_E_OK && n == raw_len;
    }
    default:
      return false;
  }
}
