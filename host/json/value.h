// The JSON value type every part of the module and the host passes around: a tagged
// value (object, array, string, secret string, boolean, integer, real, null) with
// strict getters that throw `json_spirit::Error` on a type mismatch, and the object
// accessors in a throwing and a lenient form.
#ifndef HOST_JSON_VALUE_H
#define HOST_JSON_VALUE_H

#include "yolt/secure_string.h"

#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

namespace json_spirit {

enum Value_type {
  obj_type = 0,
  array_type = 1,
  str_type = 2,
  secure_str_type = 3,
  bool_type = 4,
  int_type = 5,
  real_type = 6,
  null_type = 7
};

// Thrown by every strict getter: wrong type, missing member, bad JSON text.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "object", "array", "string", "secure string", "bool", "int", "real", "null".
const char* value_type_name(Value_type t);

class Value;
using Object = std::map<std::string, Value>;
using Array = std::vector<Value>;
using String_type = std::string;

class Value {
 public:
  Value();  // null
  Value(const Object& v);
  Value(Object&& v);
  Value(const Array& v);
  Value(Array&& v);
  Value(const std::string& v);
  Value(std::string&& v);
  Value(const char* v);  // a string, never a bool; null pointer gives ""
  Value(const secure_string& v);
  Value(bool v);
  Value(int v);
  Value(unsigned int v);
  Value(long v);
  Value(unsigned long v);
  Value(long long v);
  Value(unsigned long long v);
  Value(double v);
  template <typename T>
  Value(const T*) = delete;  // no pointer may silently become a bool

  Value(const Value& other);
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;
  ~Value();

  Value_type type() const { return type_; }
  bool is_null() const { return type_ == null_type; }
  // An integer stored as unsigned because it exceeds INT64_MAX.
  bool is_uint64() const { return type_ == int_type && is_uint64_; }

  // Strict getters: throw Error when the type differs. get_str() also serves a secret
  // string's text only through get_secure_str(); int getters accept only int_type and
  // throw too when the number does not fit their type (a negative one for the unsigned
  // getters, one beyond INT64_MAX for get_int64()); get_real() accepts int_type too.
  const Object& get_obj() const;
  Object& get_obj();
  const Array& get_array() const;
  Array& get_array();
  const std::string& get_str() const;
  const secure_string& get_secure_str() const;
  bool get_bool() const;
  int get_int() const;
  unsigned int get_uint() const;
  int64_t get_int64() const;
  uint64_t get_uint64() const;
  double get_real() const;

  bool operator==(const Value& other) const;
  bool operator!=(const Value& other) const { return !(*this == other); }

  static const Value null;

 private:
  void destroy() noexcept;
  void copy_from(const Value& other);
  void move_from(Value&& other) noexcept;

  Value_type type_ = null_type;
  bool is_uint64_ = false;
  union {
    Object* obj_;
    Array* array_;
    std::string* str_;
    secure_string* secure_str_;
    bool bool_;
    int64_t int_;
    double real_;
  };
};

// ---- integers of any width -------------------------------------------------------------
// Whether `v` is an integer that T holds: a number beyond T's range is no T, so no read
// keeps only some of its bits.
template <typename T>
bool integer_fits(const Value& v) {
  static_assert(std::is_integral<T>::value && !std::is_same<T, bool>::value, "integers only");
  if (v.type() != int_type) return false;
  if (v.is_uint64()) return !std::is_signed<T>::value && sizeof(T) >= sizeof(uint64_t);
  const int64_t n = v.get_int64();
  if (n < 0)
    return std::is_signed<T>::value && n >= static_cast<int64_t>(std::numeric_limits<T>::min());
  return static_cast<uint64_t>(n) <= static_cast<uint64_t>(std::numeric_limits<T>::max());
}

// Error "JSON value is out of range for uint16: 70000" (`v` must be an integer).
[[noreturn]] void throw_integer_range(const Value& v, bool is_signed, int bits);

// `v` as T; Error when it is not an integer or T does not hold it.
template <typename T>
T get_integer(const Value& v) {
  if (integer_fits<T>(v)) return v.is_uint64() ? static_cast<T>(v.get_uint64())
                                               : static_cast<T>(v.get_int64());
  if (v.type() != int_type) v.get_int64();  // throws the type error
  throw_integer_range(v, std::is_signed<T>::value, std::numeric_limits<T>::digits +
                                                      std::is_signed<T>::value);
}

// "JSON value is int, expected string" as "JSON member 'port' is int, expected string".
Error member_error(const std::string& key, const Error& e);

// ---- object accessors ------------------------------------------------------------------
// Throwing forms: Error when the member is missing or of another type.
const Value& object_get_or_throw(const Object& obj, const std::string& key);
const std::string& object_get_str_or_throw(const Object& obj, const std::string& key);
const secure_string& object_get_secure_str_or_throw(const Object& obj, const std::string& key);
bool object_get_bool_or_throw(const Object& obj, const std::string& key);
int64_t object_get_int64_or_throw(const Object& obj, const std::string& key);
uint64_t object_get_uint64_or_throw(const Object& obj, const std::string& key);
double object_get_real_or_throw(const Object& obj, const std::string& key);
// The member as integer type T: Error, naming the key, also when T does not hold it.
template <typename T>
T object_get_integer_or_throw(const Object& obj, const std::string& key) {
  const Value& v = object_get_or_throw(obj, key);
  try {
    return get_integer<T>(v);
  } catch (const Error& e) {
    throw member_error(key, e);
  }
}
const Object& object_get_object_or_throw(const Object& obj, const std::string& key);
Object& object_get_object_or_throw(Object& obj, const std::string& key);
const Array& object_get_array_or_throw(const Object& obj, const std::string& key);
Array& object_get_array_or_throw(Object& obj, const std::string& key);

// Lenient forms: true and the target set when the member exists with that type; false
// and the target untouched otherwise. Integer targets take only int_type members within
// their own range: a number the target cannot hold is refused like a mistyped one.
bool object_get(const Object& obj, const std::string& key, std::string& out);
bool object_get(const Object& obj, const std::string& key, secure_string& out);
bool object_get(const Object& obj, const std::string& key, bool& out);
bool object_get(const Object& obj, const std::string& key, int& out);
bool object_get(const Object& obj, const std::string& key, unsigned int& out);
bool object_get(const Object& obj, const std::string& key, long& out);
bool object_get(const Object& obj, const std::string& key, unsigned long& out);
bool object_get(const Object& obj, const std::string& key, double& out);
bool object_get(const Object& obj, const std::string& key, Object& out);
bool object_get(const Object& obj, const std::string& key, Array& out);

// Pointer forms: the member's address when it exists with that type, else null.
const Value* object_get_value(const Object& obj, const std::string& key);
const std::string* object_get_str(const Object& obj, const std::string& key);
const Object* object_get_object(const Object& obj, const std::string& key);
Object* object_get_object(Object& obj, const std::string& key);
const Array* object_get_array(const Object& obj, const std::string& key);
Array* object_get_array(Object& obj, const std::string& key);

}  // namespace json_spirit

#endif  // HOST_JSON_VALUE_H
