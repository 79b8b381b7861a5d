// The string type that holds secrets (access keys, security keys, passwords): its
// allocator wipes every block before releasing it, including the blocks a growing
// string abandons.
#ifndef YOLT_SECURE_STRING_H
#define YOLT_SECURE_STRING_H

#include "runtime/secure_memset.h"

#include <memory>
#include <string>

template <typename T>
struct secure_allocator : public std::allocator<T> {
  using value_type = T;
  using size_type = std::size_t;

  template <typename U>
  struct rebind {
    using other = secure_allocator<U>;
  };

  secure_allocator() noexcept = default;
  secure_allocator(const secure_allocator&) noexcept = default;
  secure_allocator& operator=(const secure_allocator&) noexcept = default;
  template <typename U>
  secure_allocator(const secure_allocator<U>&) noexcept {}

  T* allocate(size_type n) { return std::allocator<T>::allocate(n); }

  // Zeroes the n elements' bytes, then releases the block.
  void deallocate(T* p, size_type n) {
    if (p != nullptr) secure_memset(p, 0, n * sizeof(T));
    std::allocator<T>::deallocate(p, n);
  }
};

template <typename T, typename U>
bool operator==(const secure_allocator<T>&, const secure_allocator<U>&) noexcept {
  return true;
}
template <typename T, typename U>
bool operator!=(const secure_allocator<T>&, const secure_allocator<U>&) noexcept {
  return false;
}

using secure_string = std::basic_string<char, std::char_traits<char>, secure_allocator<char>>;

#endif  // YOLT_SECURE_STRING_H
