// Names and file suffixes of the pool's block codecs. The backup executor turns the job's
// "compression" option into a method with compression_name_to_value, and names each
// volume image with the suffix of that method.
#ifndef POOL_COMPRESSION_H
#define POOL_COMPRESSION_H

#include "client_io/client_io_base.h"

#include <string>

// The method named by `name` ("none", "auto", "lzop" or "lzo", "zstd"; any case). An
// unknown or missing name logs a warning and gives `unknown_value` when that is a
// method, else COMPR_AUTO: an invalid value never leaves this function.
Compression_Method compression_name_to_value(const char* name, int unknown_value);
Compression_Method compression_name_to_value(const std::string& name, int unknown_value);

// Text name of a method ("none", "auto", "lzop", "zstd"); "auto" for a value out of range.
const char* compression_value_to_name(int method);

// Suffix of a pool image written with `method`: ".img", ".img.zst" (AUTO and ZSTD) or
// ".img.lzo"; ".img" for a value out of range (the image names its codec itself).
const char* compression_value_to_suffix(int method);

#endif  // POOL_COMPRESSION_H
