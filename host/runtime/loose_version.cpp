// Out-of-line part of Loose_Version (declared with the module's helpers).
#include "yolt/loose_version.h"

#include <algorithm>
#include <climits>
#include <cstddef>

Loose_Version::Loose_Version(const char* text) {
  if (text == nullptr) return;
  for (const char* p = text; *p != '\0';) {
    if (*p < '0' || *p > '9') {
      ++p;
      continue;
    }
    int value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
      const int digit = *p - '0';
      value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    values_.push_back(value);
  }
}

int Loose_Version::compare(const Loose_Version& other) const {
  const size_t n = std::max(values_.size(), other.values_.size());
  for (size_t i = 0; i < n; ++i) {
    const int a = i < values_.size() ? values_[i] : 0;
    const int b = i < other.values_.size() ? other.values_[i] : 0;
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}
