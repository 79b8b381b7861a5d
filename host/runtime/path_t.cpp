#include "runtime/path_t.h"

#include <cctype>
#include <cstdlib>

namespace yolt {

namespace {

bool is_name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// "$NAME" and "${NAME}" become the variable's value; a '$' that starts no name (or an
// unclosed "${") is kept as written.
std::string expand_env_vars(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size();) {
    if (in[i] != '$') {
      out += in[i++];
      continue;
    }
    const bool braced = i + 1 < in.size() && in[i + 1] == '{';
    const size_t beg = i + (braced ? 2 : 1);
    size_t end = beg;
    while (end < in.size() && is_name_char(in[end])) ++end;
    if (end == beg || (braced && (end >= in.size() || in[end] != '}'))) {
      out += in[i++];
      continue;
    }
    const char* value = std::getenv(in.substr(beg, end - beg).c_str());
    if (value != nullptr) out += value;
    i = end + (braced ? 1 : 0);
  }
  return out;
}

template <typename Char>
std::basic_string<Char> join(const Char* dir, const Char* name, Char sep) {
  std::basic_string<Char> path = dir != nullptr ? dir : std::basic_string<Char>();
  if (name == nullptr || *name == Char()) return path;
  while (*name == sep && !path.empty()) ++name;
  if (!path.empty() && path.back() != sep && *name != Char()) path += sep;
  path += name;
  return path;
}

}  // namespace

template <typename Char>
Path_T<Char>::Path_T(const Char* dir, const Char* name, Char sep, bool expand_env)
    : sep_(sep), expand_env_(expand_env), need_expand_(false), path_(join(dir, name, sep)) {
  if (expand_env_ && path_.find(Char('$')) != string_type::npos) {
    need_expand_ = true;
    path_ = expand_env_vars(path_);
  }
}

template class Path_T<char>;

}  // namespace yolt
