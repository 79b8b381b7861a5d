// A set of shell-style name patterns ('*' any run of characters, '?' exactly one) over
// UTF-8 text, matched by code point. The backup executor keeps the instance names to
// exclude in one. Pattern decoding and matching live in the host runtime.
#ifndef YOLT_WILDCARD_MATCHER_H
#define YOLT_WILDCARD_MATCHER_H

#include <string>
#include <vector>

class Wildcard_Matcher {
 public:
  Wildcard_Matcher() = default;
  ~Wildcard_Matcher() = default;

  // Adds each element of `r` (anything a std::string converts from), in order.
  template <typename Range>
  void add_patterns(const Range& r) {
    for (const auto& pattern : r) add_pattern(pattern);
  }

  // Adds one pattern. There is no escape: '*' and '?' are always wildcards. Bytes that
  // are not valid UTF-8 stand for themselves and match only the same bytes.
  void add_pattern(const std::string& pattern);

  // True when some pattern matches the whole of `text` (case-sensitive).
  bool match(const std::string& text) const;

  bool empty() const { return patterns_.empty(); }
  size_t size() const { return patterns_.size(); }

 private:
  std::vector<std::u32string> patterns_;
};

#endif  // YOLT_WILDCARD_MATCHER_H
