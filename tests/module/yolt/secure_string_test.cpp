#include "yolt/secure_string.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// This binary replaces the global (unaligned) operator new and delete with plain
// malloc/free, so that a test can look at each block the moment it is released. Outside a
// Block_Watch nothing is recorded or checked. The compiler cannot know that this
// operator delete pairs free() with the malloc() of this operator new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Watched blocks that were all zero when released, and those that still held data.
struct Release_Counts {
  std::size_t wiped = 0, dirty = 0;
};

constexpr std::size_t MAX_WATCHED = 64;
thread_local Release_Counts* watch_counts = nullptr;
thread_local std::pair<void*, std::size_t> watched[MAX_WATCHED];
thread_local std::size_t watched_count = 0;

void* allocate(std::size_t n) noexcept {
  void* p = std::malloc(n != 0 ? n : 1);
  if (p != nullptr && watch_counts != nullptr && watched_count < MAX_WATCHED)
    watched[watched_count++] = {p, n};
  return p;
}

// A watched block is counted as wiped or dirty when it is released.
void release(void* p) noexcept {
  for (std::size_t i = 0; watch_counts != nullptr && p != nullptr && i < watched_count; ++i) {
    if (watched[i].first != p) continue;
    const auto* bytes = static_cast<const unsigned char*>(p);
    const bool wiped = std::count(bytes, bytes + watched[i].second, 0) == long(watched[i].second);
    ++(wiped ? watch_counts->wiped : watch_counts->dirty);
    watched[i] = watched[--watched_count];
    break;
  }
  std::free(p);
}

// While it lives, the blocks this thread allocates are checked when they are released.
class Block_Watch {
 public:
  explicit Block_Watch(Release_Counts& counts) {
    watched_count = 0;
    watch_counts = &counts;
  }
  ~Block_Watch() { watch_counts = nullptr; }
};

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = allocate(n)) return p;
  throw std::bad_alloc();
}
// Every form is replaced, or a sanitizer's own nothrow form would pair with free().
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace {

const char SECRET[] = "AKIA-this-is-a-long-secret-access-key";

// Every block a secure string releases is wiped first: those a growing string abandons,
// the last one, those of copies and reassignments and of containers of other element
// types.
TEST(Secure_String, EveryReleasedBlockIsWiped) {
  Release_Counts secure;
  {
    Block_Watch watch(secure);
    secure_string a(SECRET);
    for (int i = 0; i < 300; ++i) a.push_back(static_cast<char>('a' + i % 26));  // abandons blocks
    secure_string b = a;
    b = secure_string(200, 'k');  // b's first block is released here
    a.clear();
    a.shrink_to_fit();  // back to the inline buffer: the heap block goes
    using Int_Allocator = std::allocator_traits<secure_allocator<char>>::rebind_alloc<int>;
    std::vector<int, Int_Allocator> keys(100, 0x5a5a5a5a);
  }
  EXPECT_GE(secure.wiped, 8u);
  EXPECT_EQ(0u, secure.dirty);
}

}  // namespace
