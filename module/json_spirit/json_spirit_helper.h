// Small conveniences over json_spirit values shared by the module's writers.
#ifndef JSON_SPIRIT_JSON_SPIRIT_HELPER_H
#define JSON_SPIRIT_JSON_SPIRIT_HELPER_H

#include "json/value.h"

namespace json_spirit {

// Makes `v` a new empty array (releasing what it held) and returns that array, to be
// filled in place.
inline Array& to_new_array(Value& v) {
  v = Array();
  return v.get_array();
}

}  // namespace json_spirit

#endif  // JSON_SPIRIT_JSON_SPIRIT_HELPER_H
