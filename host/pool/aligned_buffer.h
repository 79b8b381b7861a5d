// A byte buffer aligned to a page. Block data copied to and from the page cache moves
// much faster (the kernel's copy loop) when the user buffer is page-aligned, so the pool
// keeps its block and transfer buffers in these.
#ifndef POOL_ALIGNED_BUFFER_H
#define POOL_ALIGNED_BUFFER_H

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

class Aligned_Buffer {
 public:
  static constexpr size_t ALIGNMENT = 4096;

  Aligned_Buffer() = default;
  explicit Aligned_Buffer(size_t size) { resize(size); }

  // Makes the buffer `size` bytes long; the contents are not kept. Throws
  // std::bad_alloc when memory is exhausted.
  void resize(size_t size) {
    if (size == size_) return;
    void* p = nullptr;
    if (size > 0 && ::posix_memalign(&p, ALIGNMENT, size) != 0) throw std::bad_alloc();
    data_.reset(static_cast<char*>(p));
    size_ = size;
  }

  char* data() { return data_.get(); }
  const char* data() const { return data_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> data_;
  size_t size_ = 0;
};

#endif  // POOL_ALIGNED_BUFFER_H
