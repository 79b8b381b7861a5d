// The JSON value type: a tagged union whose containers and strings live on the heap, so a
// Value stays two words plus the tag whatever it holds.
#include "json/value.h"

#include <climits>
#include <cstdint>
#include <limits>
#include <utility>

namespace json_spirit {

const Value Value::null;

const char* value_type_name(Value_type t) {
  switch (t) {
    case obj_type: return "object";
    case array_type: return "array";
    case str_type: return "string";
    case secure_str_type: return "secure string";
    case bool_type: return "bool";
    case int_type: return "int";
    case real_type: return "real";
    case null_type: return "null";
  }
  return "unknown";
}

namespace {

[[noreturn]] void throw_type(Value_type actual, Value_type wanted) {
  throw Error(std::string("JSON value is ") + value_type_name(actual) + ", expected " +
              value_type_name(wanted));
}

[[noreturn]] void throw_range(const std::string& number, const char* target) {
  throw Error(std::string("JSON value is out of range for ") + target + ": " + number);
}

}  // namespace

void throw_integer_range(const Value& v, bool is_signed, int bits) {
  const std::string target = (is_signed ? "int" : "uint") + std::to_string(bits);
  throw_range(v.is_uint64() ? std::to_string(v.get_uint64()) : std::to_string(v.get_int64()),
              target.c_str());
}

// ---- construction ----------------------------------------------------------------------

Value::Value() : int_(0) {}
Value::Value(const Object& v) : type_(obj_type), obj_(new Object(v)) {}
Value::Value(Object&& v) : type_(obj_type), obj_(new Object(std::move(v))) {}
Value::Value(const Array& v) : type_(array_type), array_(new Array(v)) {}
Value::Value(Array&& v) : type_(array_type), array_(new Array(std::move(v))) {}
Value::Value(const std::string& v) : type_(str_type), str_(new std::string(v)) {}
Value::Value(std::string&& v) : type_(str_type), str_(new std::string(std::move(v))) {}
Value::Value(const char* v) : type_(str_type), str_(new std::string(v ? v : "")) {}
Value::Value(const secure_string& v)
    : type_(secure_str_type), secure_str_(new secure_string(v)) {}
Value::Value(bool v) : type_(bool_type), bool_(v) {}
Value::Value(int v) : type_(int_type), int_(v) {}
Value::Value(unsigned int v) : type_(int_type), int_(v) {}
Value::Value(long v) : type_(int_type), int_(v) {}
Value::Value(long long v) : type_(int_type), int_(v) {}
Value::Value(unsigned long v) : Value(static_cast<unsigned long long>(v)) {}
Value::Value(unsigned long long v)
    : type_(int_type),
      is_uint64_(v > static_cast<unsigned long long>(INT64_MAX)),
      int_(static_cast<int64_t>(v)) {}
Value::Value(double v) : type_(real_type), real_(v) {}

Value::Value(const Value& other) : int_(0) { copy_from(other); }
Value::Value(Value&& other) noexcept : int_(0) { move_from(std::move(other)); }

// Both assignments go through a temporary, so assigning a value's own member to it
// (v = v.get_array()[0]) never reads what was just released.
Value& Value::operator=(const Value& other) {
  if (this != &other) {
    Value tmp(other);
    destroy();
    move_from(std::move(tmp));
  }
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    Value tmp(std::move(other));
    destroy();
    move_from(std::move(tmp));
  }
  return *this;
}

Value::~Value() { destroy(); }

void Value::destroy() noexcept {
  switch (type_) {
    case obj_type: delete obj_; break;
    case array_type: delete array_; break;
    case str_type: delete str_; break;
    case secure_str_type: delete secure_str_; break;
    default: break;
  }
  type_ = null_type;
  is_uint64_ = false;
  int_ = 0;
}

// Called only on a null value.
void Value::copy_from(const Value& other) {
  switch (other.type_) {
    case obj_type: obj_ = new Object(*other.obj_); break;
    case array_type: array_ = new Array(*other.array_); break;
    case str_type: str_ = new std::string(*other.str_); break;
    case secure_str_type: secure_str_ = new secure_string(*other.secure_str_); break;
    case bool_type: bool_ = other.bool_; break;
    case int_type: int_ = other.int_; break;
    case real_type: real_ = other.real_; break;
    case null_type: int_ = 0; break;
  }
  type_ = other.type_;
  is_uint64_ = other.is_uint64_;
}

