// Out-of-line part of Wildcard_Matcher (declared with the module's helpers): UTF-8
// decoding and the match itself.
#include "yolt/wildcard_matcher.h"

#include <cstddef>

namespace {

// Bytes that are not part of a valid UTF-8 sequence become the code points
// U+DC80..U+DCFF (never produced by valid UTF-8), so decoding loses nothing and such
// bytes match only themselves.
char32_t escaped_byte(unsigned char b) { return 0xDC00 + b; }

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when not valid.
size_t decode_one(const std::string& s, size_t i, char32_t& cp) {
  const unsigned char b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  // Sequence length, payload bits of the lead byte, smallest code point of that length.
  static const struct {
    unsigned char lo, hi, mask;
    size_t len;
    char32_t min;
  } leads[] = {{0xC2, 0xDF, 0x1F, 2, 0x80}, {0xE0, 0xEF, 0x0F, 3, 0x800},
               {0xF0, 0xF4, 0x07, 4, 0x10000}};
  size_t len = 0;
  char32_t min = 0;
  for (const auto& lead : leads) {
    if (b0 >= lead.lo && b0 <= lead.hi) {
      len = lead.len;
      min = lead.min;
      cp = b0 & lead.mask;
    }
  }
  if (len == 0) return 0;
  if (s.size() - i < len) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, UTF-16 surrogates and values above U+10FFFF are not valid UTF-8.
  if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return len;
}

std::u32string decode(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    char32_t cp;
    const size_t len = decode_one(s, i, cp);
    if (len == 0) {
      out.push_back(escaped_byte(static_cast<unsigned char>(s[i])));
      ++i;
    } else {
      out.push_back(cp);
      i += len;
    }
  }
  return out;
}

// Greedy match that, on a mismatch, lets the latest '*' take one more character; each
// '*' only ever moves forward, so the cost stays at most pattern length times text length.
bool match_one(const std::u32string& pattern, const std::u32string& text) {
  size_t p = 0, t = 0;
  size_t star = std::u32string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == U'*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (star != std::u32string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

}  // namespace

void Wildcard_Matcher::add_pattern(const std::string& pattern) {
  patterns_.push_back(decode(pattern));
}

bool Wildcard_Matcher::match(const std::string& text) const {
  if (patterns_.empty()) return false;
  const std::u32string decoded = decode(text);
  for (const std::u32string& pattern : patterns_) {
    if (match_one(pattern, decoded)) return true;
  }
  return false;
}
