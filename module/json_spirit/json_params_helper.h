// Building the parameter array of a job alert in one call:
//
//   json_spirit::Value params;
//   params_to_array(params, instance_id, instance_name, reason);
//
// Used by the executors when they raise alerts.
#ifndef JSON_SPIRIT_JSON_PARAMS_HELPER_H
#define JSON_SPIRIT_JSON_PARAMS_HELPER_H

#include "json/value.h"
#include "json_spirit/json_spirit_helper.h"

#include <utility>

namespace json_spirit {

// Makes `v` a new array holding one value per argument, in argument order, each built
// with the argument's own Value constructor; returns that array.
template <typename... Args>
Array& params_to_array(Value& v, Args... args) {
  Array& arr = to_new_array(v);
  arr.reserve(sizeof...(Args));
  (arr.emplace_back(std::move(args)), ...);
  return arr;
}

}  // namespace json_spirit

using json_spirit::params_to_array;

#endif  // JSON_SPIRIT_JSON_PARAMS_HELPER_H
