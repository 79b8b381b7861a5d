#include "runtime/exponential_backoff.h"

#include <algorithm>
#include <limits>
#include <random>

namespace {

unsigned int fresh_seed() {
  static thread_local std::mt19937 engine{std::random_device{}()};
  return static_cast<unsigned int>(engine());
}

// A well-mixed 32-bit value from the seed and the step, so an iterator's copies agree
// on every jitter extra (forward iterators must be multi-pass).
unsigned int mix(unsigned int seed, unsigned int i) {
  unsigned long long x = (static_cast<unsigned long long>(seed) << 32) | i;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return static_cast<unsigned int>(x);
}

unsigned int saturating_add(unsigned int a, unsigned int b) {
  return a > std::numeric_limits<unsigned int>::max() - b
             ? std::numeric_limits<unsigned int>::max()
             : a + b;
}

}  // namespace

Exponential_Backoff_Iterator::Exponential_Backoff_Iterator()
    : slot_time_(0),
      max_retries_(0),
      capped_(0),
      jitter_(false),
      value_(0),
      cumulation_(0),
      slot_time_exp_(0),
      i_(0),
      seed_(0) {}

Exponential_Backoff_Iterator::Exponential_Backoff_Iterator(unsigned int slot_time,
                                                           unsigned int max_retries,
                                                           unsigned int capped, bool jitter)
    : Exponential_Backoff_Iterator() {
  init(slot_time, max_retries, capped, jitter);
}

void Exponential_Backoff_Iterator::init(unsigned int slot_time, unsigned int max_retries,
                                        unsigned int capped, bool jitter) {
  slot_time_ = slot_time;
  max_retries_ = max_retries;
  capped_ = capped;
  jitter_ = jitter;
  i_ = 0;
  seed_ = jitter ? fresh_seed() : 0;
  // A wait of 0 seconds would make a retry loop spin: every value is at least 1.
  slot_time_exp_ = std::min(std::max(slot_time, 1u), std::max(capped, 1u));
  compute_value();
  cumulation_ = done() ? 0 : value_;
}

void Exponential_Backoff_Iterator::compute_value() {
  value_ = slot_time_exp_;
  if (!jitter_) return;
  const unsigned int cap = std::max(capped_, 1u);
  const unsigned int room = cap - value_;
  if (room == 0) return;
  // An extra in [0, value_], never past the cap.
  const unsigned int span = std::min(room, value_);
  value_ += mix(seed_, i_) % (span + 1);
}

Exponential_Backoff_Iterator& Exponential_Backoff_Iterator::operator++() {
  if (done()) return *this;
  ++i_;
  if (done()) return *this;
  const unsigned int cap = std::max(capped_, 1u);
  slot_time_exp_ = slot_time_exp_ > cap / 2 ? cap : slot_time_exp_ * 2;
  compute_value();
  cumulation_ = saturating_add(cumulation_, value_);
  return *this;
}

Exponential_Backoff_Iterator Exponential_Backoff_Iterator::operator++(int) {
  Exponential_Backoff_Iterator before = *this;
  ++*this;
  return before;
}

bool operator==(const Exponential_Backoff_Iterator& l, const Exponential_Backoff_Iterator& r) {
  if (l.done() || r.done()) return l.done() && r.done();
  return l.i_ == r.i_ && l.slot_time_ == r.slot_time_ && l.max_retries_ == r.max_retries_ &&
         l.capped_ == r.capped_ && l.jitter_ == r.jitter_ && l.seed_ == r.seed_;
}
