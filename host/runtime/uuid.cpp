#include "runtime/uuid.h"

#include <cerrno>
#include <cstring>

#include <sys/random.h>

namespace {

const size_t UUID_TEXT_LENGTH = 36;

bool is_hyphen_position(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

int uuid_binary(unsigned char out[16]) {
  size_t got = 0;
  while (got < 16) {
    const ssize_t n = ::getrandom(out + got, 16 - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::memset(out, 0, 16);
      return -1;
    }
    got += static_cast<size_t>(n);
  }
  out[6] = static_cast<unsigned char>((out[6] & 0x0F) | 0x40);  // version 4
  out[8] = static_cast<unsigned char>((out[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return 0;
}

bool uuid_string_to_binary(const char* s, unsigned char out[16]) {
  if (s == nullptr || std::strlen(s) != UUID_TEXT_LENGTH) return false;
  unsigned char bytes[16];
  size_t n = 0;
  for (size_t i = 0; i < UUID_TEXT_LENGTH; i += 2) {
    if (is_hyphen_position(i)) {
      if (s[i] != '-') return false;
      ++i;
    }
    const int hi = hex_value(s[i]);
    const int lo = hex_value(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes[n++] = static_cast<unsigned char>(hi << 4 | lo);
  }
  std::memcpy(out, bytes, sizeof bytes);
  return true;
}

std::string uuid_binary_to_string(const unsigned char in[16]) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(UUID_TEXT_LENGTH);
  for (size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s.push_back('-');
    s.push_back(digits[in[i] >> 4]);
    s.push_back(digits[in[i] & 0x0F]);
  }
  return s;
}
