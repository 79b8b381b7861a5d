// Walking only the elements of one type of a JSON array, already converted:
//
//   for (const json_spirit::Object& o : arr | json_spirit::get_obj) ...
//   for (const std::string& s : arr | json_spirit::get_str) ...
//
// Elements of other types are skipped silently. The range is lazy and refers to the
// array, which must outlive it. Used by the record readers and the executors.
#ifndef JSON_SPIRIT_FILTER_H
#define JSON_SPIRIT_FILTER_H

#include "json/value.h"

#include <boost/iterator/filter_iterator.hpp>
#include <boost/iterator/transform_iterator.hpp>
#include <boost/range/iterator_range.hpp>

#include <cstdint>

namespace json_spirit {

struct Type_Checker {
  Value_type type;
  bool operator()(const Value& v) const { return v.type() == type; }
};

// Converters: the element as the type the checker admitted (the value library's strict
// getters, so an integer out of the target's range throws json_spirit::Error).
struct Get_Object_Helper {
  const Object& operator()(const Value& v) const { return v.get_obj(); }
  Object& operator()(Value& v) const { return v.get_obj(); }
};
struct Get_Array_Helper {
  const Array& operator()(const Value& v) const { return v.get_array(); }
  Array& operator()(Value& v) const { return v.get_array(); }
};
struct Get_String_type_Helper {
  const std::string& operator()(const Value& v) const { return v.get_str(); }
};
struct Get_secure_string_Helper {
  const secure_string& operator()(const Value& v) const { return v.get_secure_str(); }
};
struct Get_bool_Helper {
  bool operator()(const Value& v) const { return v.get_bool(); }
};
struct Get_int_Helper {
  int operator()(const Value& v) const { return v.get_int(); }
};
struct Get_uint_Helper {
  unsigned int operator()(const Value& v) const { return v.get_uint(); }
};
struct Get_int64_Helper {
  int64_t operator()(const Value& v) const { return v.get_int64(); }
};
struct Get_uint64_Helper {
  uint64_t operator()(const Value& v) const { return v.get_uint64(); }
};
struct Get_real_Helper {
  double operator()(const Value& v) const { return v.get_real(); }
};

template <typename Pred, typename Conv>
struct Pred_Conv_Pair {
  Pred pred;
  Conv conv;
};

inline constexpr Pred_Conv_Pair<Type_Checker, Get_Object_Helper> get_obj{{obj_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_Array_Helper> get_array{{array_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_String_type_Helper> get_str{{str_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_secure_string_Helper> get_secure_str{
    {secure_str_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_bool_Helper> get_bool{{bool_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_int_Helper> get_int{{int_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_uint_Helper> get_uint{{int_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_int64_Helper> get_int64{{int_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_uint64_Helper> get_uint64{{int_type}, {}};
inline constexpr Pred_Conv_Pair<Type_Checker, Get_real_Helper> get_real{{real_type}, {}};

namespace detail {
template <typename Iter, typename Pred, typename Conv>
auto filter_range(Iter begin, Iter end, const Pred_Conv_Pair<Pred, Conv>& pc) {
  auto first = boost::iterators::make_filter_iterator(pc.pred, begin, end);
  auto last = boost::iterators::make_filter_iterator(pc.pred, end, end);
  return boost::make_iterator_range(boost::iterators::make_transform_iterator(first, pc.conv),
                                    boost::iterators::make_transform_iterator(last, pc.conv));
}
}  // namespace detail

// The elements of `arr` that pass the pair's checker, in array order, each converted.
template <typename Pred, typename Conv>
auto operator|(const Array& arr, const Pred_Conv_Pair<Pred, Conv>& pc) {
  return detail::filter_range(arr.begin(), arr.end(), pc);
}
template <typename Pred, typename Conv>
auto operator|(Array& arr, const Pred_Conv_Pair<Pred, Conv>& pc) {
  return detail::filter_range(arr.begin(), arr.end(), pc);
}

}  // namespace json_spirit

#endif  // JSON_SPIRIT_FILTER_H
