// One-line helpers shared by the jobs and the cloud client: the block-device test of the
// local device lookup, the UUID text-to-bytes conversion, the byte range of an image, the
// result holder of the host's codecs and a string argument adapter.
#ifndef YOLT_UTILS_H
#define YOLT_UTILS_H

#include "runtime/secure_memset.h"
#include "runtime/uuid.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// True when `path` names a block device; then its device number goes to *id (when `id`
// is not null). False when it cannot be stat'ed or is something else; *id is untouched.
inline bool is_block_device(const char* path, dev_t* id = nullptr) {
  struct stat64 st;
  if (path == nullptr || ::stat64(path, &st) != 0 || !S_ISBLK(st.st_mode)) return false;
  if (id != nullptr) *id = st.st_rdev;
  return true;
}

// The 16 bytes of the UUID text `s`; an empty string when `s` is not a UUID.
inline std::string uuid_string_to_binary(const std::string& s) {
  unsigned char bytes[16];
  if (!uuid_string_to_binary(s.c_str(), bytes)) return std::string();
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// A byte range of a volume image.
struct Block {
  Block(uint64_t offset_, uint64_t length_) : offset(offset_), length(length_) {}
  uint64_t offset;
  uint64_t length;
};

// The result of a host codec (a decoder fills it). The buffer may hold secrets, so it is
// wiped before it is released.
template <typename T>
class Codec_Impl_T {
 public:
  Codec_Impl_T() = default;
  virtual ~Codec_Impl_T() { reset(); }
  Codec_Impl_T(const Codec_Impl_T&) = delete;
  Codec_Impl_T& operator=(const Codec_Impl_T&) = delete;

  // True when a result exists.
  explicit operator bool() const { return data_ != nullptr; }
  const T* get() const { return data_.get(); }
  // The result's length in bytes.
  size_t length() const { return length_; }

  // Wipes and drops the result.
  void reset() {
    if (data_ != nullptr) secure_memset(data_.get(), 0, length_);
    data_.reset();
    length_ = 0;
  }

 protected:
  // Takes `data` (`length` bytes) as the result, dropping any earlier one.
  void set_result(std::unique_ptr<T[]> data, size_t length) {
    reset();
    data_ = std::move(data);
    length_ = data_ != nullptr ? length : 0;
  }

 private:
  std::unique_ptr<T[]> data_;
  size_t length_ = 0;
};

// Lets one signature take a std::string (its c_str() is kept, not a copy: the string
// must outlive the argument) or a C string (kept as given, null included).
template <typename Char>
class Basic_String_Arg {
 public:
  Basic_String_Arg(const std::basic_string<Char>& s) : data_(s.c_str()) {}
  Basic_String_Arg(const Char* s) : data_(s) {}

  const Char* c_str() const { return data_; }
  operator const Char*() const { return data_; }

 private:
  const Char* data_;
};

#endif  // YOLT_UTILS_H
