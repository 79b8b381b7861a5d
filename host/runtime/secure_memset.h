// Wiping memory that held a secret, in a way the compiler may not optimise away. Used by
// the secure string allocator and by every owner of decrypted keys.
#ifndef HOST_RUNTIME_SECURE_MEMSET_H
#define HOST_RUNTIME_SECURE_MEMSET_H

#include <cstddef>

// Sets `n` bytes at `p` to `c`; returns `p`. Never elided, even right before a free.
inline void* secure_memset(void* p, int c, size_t n) {
  volatile unsigned char* q = static_cast<volatile unsigned char*>(p);
  while (n--) *q++ = static_cast<unsigned char>(c);
  return p;
}

#endif  // HOST_RUNTIME_SECURE_MEMSET_H
