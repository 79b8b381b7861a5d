// printf-style formatting into a growing std::string (string_sprintf and friends) and
// into an object with an inline buffer that moves to the heap only for long results
// (snprintf_t). Used wherever the module builds messages, paths and request texts.
#ifndef YOLT_STRING_SPRINTF_H
#define YOLT_STRING_SPRINTF_H

#include <ace/OS_NS_stdlib.h>

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <type_traits>

// The smallest room offered to the formatter, in characters.
#define STRING_SPRINTF_INITIAL_SIZE 128

// Formats into `s`, replacing its contents or (append) adding after them. Returns the
// new size of `s`, or the formatter's negative result on failure; then `s` holds what it
// held before an append, or is empty (memory released) after a replace.
int string_vsprintf(std::string& s, const char* fmt, va_list ap, bool append);

// The formatted text as a new string (empty when formatting fails).
std::string string_sprintf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Appends the formatted text to `s`; returns string_vsprintf's result.
int string_sprintf_append(std::string& s, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Formats at construction into an inline buffer of N characters; a longer result is
// formatted again into a heap buffer, so the text is never cut. Not copyable: the heap
// buffer has one owner.
template <size_t N, typename Char = char>
class snprintf_t {
  static_assert(std::is_same<Char, char>::value, "only narrow text is formatted");
  static_assert(N > 0, "the inline buffer needs room for the terminator");

 public:
  explicit snprintf_t(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, fmt);
    vset(fmt, ap);
    va_end(ap);
  }
  ~snprintf_t() { ACE_OS::free(ptr_); }
  snprintf_t(const snprintf_t&) = delete;
  snprintf_t& operator=(const snprintf_t&) = delete;

  // Reformats; returns the text's length, or -1 (the text is then empty).
  int vset(const Char* fmt, va_list ap);

  // The text: the heap buffer once one exists, else the inline buffer.
  const Char* c_str() const { return ptr_ != nullptr ? ptr_ : buf_; }
  // The length of the text; -1 after a formatting failure, 0 after an allocation one.
  int length() const { return len_; }

 private:
  Char buf_[N];
  int len_ = 0;
  Char* ptr_ = nullptr;
  size_t size_ = 0;
};

// The C99 formatter is called directly: ACE's wrapper reports an encoding error as
// "one more than the room", which would make the growth loop below run without end.
template <size_t N, typename Char>
int snprintf_t<N, Char>::vset(const Char* fmt, va_list ap) {
  for (;;) {
    Char* const buf = ptr_ != nullptr ? ptr_ : buf_;
    const size_t size = ptr_ != nullptr ? size_ : N;
    va_list aq;
    va_copy(aq, ap);
    len_ = std::vsnprintf(buf, size, fmt, aq);
    va_end(aq);
    if (len_ < 0) {
      buf[0] = Char();
      return -1;
    }
    if (static_cast<size_t>(len_) < size) return len_;
    if (static_cast<size_t>(len_) == size + 1 && len_ <= INT_MAX / 2) len_ *= 2;
    void* const grown = ACE_OS::realloc(ptr_, (static_cast<size_t>(len_) + 1) * sizeof(Char));
    if (grown == nullptr) {
      len_ = 0;
      buf[0] = Char();
      return -1;
    }
    ptr_ = static_cast<Char*>(grown);
    size_ = static_cast<size_t>(len_) + 1;
  }
}

#endif  // YOLT_STRING_SPRINTF_H
