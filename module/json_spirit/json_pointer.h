// Reading values at JSON Pointer paths of a document in one chained expression:
//
//   const json_spirit::Array* entries = nullptr;
//   json_spirit::pextract(doc)("/entries", entries);
//
// and, after chroot("/a/b"), paths relative to that sub-document. Used by the job
// executors on their job source and options.
#ifndef JSON_SPIRIT_JSON_POINTER_H
#define JSON_SPIRIT_JSON_POINTER_H

#include "json/json_pointer.h"
#include "json/value.h"
#include "json_spirit/extract.h"

#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

namespace json_spirit {

// Fills a container of records from the objects of an array: each object member is read
// into a default-constructed element with `element << object` (false means bad content);
// members of other types are skipped.
template <typename Derived>
class Container_Loader {
 public:
  // Appends one element per object at `path`. Returns true; false when the path names no
  // array (under FG_THROW: throws) or an element refuses its object (under FG_THROW:
  // throws std::domain_error "Failed to load elem content from JSON"); `out` then keeps
  // the elements appended before the failure.
  template <typename Container>
  bool load(const char* path, Container& out, Flags flags) {
    Derived& self = static_cast<Derived&>(*this);
    const Array* arr = nullptr;
    self.get(path, arr, flags);
    if (arr == nullptr) return false;
    for (const Value& v : *arr) {
      if (v.type() != obj_type) continue;
      typename Container::value_type elem{};
      if (!(elem << v.get_obj())) {
        if (flags & FG_THROW) throw std::domain_error("Failed to load elem content from JSON");
        return false;
      }
      out.push_back(std::move(elem));
    }
    return true;
  }
};

template <typename Doc>
class JSON_Pointer_Extractor : public Callbackable_T<JSON_Pointer_Extractor<Doc>>,
                               public Flaggable_T<JSON_Pointer_Extractor<Doc>>,
                               public Container_Loader<JSON_Pointer_Extractor<Doc>> {
  static_assert(std::is_reference<Doc>::value, "the document is held by reference");
  using Doc_Value = typename std::remove_reference<Doc>::type;  // Value or const Value

 public:
  JSON_Pointer_Extractor(Doc doc, Flags flags) : doc_(doc), flags_(flags) {}

  // `path` with the current sub-document's path in front: the path as seen from the root.
  std::string abs_path(const char* path) const {
    return curr_path_ + (path != nullptr ? path : "");
  }

  // True when reads are refused (FG_BRK_UNT_CHROOT set on the extractor); under FG_THROW
  // in `flags` it throws std::domain_error naming the path instead.
  bool is_broken(const char* path, Flags flags) const {
    if ((flags_ & FG_BRK_UNT_CHROOT) == 0) return false;
    if (flags & FG_THROW) throw_not_exist(path);
    return true;
  }

  // Sets `target` to what `path` names when it exists with the target's type. When it
  // does not: under FG_THROW throws std::domain_error "JSON Pointer path '<abs>' not exist
  // in JSON!"; otherwise leaves `target` untouched (callers set it to null first).
  template <typename T>
  void get(const char* path, T*& target, Flags flags) {
    if (is_broken(path, flags)) return;
    bool found = pointer_.path(path, false) && pointer_.get(current(), target);
    if (!found && (flags & FG_THROW)) throw_not_exist(path);
  }

  // Makes the value at `path` (relative to the current sub-document) the current one, so
  // later paths are relative to it. Returns true and clears FG_BRK_UNT_CHROOT; when the
  // path names nothing, sets FG_BRK_UNT_CHROOT so later reads are refused, and returns
  // false (under FG_THROW in `flags`, throws as get() does).
  bool chroot(const char* path, Flags flags) {
    Doc_Value* found = nullptr;
    if (pointer_.path(path, false)) found = pointer_.get(current());
    if (found == nullptr) {
      flags_ |= FG_BRK_UNT_CHROOT;
      if (flags & FG_THROW) throw_not_exist(path);
      return false;
    }
    curr_path_ += path;
    curr_ = found;
    flags_ &= ~static_cast<Flags>(FG_BRK_UNT_CHROOT);
    return true;
  }
  JSON_Pointer_Extractor& chroot(const char* path) {
    chroot(path, flags_);
    return *this;
  }

  JSON_Pointer pointer_;
  Doc doc_;
  std::string curr_path_;
  Doc_Value* curr_ = nullptr;
  Flags flags_;

 private:
  Doc_Value& current() const { return curr_ != nullptr ? *curr_ : doc_; }
  [[noreturn]] void throw_not_exist(const char* path) const {
    throw std::domain_error("JSON Pointer path '" + abs_path(path) + "' not exist in JSON!");
  }
};

// A lenient pointer chain over `doc`, which must outlive it.
inline JSON_Pointer_Extractor<Value&> pextract(Value& doc) {
  return JSON_Pointer_Extractor<Value&>(doc, FG_NOTHROW);
}
inline JSON_Pointer_Extractor<const Value&> pextract(const Value& doc) {
  return JSON_Pointer_Extractor<const Value&>(doc, FG_NOTHROW);
}

}  // namespace json_spirit

#endif  // JSON_SPIRIT_JSON_POINTER_H
