// Writing a json_spirit::Value as JSON text. Used for values sent to the cloud (compact),
// job results and logs (pretty).
#ifndef HOST_JSON_JSON_DUMP_H
#define HOST_JSON_JSON_DUMP_H

#include "json/value.h"

#include <string>

namespace json_spirit {

// The JSON text of `v`. Compact form: no white space, object members in key order, so the
// same value always gives the same text. Pretty form: one member per line, indented by
// four spaces. Secret strings are written as plain strings; reals in the shortest form
// that reads back to the same double (always with a '.' or an exponent, so they stay
// reals). Returns "" when the value cannot be written: a real that is NaN or infinite, or
// a string that is not valid UTF-8.
std::string JSON_Dump(const Value& v, bool pretty = false);

}  // namespace json_spirit

using json_spirit::JSON_Dump;

#endif  // HOST_JSON_JSON_DUMP_H
