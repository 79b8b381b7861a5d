// The simulator's content digest of a volume (sim/cloudsim/backing.py), computed from
// the blocks of an image in offset order, so a test can check that an image holds the
// volume's bytes without reading the volume. Header only; used by the e2e tests.
#ifndef TESTS_E2E_CONTENT_DIGEST_H
#define TESTS_E2E_CONTENT_DIGEST_H

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace test {

// Fed with the blocks of a volume of `size` bytes in offset order; all-zero chunks count
// as holes, as the simulator counts them.
class Digest {
 public:
  static constexpr size_t CHUNK = 64 << 10;

  explicit Digest(uint64_t size) : ctx_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr);
    const std::string head = "tavrosim-content-v1 size=" + std::to_string(size) + "\n";
    EVP_DigestUpdate(ctx_.get(), head.data(), head.size());
  }
  void feed(const char* data, size_t length, uint64_t offset) {
    for (size_t at = 0; at < length; at += CHUNK) {
      const size_t n = std::min<size_t>(CHUNK, length - at);
      if (std::all_of(data + at, data + at + n, [](char c) { return c == 0; })) continue;
      unsigned char be[8];
      for (int i = 0; i < 8; ++i) be[i] = static_cast<unsigned char>((offset + at) >> (56 - 8 * i));
      EVP_DigestUpdate(ctx_.get(), be, sizeof be);
      EVP_DigestUpdate(ctx_.get(), data + at, n);
    }
  }
  std::string hex() {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx_.get(), md, &len);
    std::string out;
    const char* const hex = "0123456789abcdef";
    for (unsigned int i = 0; i < len; ++i) out += {hex[md[i] >> 4], hex[md[i] & 15]};
    return out;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
};

}  // namespace test

#endif  // TESTS_E2E_CONTENT_DIGEST_H
