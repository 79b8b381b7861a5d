// Turning arbitrary text (cloud identifiers, names) into one safe file name component,
// for the names of pool files and of resources derived from them.
#ifndef HOST_RUNTIME_FILENAMIFY_H
#define HOST_RUNTIME_FILENAMIFY_H

#include <cstddef>
#include <string>

// The longest file name component written, in bytes.
constexpr size_t FILENAMIFY_MAX_LENGTH = 255;

// Writes `in` to `out` with every byte that is unsafe in a file name ('/', '\\', ':',
// '*', '?', '"', '<', '>', '|', control characters and DEL) replaced by `replacement`;
// "." and ".." become a run of replacements and an empty text becomes one replacement;
// a result longer than FILENAMIFY_MAX_LENGTH is cut there without splitting a UTF-8
// sequence. A `replacement` that is itself unsafe, or '.', is taken as '_'. Returns `out`.
std::string& filenamify(const std::string& in, std::string& out, char replacement);

#endif  // HOST_RUNTIME_FILENAMIFY_H
