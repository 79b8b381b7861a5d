// A path joined from a directory and a name with one separator between them, with an
// optional expansion of environment variables. The module builds the pool locations of
// volume images and catalog entries with it ("<host id>/<definition id>").
#ifndef HOST_RUNTIME_PATH_T_H
#define HOST_RUNTIME_PATH_T_H

#include <string>

namespace yolt {

template <typename Char>
class Path_T {
 public:
  using string_type = std::basic_string<Char>;

  // Joins `dir` and `name` with exactly one `sep` between them (a null or empty part is
  // left out, with its separator). With `expand_env`, each "$NAME" or "${NAME}" is
  // replaced by that environment variable's value (empty when unset).
  Path_T(const Char* dir, const Char* name, Char sep = Char('/'), bool expand_env = false);

  const string_type& str() const { return path_; }
  const Char* c_str() const { return path_.c_str(); }
  Char sep() const { return sep_; }
  // True when expansion was asked for and the joined text held a '$'.
  bool expanded() const { return need_expand_; }

 private:
  const Char sep_;
  bool expand_env_;
  bool need_expand_;
  string_type path_;
};

extern template class Path_T<char>;

}  // namespace yolt

#endif  // HOST_RUNTIME_PATH_T_H
