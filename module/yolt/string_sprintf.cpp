#include "yolt/string_sprintf.h"

#include <climits>

int string_vsprintf(std::string& s, const char* fmt, va_list ap, bool append) {
  const size_t offset = append ? s.size() : 0;
  for (;;) {
    const size_t avail = s.size() - offset;
    int room = avail > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(avail);
    if (room < STRING_SPRINTF_INITIAL_SIZE) {
      room = STRING_SPRINTF_INITIAL_SIZE;
      s.resize(offset + room);
    }
    va_list aq;
    va_copy(aq, ap);
    // C99 semantics: -1 only on a real error, never for a short buffer (see snprintf_t).
    int n = std::vsnprintf(&s[offset], static_cast<size_t>(room), fmt, aq);
    va_end(aq);
    if (n < 0) {
      if (offset == 0) {
        std::string().swap(s);
      } else {
        s.resize(offset);
      }
      return n;
    }
    if (n < room) {
      s.resize(offset + static_cast<size_t>(n));
      return static_cast<int>(s.size());
    }
    // Exactly room + 1 is what guessing wrappers report for a short buffer: grow more.
    if (static_cast<long>(n) == static_cast<long>(room) + 1 &&
        n <= INT_MAX - STRING_SPRINTF_INITIAL_SIZE) {
      n += STRING_SPRINTF_INITIAL_SIZE;
    }
    s.resize(offset + static_cast<size_t>(n) + 1);
  }
}

std::string string_sprintf(const char* fmt, ...) {
  std::string s;
  va_list ap;
  va_start(ap, fmt);
  string_vsprintf(s, fmt, ap, false);
  va_end(ap);
  return s;
}

int string_sprintf_append(std::string& s, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int rc = string_vsprintf(s, fmt, ap, true);
  va_end(ap);
  return rc;
}
