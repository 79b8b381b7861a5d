// Owned-object makers and a bulk append: make_unique_nothrow for allocations whose
// failure is reported through an empty pointer rather than an exception, and push_back,
// which copies a whole (often lazily converted) range into a container after at most one
// reservation.
#ifndef YOLT_MEMORY_H
#define YOLT_MEMORY_H

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// A new T built from `args` (value-initialised when there are none); an empty pointer
// when the heap is exhausted. Sets no errno and logs nothing: the caller checks.
template <typename T, typename... Args>
std::enable_if_t<!std::is_array<T>::value, std::unique_ptr<T>> make_unique_nothrow(
    Args&&... args) {
  return std::unique_ptr<T>(new (std::nothrow) T(std::forward<Args>(args)...));
}

// How push_back reserves room for a container; containers that cannot reserve ignore
// the hint.
template <typename Container>
struct push_back_hint_reserve_helper {
  static void reserve(Container&, std::size_t) {}
};

template <typename T, typename A>
struct push_back_hint_reserve_helper<std::vector<T, A>> {
  static void reserve(std::vector<T, A>& on, std::size_t hint) {
    on.reserve(on.size() + hint);
  }
};

// Appends every element of `from`, in order, to the end of `on` and returns `on`. When
// `from_size_hint` is not 0, first reserves room for that many more elements. Each
// element is taken from the range once, at the moment it is appended, so a lazily
// converting range converts each element exactly once.
template <typename Container, typename Range>
Container& push_back(Container& on, const Range& from, std::size_t from_size_hint) {
  if (from_size_hint != 0) push_back_hint_reserve_helper<Container>::reserve(on, from_size_hint);
  for (auto&& element : from) on.emplace(on.end(), std::forward<decltype(element)>(element));
  return on;
}

#endif  // YOLT_MEMORY_H
