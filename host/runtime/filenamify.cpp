#include "runtime/filenamify.h"

#include <cstring>

namespace {

bool is_unsafe(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr;
}

bool is_utf8_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string& filenamify(const std::string& in, std::string& out, char replacement) {
  // c == '\0' counts as unsafe: strchr finds the terminator.
  if (is_unsafe(static_cast<unsigned char>(replacement)) || replacement == '.')
    replacement = '_';
  std::string result;
  result.reserve(in.size());
  for (const char c : in) {
    result.push_back(is_unsafe(static_cast<unsigned char>(c)) ? replacement : c);
  }
  if (result.empty() || result == "." || result == "..") {
    result.assign(result.empty() ? 1 : result.size(), replacement);
  }
  if (result.size() > FILENAMIFY_MAX_LENGTH) {
    size_t cut = FILENAMIFY_MAX_LENGTH;
    while (cut > 0 && is_utf8_continuation(static_cast<unsigned char>(result[cut]))) --cut;
    if (cut == 0) cut = FILENAMIFY_MAX_LENGTH;  // not UTF-8 at all: cut by bytes
    result.resize(cut);
  }
  out.swap(result);
  return out;
}
