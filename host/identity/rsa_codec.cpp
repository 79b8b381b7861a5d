#include "identity/rsa_codec.h"

#include "runtime/secure_memset.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <climits>
#include <memory>

namespace {

struct Pkey_Deleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct Pkey_Ctx_Deleter {
  void operator()(EVP_PKEY_CTX* ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct Bio_Deleter {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Pkey_Deleter>;
using Pkey_Ctx = std::unique_ptr<EVP_PKEY_CTX, Pkey_Ctx_Deleter>;
using Bio = std::unique_ptr<BIO, Bio_Deleter>;

// A byte buffer that is wiped before it is released.
struct Wiped_Buffer {
  explicit Wiped_Buffer(size_t n) : data(new unsigned char[n > 0 ? n : 1]), size(n) {}
  ~Wiped_Buffer() { secure_memset(data.get(), 0, size); }
  std::unique_ptr<unsigned char[]> data;
  size_t size;
};

Bio memory_bio(const void* data, size_t length) {
  if (data == nullptr || length == 0 || length > INT_MAX) return nullptr;
  return Bio(BIO_new_mem_buf(data, static_cast<int>(length)));
}

Pkey read_private_key(const void* pem, size_t length) {
  Bio bio = memory_bio(pem, length);
  if (bio == nullptr) return nullptr;
  return Pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

Pkey read_public_key(const void* pem, size_t length) {
  Bio bio = memory_bio(pem, length);
  if (bio == nullptr) return nullptr;
  Pkey key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
  return key != nullptr ? std::move(key) : read_private_key(pem, length);
}

bool set_oaep(EVP_PKEY_CTX* ctx) {
  return EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) > 0 &&
         EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha256()) > 0 &&
         EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha256()) > 0;
}

bool is_base64_char(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/' || c == '=';
}

// Strict base64 (white space ignored) into `out`; false on any other character or a
// length that is no multiple of four.
bool base64_decode(const void* data, size_t length, std::string& out) {
  std::string text;
  text.reserve(length);
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < length; ++i) {
    if (p[i] == ' ' || p[i] == '\t' || p[i] == '\r' || p[i] == '\n') continue;
    if (!is_base64_char(p[i])) return false;
    text += static_cast<char>(p[i]);
  }
  if (text.empty() || text.size() % 4 != 0 || text.size() > INT_MAX) return false;
  out.assign(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return false;
  size_t padding = 0;
  if (text[text.size() - 1] == '=') ++padding;
  if (text[text.size() - 2] == '=') ++padding;
  out.resize(static_cast<size_t>(n) - padding);
  return true;
}

std::string base64_encode(const unsigned char* data, size_t length) {
  std::string out(4 * ((length + 2) / 3) + 1, '\0');
  int n =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data, static_cast<int>(length));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

}  // namespace

RSA_Decoder::RSA_Decoder(const void* data, size_t length, const void* key, size_t key_length,
                         bool base64, int mode) {
  if (mode != RSA_CODEC_OAEP_SHA256 || data == nullptr) return;
  std::string cipher;
  if (base64) {
    if (!base64_decode(data, length, cipher)) return;
  } else {
    cipher.assign(static_cast<const char*>(data), length);
  }
  Pkey pkey = read_private_key(key, key_length);
  if (pkey == nullptr) return;
  Pkey_Ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr));
  if (ctx == nullptr || EVP_PKEY_decrypt_init(ctx.get()) <= 0 || !set_oaep(ctx.get())) return;
  const unsigned char* in = reinterpret_cast<const unsigned char*>(cipher.data());
  size_t out_length = 0;
  if (EVP_PKEY_decrypt(ctx.get(), nullptr, &out_length, in, cipher.size()) <= 0) return;
  Wiped_Buffer plain(out_length);
  if (EVP_PKEY_decrypt(ctx.get(), plain.data.get(), &out_length, in, cipher.size()) <= 0) return;
  std::unique_ptr<unsigned char[]> result(new unsigned char[out_length + 1]);
  std::copy(plain.data.get(), plain.data.get() + out_length, result.get());
  result[out_length] = '\0';  // lets callers treat a text key as a C string
  set_result(std::move(result), out_length);
}

RSA_Encoder::RSA_Encoder(const void* data, size_t length, const void* key, size_t key_length,
                         bool base64, int mode) {
  if (mode != RSA_CODEC_OAEP_SHA256 || data == nullptr) return;
  Pkey pkey = read_public_key(key, key_length);
  if (pkey == nullptr) return;
  Pkey_Ctx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey.get(), nullptr));
  if (ctx == nullptr || EVP_PKEY_encrypt_init(ctx.get()) <= 0 || !set_oaep(ctx.get())) return;
  const unsigned char* in = static_cast<const unsigned char*>(data);
  size_t out_length = 0;
  if (EVP_PKEY_encrypt(ctx.get(), nullptr, &out_length, in, length) <= 0) return;
  std::unique_ptr<unsigned char[]> cipher(new unsigned char[out_length]);
  if (EVP_PKEY_encrypt(ctx.get(), cipher.get(), &out_length, in, length) <= 0) return;
  if (!base64) {
    set_result(std::move(cipher), out_length);
    return;
  }
  const std::string text = base64_encode(cipher.get(), out_length);
  std::unique_ptr<unsigned char[]> result(new unsigned char[text.size() + 1]);
  std::copy(text.begin(), text.end(), result.get());
  result[text.size()] = '\0';
  set_result(std::move(result), text.size());
}

std::string RSA_Encoder::str() const {
  return *this ? std::string(reinterpret_cast<const char*>(get()), length()) : std::string();
}

bool derive_public_pem(const secure_string& private_pem, std::string& public_pem) {
  Pkey pkey = read_private_key(private_pem.data(), private_pem.size());
  Bio pub(BIO_new(BIO_s_mem()));
  if (pkey == nullptr || pub == nullptr || PEM_write_bio_PUBKEY(pub.get(), pkey.get()) <= 0)
    return false;
  char* text = nullptr;
  const long n = BIO_get_mem_data(pub.get(), &text);
  public_pem.assign(text, static_cast<size_t>(n));
  return true;
}

bool generate_rsa_key_pair(int bits, secure_string& private_pem, std::string& public_pem) {
  Pkey_Ctx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  if (ctx == nullptr || EVP_PKEY_keygen_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) <= 0)
    return false;
  EVP_PKEY* raw = nullptr;
  if (EVP_PKEY_keygen(ctx.get(), &raw) <= 0) return false;
  Pkey pkey(raw);
  Bio prv(BIO_new(BIO_s_secmem()));
  Bio pub(BIO_new(BIO_s_mem()));
  if (prv == nullptr || pub == nullptr ||
      PEM_write_bio_PKCS8PrivateKey(prv.get(), pkey.get(), nullptr, nullptr, 0, nullptr, nullptr) <=
          0 ||
      PEM_write_bio_PUBKEY(pub.get(), pkey.get()) <= 0)
    return false;
  char* text = nullptr;
  long n = BIO_get_mem_data(prv.get(), &text);
  private_pem.assign(text, static_cast<size_t>(n));
  n = BIO_get_mem_data(pub.get(), &text);
  public_pem.assign(text, static_cast<size_t>(n));
  return true;
}
