// Reading many members of one JSON object in a single chained expression, either strictly
// (the first missing or mistyped member throws json_spirit::Error and the rest are not
// read) or leniently (a missing or mistyped member leaves its target as it was):
//
//   json_spirit::extract_or_throw(obj)("host", host)("port", port)("ssl", ssl);
//   json_spirit::extract(opts)("parallel_vms", parallel_vms);
//
// Used by every record reader and every job-option reader of the module.
#ifndef JSON_SPIRIT_EXTRACT_H
#define JSON_SPIRIT_EXTRACT_H

#include "json/value.h"

#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

namespace json_spirit {

enum Flag : unsigned int {
  FG_NOTHROW = 0,
  FG_THROW = 1,
  // Pointer extractor only: every read is refused (skipped, or thrown under FG_THROW)
  // until a chroot() succeeds.
  FG_BRK_UNT_CHROOT = 2
};
using Flags = unsigned int;

// The throwing read of an arithmetic member: an integer target takes only a number it
// holds (json_spirit::Error otherwise, as for a mistyped member).
template <typename T>
struct Integral_Getter {
  static T object_get_or_throw(const Object& obj, const std::string& key) {
    return object_get_integer_or_throw<T>(obj, key);
  }
};

template <>
struct Integral_Getter<bool> {
  static bool object_get_or_throw(const Object& obj, const std::string& key) {
    return object_get_bool_or_throw(obj, key);
  }
};

// Lenient reads for targets the value library has no overload for.
template <typename T>
bool object_get(const Object& obj, const std::string& key, T& out);

// A port and the like: taken only when it fits 16 bits.
template <>
inline bool object_get<unsigned short>(const Object& obj, const std::string& key,
                                       unsigned short& out) {
  const Value* v = object_get_value(obj, key);
  if (v == nullptr || !integer_fits<unsigned short>(*v)) return false;
  out = get_integer<unsigned short>(*v);
  return true;
}

// Reads an arithmetic member into `target`: throwing (json_spirit::Error when missing or
// mistyped) or lenient (target unchanged then).
template <typename T>
void object_get_may_throw(const Object& obj, const std::string& key, T& target,
                          bool throwing) {
  static_assert(std::is_arithmetic<T>::value, "arithmetic targets only");
  if (throwing) {
    target = Integral_Getter<T>::object_get_or_throw(obj, key);
  } else {
    object_get(obj, key, target);
  }
}

// The chaining step: ext("key", target) reads with the extractor's own flags and returns
// the extractor, so reads follow each other in one expression.
template <typename Derived>
class Flaggable_T {
 public:
  template <typename Target>
  Derived& operator()(const char* key, Target&& target) {
    Derived& self = static_cast<Derived&>(*this);
    self.get(key, std::forward<Target>(target), self.flags_);
    return self;
  }
};

// Lets a chain run a step of the caller's own: ext.then(f) calls f(ext) and returns ext.
template <typename Derived>
class Callbackable_T {
 public:
  template <typename Callback>
  Derived& then(Callback&& f) {
    Derived& self = static_cast<Derived&>(*this);
    std::forward<Callback>(f)(self);
    return self;
  }
};

// Reads into value targets (copies). The derived extractor provides `obj_`.
template <typename Derived, bool Move>
class Object_Value_Extractor {
  static_assert(!Move, "only copying reads are provided");

 public:
  void get(const char* key, std::string& target, Flags flags) {
    if (flags & FG_THROW) {
      target = object_get_str_or_throw(obj(), key);
    } else {
      object_get(obj(), key, target);
    }
  }
  void get(const char* key, Object& target, Flags flags) {
    if (flags & FG_THROW) {
      target = object_get_object_or_throw(obj(), key);
    } else {
      object_get(obj(), key, target);
    }
  }
  void get(const char* key, bool& target, Flags flags) { arithmetic(key, target, flags); }
  void get(const char* key, int& target, Flags flags) { arithmetic(key, target, flags); }
  void get(const char* key, long& target, Flags flags) { arithmetic(key, target, flags); }
  void get(const char* key, unsigned long& target, Flags flags) {
    arithmetic(key, target, flags);
  }
  void get(const char* key, unsigned short& target, Flags flags) {
    arithmetic(key, target, flags);
  }

