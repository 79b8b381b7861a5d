// The waits of an exponential backoff, as a forward iterator over whole seconds. Retry
// loops (the cloud client's status and attachment waits, the block-device lookup, the
// countdown timer) walk it and sleep each value through their seam (runtime/sleep.h).
#ifndef HOST_RUNTIME_EXPONENTIAL_BACKOFF_H
#define HOST_RUNTIME_EXPONENTIAL_BACKOFF_H

#include <cstddef>
#include <iterator>

// The sequence: the first value is `slot_time`; each next one doubles, up to `capped`;
// every value lies in [1, max(capped, 1)]; it ends after `max_retries` values. Without
// jitter it is the same on every run. With jitter each value gets a random extra of up
// to its own size, still within the cap (copies of one iterator see the same extras).
// A default-constructed iterator is the end of every sequence.
class Exponential_Backoff_Iterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = unsigned int;
  using difference_type = std::ptrdiff_t;
  using pointer = const unsigned int*;
  using reference = const unsigned int&;

  Exponential_Backoff_Iterator();
  Exponential_Backoff_Iterator(unsigned int slot_time, unsigned int max_retries,
                               unsigned int capped, bool jitter);

  // Restarts the sequence with new parameters.
  void init(unsigned int slot_time, unsigned int max_retries, unsigned int capped,
            bool jitter);

  // The current wait in seconds; meaningless at the end.
  reference operator*() const { return value_; }
  pointer operator->() const { return &value_; }
  Exponential_Backoff_Iterator& operator++();
  Exponential_Backoff_Iterator operator++(int);

  // True once `max_retries` values have been passed.
  bool done() const { return i_ >= max_retries_; }
  // The sum of the values up to and including the current one (saturating).
  unsigned int cumulation() const { return cumulation_; }

  // Equal when both are at the end, or both at the same place of the same sequence.
  friend bool operator==(const Exponential_Backoff_Iterator& l,
                         const Exponential_Backoff_Iterator& r);
  friend bool operator!=(const Exponential_Backoff_Iterator& l,
                         const Exponential_Backoff_Iterator& r) {
    return !(l == r);
  }

 private:
  void compute_value();

  unsigned int slot_time_;
  unsigned int max_retries_;
  unsigned int capped_;
  bool jitter_;
  unsigned int value_;
  unsigned int cumulation_;
  unsigned int slot_time_exp_;  // the un-jittered current value
  unsigned int i_;              // values passed so far
  unsigned int seed_;           // picks the jitter extras of this sequence
};

#endif  // HOST_RUNTIME_EXPONENTIAL_BACKOFF_H