// Called only on a null value; leaves `other` null.
void Value::move_from(Value&& other) noexcept {
  switch (other.type_) {
    case obj_type: obj_ = other.obj_; break;
    case array_type: array_ = other.array_; break;
    case str_type: str_ = other.str_; break;
    case secure_str_type: secure_str_ = other.secure_str_; break;
    case bool_type: bool_ = other.bool_; break;
    case int_type: int_ = other.int_; break;
    case real_type: real_ = other.real_; break;
    case null_type: int_ = 0; break;
  }
  type_ = other.type_;
  is_uint64_ = other.is_uint64_;
  other.type_ = null_type;
  other.is_uint64_ = false;
  other.int_ = 0;
}

// ---- getters ---------------------------------------------------------------------------

const Object& Value::get_obj() const {
  if (type_ != obj_type) throw_type(type_, obj_type);
  return *obj_;
}
Object& Value::get_obj() {
  if (type_ != obj_type) throw_type(type_, obj_type);
  return *obj_;
}
const Array& Value::get_array() const {
  if (type_ != array_type) throw_type(type_, array_type);
  return *array_;
}
Array& Value::get_array() {
  if (type_ != array_type) throw_type(type_, array_type);
  return *array_;
}
const std::string& Value::get_str() const {
  if (type_ != str_type) throw_type(type_, str_type);
  return *str_;
}
const secure_string& Value::get_secure_str() const {
  if (type_ != secure_str_type) throw_type(type_, secure_str_type);
  return *secure_str_;
}
bool Value::get_bool() const {
  if (type_ != bool_type) throw_type(type_, bool_type);
  return bool_;
}

int64_t Value::get_int64() const {
  if (type_ != int_type) throw_type(type_, int_type);
  if (is_uint64_) throw_range(std::to_string(static_cast<uint64_t>(int_)), "int64");
  return int_;
}

uint64_t Value::get_uint64() const {
  if (type_ != int_type) throw_type(type_, int_type);
  if (!is_uint64_ && int_ < 0) throw_range(std::to_string(int_), "uint64");
  return static_cast<uint64_t>(int_);
}

int Value::get_int() const {
  int64_t v = get_int64();
  if (v < INT_MIN || v > INT_MAX) throw_range(std::to_string(v), "int");
  return static_cast<int>(v);
}

unsigned int Value::get_uint() const {
  uint64_t v = get_uint64();
  if (v > UINT_MAX) throw_range(std::to_string(v), "unsigned int");
  return static_cast<unsigned int>(v);
}

double Value::get_real() const {
  if (type_ == real_type) return real_;
  if (type_ != int_type) throw_type(type_, real_type);
  return is_uint64_ ? static_cast<double>(static_cast<uint64_t>(int_))
                    : static_cast<double>(int_);
}

bool Value::operator==(const Value& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case obj_type: return *obj_ == *other.obj_;
    case array_type: return *array_ == *other.array_;
    case str_type: return *str_ == *other.str_;
    case secure_str_type: return *secure_str_ == *other.secure_str_;
    case bool_type: return bool_ == other.bool_;
    case int_type: return is_uint64_ == other.is_uint64_ && int_ == other.int_;
    case real_type: return real_ == other.real_;
    case null_type: return true;
  }
  return false;
}

// ---- object accessors ------------------------------------------------------------------

Error member_error(const std::string& key, const Error& e) {
  static const std::string prefix = "JSON value ";
  std::string what = e.what();
  if (what.compare(0, prefix.size(), prefix) == 0) what.erase(0, prefix.size());
  return Error("JSON member '" + key + "' " + what);
}

