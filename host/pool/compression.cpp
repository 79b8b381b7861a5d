#include "pool/compression.h"

#include <ace/Log_Msg.h>

#include <strings.h>

namespace {

struct Name_Entry {
  const char* name;
  Compression_Method method;
};

const Name_Entry names[] = {
    {"none", COMPR_NONE}, {"auto", COMPR_AUTO}, {"lzop", COMPR_LZOP},
    {"lzo", COMPR_LZOP},  {"zstd", COMPR_ZSTD},
};

bool valid_method(int method) { return method >= COMPR_NONE && method < COMPR_MAX; }

}  // namespace

Compression_Method compression_name_to_value(const char* name, int unknown_value) {
  if (name != nullptr) {
    for (const Name_Entry& e : names) {
      if (::strcasecmp(e.name, name) == 0) return e.method;
    }
  }
  const Compression_Method fallback =
      valid_method(unknown_value) ? static_cast<Compression_Method>(unknown_value) : COMPR_AUTO;
  ACE_DEBUG((LM_WARNING, "Unknown compression method \"%s\", using %s.\n",
             name != nullptr ? name : "", compression_value_to_name(fallback)));
  return fallback;
}

Compression_Method compression_name_to_value(const std::string& name, int unknown_value) {
  return compression_name_to_value(name.c_str(), unknown_value);
}

const char* compression_value_to_name(int method) {
  switch (method) {
    case COMPR_NONE: return "none";
    case COMPR_LZOP: return "lzop";
    case COMPR_ZSTD: return "zstd";
    default: return "auto";
  }
}

const char* compression_value_to_suffix(int method) {
  switch (method) {
    case COMPR_AUTO:
    case COMPR_ZSTD: return ".img.zst";
    case COMPR_LZOP: return ".img.lzo";
    default: return ".img";
  }
}
