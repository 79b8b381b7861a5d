// Bounded decimal parsing of text that need not be NUL-terminated (the character data
// of XML elements, lengths taken from buffers). Reports through errno: 0 when at least
// one digit was read, ERANGE on overflow, EINVAL when there is no digit.
#ifndef YOLT_NATOI_H
#define YOLT_NATOI_H

#include <cerrno>
#include <cstddef>
#include <limits>
#include <type_traits>

struct natoi_traits {
  // True when there is text to scan: a non-null pointer to a non-NUL character.
  static bool pre_cond(const char* p) { return p != nullptr && *p != '\0'; }
};

// Parses an optional sign and the decimal digits of [beg, end), stopping at `end` or the
// first non-digit; *endp (when given) receives where the scan stopped. Returns the value
// with errno 0; on overflow the largest T (also for negative text) with errno ERANGE;
// without a digit 0 with errno EINVAL.
template <typename T = int>
T natoi(const char* beg, const char* end, const char** endp = nullptr) {
  static_assert(std::is_integral<T>::value && std::is_signed<T>::value,
                "natoi yields a signed integer");
  using U = typename std::make_unsigned<T>::type;
  if (endp != nullptr) *endp = beg;
  // An empty range is tested first so that nothing past `end` is ever read.
  if (beg == end || !natoi_traits::pre_cond(beg)) {
    errno = EINVAL;
    return 0;
  }
  const char* p = beg;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  const U max = static_cast<U>(std::numeric_limits<T>::max());
  const U limit = negative ? max + 1 : max;
  const U cutoff = limit / 10;
  const unsigned cutdigit = static_cast<unsigned>(limit % 10);
  U acc = 0;
  bool any = false;
  bool overflow = false;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (acc > cutoff || (acc == cutoff && digit > cutdigit)) {
      overflow = true;
      break;
    }
    acc = static_cast<U>(acc * 10 + digit);
    any = true;
  }
  if (endp != nullptr) *endp = p;
  if (overflow) {
    errno = ERANGE;
    return std::numeric_limits<T>::max();
  }
  if (!any) {
    errno = EINVAL;
    return 0;
  }
  errno = 0;
  if (!negative) return static_cast<T>(acc);
  return acc == limit ? std::numeric_limits<T>::min() : static_cast<T>(-static_cast<T>(acc));
}

// natoi over the `len` characters at `beg`. (Any integer type is taken for `len`, so
// that a literal 0 does not read as a null end pointer.)
template <typename T = int, typename Len,
          typename = typename std::enable_if<std::is_integral<Len>::value>::type>
T natoi(const char* beg, Len len) {
  return natoi<T>(beg, beg == nullptr ? beg : beg + static_cast<size_t>(len), nullptr);
}

#endif  // YOLT_NATOI_H
