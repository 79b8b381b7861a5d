// A version text reduced to its numeric parts ("9.8.1" -> 9, 8, 1), for version gates
// such as the cloud's support of temporary snapshots. Parsing and comparison live in the
// host runtime.
#ifndef YOLT_LOOSE_VERSION_H
#define YOLT_LOOSE_VERSION_H

#include <string>
#include <vector>

class Loose_Version {
 public:
  Loose_Version() = default;
  // Every run of decimal digits is one part, in order; anything else only separates
  // parts, so "V9.8", "9.8" and "9-8" are the same version. A part too large for an int
  // counts as the largest int; a null or digit-free text has no parts.
  explicit Loose_Version(const char* text);
  explicit Loose_Version(const std::string& text) : Loose_Version(text.c_str()) {}

  // Negative, 0 or positive as this version is below, equal to or above `other`,
  // comparing part by part; a missing part counts as 0 ("9.8" equals "9.8.0").
  int compare(const Loose_Version& other) const;

  bool operator>=(const Loose_Version& other) const { return compare(other) >= 0; }

  const std::vector<int>& values() const { return values_; }

 private:
  std::vector<int> values_;
};

#endif  // YOLT_LOOSE_VERSION_H
