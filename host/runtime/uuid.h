// UUIDs as 16 bytes and as text ("xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"): identities of
// backup sets and images, and the job identifier in the job's activity record.
#ifndef HOST_RUNTIME_UUID_H
#define HOST_RUNTIME_UUID_H

#include <string>

// Fills `out` with a new random (version 4) UUID. Returns 0, or -1 when the system's
// random source fails (errno set; `out` is then all zero).
int uuid_binary(unsigned char out[16]);

// Parses the 36-character text form (hex digits of either case, hyphens at positions
// 8, 13, 18 and 23, nothing before or after) into `out`. Returns false, with `out`
// untouched, for a null pointer or any other text.
bool uuid_string_to_binary(const char* s, unsigned char out[16]);

// The 36-character text form of `in`, hex digits in lower case.
std::string uuid_binary_to_string(const unsigned char in[16]);

#endif  // HOST_RUNTIME_UUID_H
