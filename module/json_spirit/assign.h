// Setting many members of one JSON object in a single chained expression:
//
//   json_spirit::insert(obj)("host", host)("port", port)("ssl", ssl);
//
// A member that exists is replaced, a new one is added. Used by every writer of records,
// results and alert parameters.
#ifndef JSON_SPIRIT_ASSIGN_H
#define JSON_SPIRIT_ASSIGN_H

#include "json/value.h"

#include <string>
#include <utility>

namespace json_spirit {

// A small handle on the object being written; steps are called on it directly and each
// returns it, so the chain is one expression. It refers to the object, which must
// outlive it; keep it no longer than that expression when started on a temporary.
struct Object_Inserter {
  Object& obj;

  // Sets member `key` to `value` (moved in); returns the inserter.
  Object_Inserter& operator()(const std::string& key, Value value) & {
    obj[key] = std::move(value);
    return *this;
  }

  // The same on a temporary inserter: builds the key and a Value from `value` with the
  // value type's own constructor (secure strings stay secure, small integers and
  // enumerations go through int), then sets the member.
  template <typename Key, typename T>
  Object_Inserter&& operator()(Key&& key, T&& value) && {
    static_cast<Object_Inserter&>(*this)(std::string(std::forward<Key>(key)),
                                         Value(std::forward<T>(value)));
    return std::move(*this);
  }
};

inline Object_Inserter insert(Object& obj) { return Object_Inserter{obj}; }

}  // namespace json_spirit

#endif  // JSON_SPIRIT_ASSIGN_H
