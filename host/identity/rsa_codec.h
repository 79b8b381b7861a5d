// RSA encryption of short secrets (the stored cloud security keys) with the host's key
// pair. The module decrypts an account's key with RSA_Decoder; the runner encrypts a key
// it registers, and tests do both, with RSA_Encoder. Scheme: RSA-OAEP with SHA-256 (and
// MGF1 SHA-256, empty label) over OpenSSL 3 EVP; keys are PEM texts.
#ifndef HOST_IDENTITY_RSA_CODEC_H
#define HOST_IDENTITY_RSA_CODEC_H

#include "yolt/secure_string.h"
#include "yolt/utils.h"

#include <cstddef>
#include <string>

// The one scheme the codecs speak; any other mode makes them fail.
enum RSA_Codec_Mode { RSA_CODEC_OAEP_SHA256 = 1 };

// Decrypts at construction. `data` is the ciphertext: base64 text when `base64` is true
// (white space inside is ignored), raw bytes otherwise. `key` is the private key PEM.
// On success the object tests true and get()/length() give the plaintext, which is
// wiped when the object is destroyed; on any failure (bad base64, wrong key, corrupted
// ciphertext, unknown mode) it tests false. Never logs the key or the plaintext.
class RSA_Decoder : public Codec_Impl_T<unsigned char> {
 public:
  RSA_Decoder(const void* data, size_t length, const void* key, size_t key_length, bool base64,
              int mode);
};

// Encrypts at construction. `key` is a public key PEM (a private key PEM serves too).
// The result is base64 text without line breaks when `base64` is true, raw bytes
// otherwise. Tests false on failure (bad key, plaintext too long for the key, unknown
// mode).
class RSA_Encoder : public Codec_Impl_T<unsigned char> {
 public:
  RSA_Encoder(const void* data, size_t length, const void* key, size_t key_length, bool base64,
              int mode);

  // The result as a string (base64 text when so made); empty on failure.
  std::string str() const;
};

// Generates an RSA key pair of `bits` bits: the private key as PKCS#8 PEM, the public key
// as SubjectPublicKeyInfo PEM. Returns false when OpenSSL fails.
bool generate_rsa_key_pair(int bits, secure_string& private_pem, std::string& public_pem);

// The public key (SubjectPublicKeyInfo PEM) of the private key `private_pem`. Returns
// false when the private key does not read.
bool derive_public_pem(const secure_string& private_pem, std::string& public_pem);

#endif  // HOST_IDENTITY_RSA_CODEC_H