 private:
  const Object& obj() const { return static_cast<const Derived&>(*this).obj_; }
  template <typename T>
  void arithmetic(const char* key, T& target, Flags flags) {
    object_get_may_throw(obj(), key, target, (flags & FG_THROW) != 0);
  }
};

// Reads into pointer targets: the member's address, or null in the lenient form when the
// member is missing or of another type (the target is always assigned). With ConstOnly
// false (over a non-const object) the non-const Array* and Object* targets exist too.
template <typename Derived, bool ConstOnly>
class Object_Pointer_Extractor {
 public:
  void get(const char* key, const std::string*& target, Flags flags) {
    target = (flags & FG_THROW) ? &object_get_str_or_throw(cobj(), key)
                                : object_get_str(cobj(), key);
  }
  void get(const char* key, const Array*& target, Flags flags) {
    target = (flags & FG_THROW) ? &object_get_array_or_throw(cobj(), key)
                                : object_get_array(cobj(), key);
  }
  void get(const char* key, const Object*& target, Flags flags) {
    target = (flags & FG_THROW) ? &object_get_object_or_throw(cobj(), key)
                                : object_get_object(cobj(), key);
  }
  void get(const char* key, const Value*& target, Flags flags) {
    target = (flags & FG_THROW) ? &object_get_or_throw(cobj(), key)
                                : object_get_value(cobj(), key);
  }
  template <bool C = ConstOnly, typename = typename std::enable_if<!C>::type>
  void get(const char* key, Array*& target, Flags flags) {
    target = (flags & FG_THROW) ? &object_get_array_or_throw(mobj(), key)
                                : object_get_array(mobj(), key);
  }
  template <bool C = ConstOnly, typename = typename std::enable_if<!C>::type>
  void get(const char* key, Object*& target, Flags flags) {
    target = (flags & FG_THROW) ? &object_get_object_or_throw(mobj(), key)
                                : object_get_object(mobj(), key);
  }

 private:
  const Object& cobj() const { return static_cast<const Derived&>(*this).obj_; }
  Object& mobj() { return static_cast<Derived&>(*this).obj_; }
};

// Extractor over a const object: every value and pointer target.
class Const_Object_Extractor
    : public Object_Value_Extractor<Const_Object_Extractor, false>,
      public Object_Pointer_Extractor<Const_Object_Extractor, true>,
      public Callbackable_T<Const_Object_Extractor>,
      public Flaggable_T<Const_Object_Extractor> {
 public:
  Const_Object_Extractor(const Object& obj, Flags flags) : obj_(obj), flags_(flags) {}

  using Object_Value_Extractor<Const_Object_Extractor, false>::get;
  using Object_Pointer_Extractor<Const_Object_Extractor, true>::get;

  const Object& obj_;
  Flags flags_;
};

// Extractor over a non-const object: as above, plus non-const Array* and Object* targets.
class Object_Extractor : public Object_Value_Extractor<Object_Extractor, false>,
                         public Object_Pointer_Extractor<Object_Extractor, false>,
                         public Callbackable_T<Object_Extractor>,
                         public Flaggable_T<Object_Extractor> {
 public:
  Object_Extractor(Object& obj, Flags flags) : obj_(obj), flags_(flags) {}

  using Object_Value_Extractor<Object_Extractor, false>::get;
  using Object_Pointer_Extractor<Object_Extractor, false>::get;

  Object& obj_;
  Flags flags_;
};

// Chains over `obj`, which must outlive the chain: throwing or lenient.
inline Const_Object_Extractor extract_or_throw(const Object& obj) {
  return Const_Object_Extractor(obj, FG_THROW);
}
inline Const_Object_Extractor extract(const Object& obj) {
  return Const_Object_Extractor(obj, FG_NOTHROW);
}
inline Object_Extractor extract_or_throw(Object& obj) { return Object_Extractor(obj, FG_THROW); }
inline Object_Extractor extract(Object& obj) { return Object_Extractor(obj, FG_NOTHROW); }

// The address of member `key` when it holds a T (const std::string or const Array), else
// null: object_get_any_ptr<const Array>(obj, "nifInfo").
template <typename T, typename O>
T* object_get_any_ptr(O& obj, const char* key) {
  T* p = nullptr;
  extract(obj)(key, p);
  return p;
}

}  // namespace json_spirit

#endif  // JSON_SPIRIT_EXTRACT_H
