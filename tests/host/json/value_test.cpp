#include "json/value.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

namespace js = json_spirit;

namespace {

// What each strict getter gives for `v` ("name=value "), leaving out those that throw.
std::string strict_reads(const js::Value& v) {
  using Out = std::ostream;
  const std::pair<const char*, std::function<void(Out&)>> getters[] = {
      {"obj", [&](Out& o) { o << v.get_obj().size(); }},
      {"array", [&](Out& o) { o << v.get_array().size(); }},
      {"secure", [&](Out& o) { o << v.get_secure_str().c_str(); }},
      {"bool", [&](Out& o) { o << v.get_bool(); }}, {"int", [&](Out& o) { o << v.get_int(); }},
      {"uint", [&](Out& o) { o << v.get_uint(); }}, {"int64", [&](Out& o) { o << v.get_int64(); }},
      {"uint64", [&](Out& o) { o << v.get_uint64(); }},
      {"str", [&](Out& o) { o << v.get_str(); }}, {"real", [&](Out& o) { o << v.get_real(); }}};
  std::string out;
  for (const auto& [name, get] : getters) {
    std::ostringstream one;
    try {
      get(one);
      out += std::string(name) + "=" + one.str() + " ";
    } catch (const js::Error&) {
    }
  }
  return out;
}

// Which strict getters accept which values, integer getters checking the target range;
// pointers to characters never become a bool, wide unsigned never a real.
TEST(Value, StrictGettersAcceptOnlyTheirTypeAndRange) {
  using V = js::Value;
  const std::pair<js::Value, const char*> cases[] = {
      {V(js::Object()), "obj=0 "}, {V(js::Array()), "array=0 "}, {V("s"), "str=s "},
      {V(static_cast<const char*>(nullptr)), "str= "}, {V(secure_string("k")), "secure=k "},
      {V(false), "bool=0 "}, {V(7.5), "real=7.5 "}, {V(), ""},
      {V(7), "int=7 uint=7 int64=7 uint64=7 real=7 "},
      {V(-1), "int=-1 int64=-1 real=-1 "},
      {V(UINT64_MAX), "uint64=18446744073709551615 real=1.84467e+19 "},
      {V(int64_t(1) << 40), "int64=1099511627776 uint64=1099511627776 real=1.09951e+12 "},
      {V(INT_MIN), "int=-2147483648 int64=-2147483648 real=-2.14748e+09 "},
      {V(int64_t(INT_MIN) - 1), "int64=-2147483649 real=-2.14748e+09 "},
      {V(UINT_MAX), "uint=4294967295 int64=4294967295 uint64=4294967295 real=4.29497e+09 "}};
  for (const auto& [value, reads] : cases)
    EXPECT_EQ(strict_reads(value), reads) << js::value_type_name(value.type());
  // The same number is equal whichever constructor made it.
  EXPECT_TRUE(V(5) == V(5ul) && V(5) != V(5.0) && V("k") != V(secure_string("k")));
}

TEST(Value, CopiesAreDeepAndAssignmentFromOwnMemberIsSafe) {
  js::Value v(js::Object{{"a", js::Value(js::Array{js::Value(1), js::Value("two")})}});
  js::Value copy = v;
  copy.get_obj()["a"].get_array().push_back(js::Value(3));
  EXPECT_EQ(2u, v.get_obj().at("a").get_array().size());
  // A value assigned one of its own members (copy and move), then itself.
  js::Value w = v;
  w = w.get_obj().at("a");
  EXPECT_EQ(js::Value(js::Array{js::Value(1), js::Value("two")}), w);
  w = std::move(w.get_array()[1]);
  const js::Value& same = w;
  w = same;
  EXPECT_EQ(js::Value("two"), w);
}

TEST(Value, ThrowingObjectAccessorsNameTheKey) {
  js::Object o{{"s", js::Value("x")}, {"n", js::Value(-3)}, {"big", js::Value(UINT64_MAX)}};
  // Each message follows "JSON member '".
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { js::object_get_str_or_throw(o, "n"); }, "n' is int, expected string"},
      {[&] { js::object_get_bool_or_throw(o, "s"); }, "s' is string, expected bool"},
      {[&] { js::object_get_uint64_or_throw(o, "n"); }, "n' is out of range for uint64: -3"},
      {[&] { js::object_get_int64_or_throw(o, "big"); },
       "big' is out of range for int64: 18446744073709551615"},
      {[&] { js::object_get_integer_or_throw<uint16_t>(o, "n"); },
       "n' is out of range for uint16: -3"},
      {[&] { js::object_get_integer_or_throw<int>(o, "big"); },
       "big' is out of range for int32: 18446744073709551615"},
      {[&] { js::object_get_integer_or_throw<int>(o, "s"); }, "s' is string, expected int"},
      {[&] { js::object_get_array_or_throw(o, "s"); }, "s' is string, expected array"}};
  for (const auto& [get, message] : cases) {
    try {
      get();
      ADD_FAILURE() << "no throw: " << message;
    } catch (const js::Error& e) {
      EXPECT_EQ("JSON member '" + message, e.what());
    }
  }
}

// A lenient read reports whether it took the member; on a mismatch the target stays. The
// common reads are driven through extract(); these are the edges it does not reach.
TEST(Value, LenientObjectAccessorsLeaveTheTargetOnMismatch) {
  const js::Object o{{"s", js::Value("x")}, {"n", js::Value(-3)},
                     {"big", js::Value(UINT64_MAX)}, {"r", js::Value(2.5)},
                     {"port", js::Value(4294967739ll)},  // 2^32 + 443
                     {"wide_port", js::Value(9223372036854776251ull)}};  // 2^63 + 443
  long l = 9;
  double d = 0;
  int i = 0;
  unsigned int u = 0;
  EXPECT_FALSE(js::object_get(o, "big", l) || js::object_get(o, "r", l));
  // A number the target cannot hold is no number of its type, whatever its low bits.
  EXPECT_FALSE(js::object_get(o, "port", i) || js::object_get(o, "port", u) ||
               js::object_get(o, "wide_port", u) || js::object_get(o, "n", u));
  EXPECT_EQ(i + u, 0u);
  EXPECT_TRUE(js::object_get(o, "n", d));
  EXPECT_EQ(l + d, 6);
  secure_string sec("keep");
  EXPECT_FALSE(js::object_get(o, "s", sec));
  EXPECT_EQ(secure_string("keep"), sec);
  EXPECT_EQ(nullptr, js::object_get_str(o, "n"));
}

}  // namespace
