// Small readers shared by the catalog's record classes: strict and lenient member reads
// over the JSON value library, and the writing of a record object to a generator.
#ifndef CATALOG_RECORD_JSON_H
#define CATALOG_RECORD_JSON_H

#include "json/json_generator.h"
#include "json/value.h"

#include <cstdint>
#include <ctime>
#include <string>

namespace catalog {

// Strict reads: json_spirit::Error when the member is missing or of another type.
inline void read_required(const json_spirit::Object& obj, const char* key, std::string& out) {
  out = json_spirit::object_get_str_or_throw(obj, key);
}
inline void read_required(const json_spirit::Object& obj, const char* key, int64_t& out) {
  out = json_spirit::object_get_int64_or_throw(obj, key);
}
inline void read_required(const json_spirit::Object& obj, const char* key, uint64_t& out) {
  out = json_spirit::object_get_uint64_or_throw(obj, key);
}
inline void read_required(const json_spirit::Object& obj, const char* key, bool& out) {
  out = json_spirit::object_get_bool_or_throw(obj, key);
}
inline void read_required(const json_spirit::Object& obj, const char* key,
                          json_spirit::Object& out) {
  out = json_spirit::object_get_object_or_throw(obj, key);
}

// Lenient reads: the target keeps its value when the member is missing or mistyped.
inline void read_optional(const json_spirit::Object& obj, const char* key, std::string& out) {
  json_spirit::object_get(obj, key, out);
}
inline void read_optional(const json_spirit::Object& obj, const char* key, uint64_t& out) {
  json_spirit::object_get(obj, key, out);
}
inline void read_optional(const json_spirit::Object& obj, const char* key, long& out) {
  json_spirit::object_get(obj, key, out);
}
inline void read_optional(const json_spirit::Object& obj, const char* key,
                          json_spirit::Object& out) {
  json_spirit::object_get(obj, key, out);
}

// Writes `obj` as the record's one JSON value.
inline yajl_gen_status generate_object(yajl_gen gen, const json_spirit::Object& obj) {
  return yajl_gen_value(gen, json_spirit::Value(obj));
}

}  // namespace catalog

#endif  // CATALOG_RECORD_JSON_H
