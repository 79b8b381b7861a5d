// JSON Pointer (RFC 6901) over json_spirit values: "/a/0/b~1c" names member "b/c" of the
// first element of member "a". Used by the module's pointer extractor to reach deep
// members of job documents ("/entries") in one step.
#ifndef HOST_JSON_JSON_POINTER_H
#define HOST_JSON_JSON_POINTER_H

#include "json/value.h"

#include <string>
#include <vector>

namespace json_spirit {

// Parse once with path(), then look up any number of documents with get(). Array
// elements are named by decimal indices without leading zeros; "-" (the element after
// the last) never exists for a lookup. The empty path names the whole document.
class JSON_Pointer {
 public:
  // `log`: log a refused path at error priority on every path() call.
  explicit JSON_Pointer(bool log = false) : log_(log) {}

  // Parses `path` ("" or text starting with '/'; "~0" stands for '~', "~1" for '/').
  // Returns true; false for a null pointer, a path not starting with '/', or a '~' not
  // followed by '0' or '1' (then every get() fails until a good path is set). Logs the
  // refusal at error priority when `log` or the constructor's flag is set.
  bool path(const char* path, bool log);
  bool path(const std::string& path, bool log) { return this->path(path.c_str(), log); }

  // The text given to the last successful path() ("" before).
  const std::string& str() const { return path_buf_; }
  // The unescaped reference tokens of the last successful path().
  const std::vector<std::string>& tokens() const { return tokens_; }
  bool valid() const { return valid_; }

  // The value the path names inside `root`, or null when it names nothing (a missing
  // member or index, a step into a scalar, or no valid path).
  const Value* get(const Value& root) const;
  Value* get(Value& root) const;

  // Typed lookups: true and `out` set when the value exists with that type; false and
  // `out` untouched otherwise.
  bool get(const Value& root, const Value*& out) const;
  bool get(const Value& root, const Object*& out) const;
  bool get(const Value& root, const Array*& out) const;
  bool get(const Value& root, const std::string*& out) const;
  bool get(Value& root, Value*& out) const;
  bool get(Value& root, Object*& out) const;
  bool get(Value& root, Array*& out) const;

  // Appends `token` to `out` escaped as one reference token ("/" and "~" escaped).
  static void append_token(std::string& out, const std::string& token);

 private:
  const bool log_;
  std::string path_buf_;
  std::vector<std::string> tokens_;
  bool valid_ = false;
};

}  // namespace json_spirit

#endif  // HOST_JSON_JSON_POINTER_H