namespace {

// The member `key` of `obj` (an Object or a const Object) when it holds `type`, else null.
template <typename Obj>
auto member_of_type(Obj& obj, const std::string& key, Value_type type) -> decltype(&obj.at(key)) {
  auto it = obj.find(key);
  if (it == obj.end() || it->second.type() != type) return nullptr;
  return &it->second;
}

// Runs a strict getter on member `key` of `obj` (an Object or a const Object), naming the
// key in any failure.
template <typename Obj, typename Getter>
auto member_or_throw(Obj& obj, const std::string& key, Getter&& get) -> decltype(get(obj.at(key))) {
  auto it = obj.find(key);
  if (it == obj.end()) throw Error("JSON member '" + key + "' not found");
  try {
    return get(it->second);
  } catch (const Error& e) {
    throw member_error(key, e);
  }
}

// Lenient typed read: copies the member through `get` when it holds `type`.
template <typename T, typename R>
bool copy_member(const Object& obj, const std::string& key, Value_type type, T& out,
                 R (Value::*get)() const) {
  const Value* v = member_of_type(obj, key, type);
  if (v == nullptr) return false;
  out = (v->*get)();
  return true;
}

// Lenient integer read: the member exists and is an integer T holds.
template <typename T>
bool integer_member(const Object& obj, const std::string& key, T& out) {
  const Value* v = member_of_type(obj, key, int_type);
  if (v == nullptr || !integer_fits<T>(*v)) return false;
  out = get_integer<T>(*v);
  return true;
}

}  // namespace

const Value& object_get_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) -> const Value& { return v; });
}
const std::string& object_get_str_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key,
                         [](const Value& v) -> const std::string& { return v.get_str(); });
}
const secure_string& object_get_secure_str_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(
      obj, key, [](const Value& v) -> const secure_string& { return v.get_secure_str(); });
}
bool object_get_bool_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) { return v.get_bool(); });
}
int64_t object_get_int64_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) { return v.get_int64(); });
}
uint64_t object_get_uint64_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) { return v.get_uint64(); });
}
double object_get_real_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) { return v.get_real(); });
}
const Object& object_get_object_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) -> const Object& { return v.get_obj(); });
}
Object& object_get_object_or_throw(Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](Value& v) -> Object& { return v.get_obj(); });
}
const Array& object_get_array_or_throw(const Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](const Value& v) -> const Array& { return v.get_array(); });
}
Array& object_get_array_or_throw(Object& obj, const std::string& key) {
  return member_or_throw(obj, key, [](Value& v) -> Array& { return v.get_array(); });
}

bool object_get(const Object& obj, const std::string& key, std::string& out) {
  return copy_member(obj, key, str_type, out, &Value::get_str);
}
bool object_get(const Object& obj, const std::string& key, secure_string& out) {
  return copy_member(obj, key, secure_str_type, out, &Value::get_secure_str);
}
bool object_get(const Object& obj, const std::string& key, bool& out) {
  return copy_member(obj, key, bool_type, out, &Value::get_bool);
}
bool object_get(const Object& obj, const std::string& key, int& out) {
  return integer_member(obj, key, out);
}
bool object_get(const Object& obj, const std::string& key, unsigned int& out) {
  return integer_member(obj, key, out);
}
bool object_get(const Object& obj, const std::string& key, long& out) {
  return integer_member(obj, key, out);
}
bool object_get(const Object& obj, const std::string& key, unsigned long& out) {
  return integer_member(obj, key, out);
}
bool object_get(const Object& obj, const std::string& key, double& out) {
  auto it = obj.find(key);
  if (it == obj.end()) return false;
  const Value& v = it->second;
  if (v.type() != real_type && v.type() != int_type) return false;
  out = v.get_real();
  return true;
}
bool object_get(const Object& obj, const std::string& key, Object& out) {
  return copy_member(obj, key, obj_type, out, &Value::get_obj);
}
bool object_get(const Object& obj, const std::string& key, Array& out) {
  return copy_member(obj, key, array_type, out, &Value::get_array);
}

const Value* object_get_value(const Object& obj, const std::string& key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &it->second;
}
const std::string* object_get_str(const Object& obj, const std::string& key) {
  const Value* v = member_of_type(obj, key, str_type);
  return v == nullptr ? nullptr : &v->get_str();
}
const Object* object_get_object(const Object& obj, const std::string& key) {
  const Value* v = member_of_type(obj, key, obj_type);
  return v == nullptr ? nullptr : &v->get_obj();
}
Object* object_get_object(Object& obj, const std::string& key) {
  Value* v = member_of_type(obj, key, obj_type);
  return v == nullptr ? nullptr : &v->get_obj();
}
const Array* object_get_array(const Object& obj, const std::string& key) {
  const Value* v = member_of_type(obj, key, array_type);
  return v == nullptr ? nullptr : &v->get_array();
}
Array* object_get_array(Object& obj, const std::string& key) {
  Value* v = member_of_type(obj, key, array_type);
  return v == nullptr ? nullptr : &v->get_array();
}

}  // namespace json_spirit
