#include "json/value.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace js = json_spirit;

namespace {

TEST(Value, ConstructorsPickTheExpectedType) {
  const char* text = "x";
  char buf[] = "y";
  const char* none = nullptr;
  struct Case {
    js::Value v;
    js::Value_type type;
  } cases[] = {
      // Pointers to characters never become a bool, wide unsigned never a real.
      {js::Value("x"), js::str_type},
      {js::Value(text), js::str_type},
      {js::Value(buf), js::str_type},
      {js::Value(none), js::str_type},
      {js::Value(secure_string("k")), js::secure_str_type},
      {js::Value(static_cast<unsigned short>(65535)), js::int_type},
      {js::Value(UINT64_MAX), js::int_type},
  };
  for (const Case& c : cases) EXPECT_EQ(c.type, c.v.type()) << js::value_type_name(c.type);
  EXPECT_EQ("", js::Value(none).get_str());
  EXPECT_EQ(65535, js::Value(static_cast<unsigned short>(65535)).get_int64());
}

// Which strict getters accept which values; every other combination throws.
TEST(Value, StrictGettersThrowOnTypeMismatch) {
  using Getter = std::function<void(const js::Value&)>;
  const std::vector<std::pair<std::string, Getter>> getters = {
      {"obj", [](const js::Value& v) { v.get_obj(); }},
      {"array", [](const js::Value& v) { v.get_array(); }},
      {"str", [](const js::Value& v) { v.get_str(); }},
      {"secure", [](const js::Value& v) { v.get_secure_str(); }},
      {"bool", [](const js::Value& v) { v.get_bool(); }},
      {"int", [](const js::Value& v) { v.get_int(); }},
      {"int64", [](const js::Value& v) { v.get_int64(); }},
      {"uint64", [](const js::Value& v) { v.get_uint64(); }},
      {"real", [](const js::Value& v) { v.get_real(); }},
  };
  struct Case {
    js::Value v;
    std::vector<std::string> accepted;
  } cases[] = {
      {js::Value(js::Object()), {"obj"}},
      {js::Value(js::Array()), {"array"}},
      {js::Value("s"), {"str"}},
      {js::Value(secure_string("k")), {"secure"}},
      {js::Value(false), {"bool"}},
      {js::Value(7), {"int", "int64", "uint64", "real"}},
      {js::Value(7.5), {"real"}},
      {js::Value(), {}},
  };
  for (const Case& c : cases) {
    for (const auto& g : getters) {
      bool accepted = false;
      for (const auto& a : c.accepted) accepted |= a == g.first;
      if (accepted) {
        EXPECT_NO_THROW(g.second(c.v)) << js::value_type_name(c.v.type()) << " " << g.first;
      } else {
        EXPECT_THROW(g.second(c.v), js::Error) << js::value_type_name(c.v.type()) << " " << g.first;
      }
    }
  }
}

TEST(Value, IntegerGettersCheckTheTargetRange) {
  const js::Value big(UINT64_MAX);
  EXPECT_TRUE(big.is_uint64());
  EXPECT_EQ(UINT64_MAX, big.get_uint64());
  EXPECT_THROW(big.get_int64(), js::Error);
  EXPECT_DOUBLE_EQ(18446744073709551615.0, big.get_real());

  EXPECT_FALSE(js::Value(static_cast<uint64_t>(INT64_MAX)).is_uint64());
  EXPECT_THROW(js::Value(-1).get_uint64(), js::Error);
  EXPECT_THROW(js::Value(-1).get_uint(), js::Error);
  EXPECT_THROW(js::Value(int64_t(1) << 40).get_int(), js::Error);
  EXPECT_EQ(INT_MIN, js::Value(INT_MIN).get_int());
  EXPECT_EQ(UINT_MAX, js::Value(UINT_MAX).get_uint());
  // The same number is equal whichever constructor made it.
  EXPECT_EQ(js::Value(5), js::Value(5ul));
  EXPECT_NE(js::Value(5), js::Value(5.0));
  EXPECT_NE(js::Value("k"), js::Value(secure_string("k")));
}

TEST(Value, CopiesAreDeepAndAssignmentFromOwnMemberIsSafe) {
  js::Object o;
  o["a"] = js::Value(js::Array{js::Value(1), js::Value("two")});
  js::Value v(o);
  js::Value copy = v;
  copy.get_obj()["a"].get_array().push_back(js::Value(3));
  EXPECT_EQ(2u, v.get_obj().at("a").get_array().size());

  // A value assigned one of its own members (copy and move).
  js::Value w = v;
  w = w.get_obj().at("a");
  EXPECT_EQ(js::Value(js::Array{js::Value(1), js::Value("two")}), w);
  w = std::move(w.get_array()[1]);
  EXPECT_EQ(js::Value("two"), w);
  const js::Value& same = w;
  w = same;  // self-assignment
  EXPECT_EQ(js::Value("two"), w);
}

TEST(Value, ThrowingObjectAccessorsNameTheKey) {
  js::Object o{{"s", js::Value("x")}, {"n", js::Value(-3)}, {"big", js::Value(UINT64_MAX)}};
  struct Case {
    std::function<void()> call;
    std::string message;
  } cases[] = {
      {[&] { js::object_get_str_or_throw(o, "missing"); }, "JSON member 'missing' not found"},
      {[&] { js::object_get_str_or_throw(o, "n"); }, "JSON member 'n' is int, expected string"},
      {[&] { js::object_get_bool_or_throw(o, "s"); }, "JSON member 's' is string, expected bool"},
      {[&] { js::object_get_uint64_or_throw(o, "n"); },
       "JSON member 'n' is out of range for uint64: -3"},
      {[&] { js::object_get_int64_or_throw(o, "big"); },
       "JSON member 'big' is out of range for int64: 18446744073709551615"},
      {[&] { js::object_get_array_or_throw(o, "s"); }, "JSON member 's' is string, expected array"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no throw: " << c.message;
    } catch (const js::Error& e) {
      EXPECT_EQ(c.message, e.what());
    }
  }
}

TEST(Value, LenientObjectAccessorsLeaveTheTargetOnMismatch) {
  js::Object o{{"s", js::Value("x")},     {"n", js::Value(-3)},
               {"big", js::Value(UINT64_MAX)}, {"r", js::Value(2.5)},
               {"o", js::Value(js::Object{{"k", js::Value(1)}})},
               {"w", js::Value(int64_t(4294967301))}};
  std::string s = "keep";
  EXPECT_FALSE(js::object_get(o, "n", s));
  EXPECT_FALSE(js::object_get(o, "missing", s));
  EXPECT_EQ("keep", s);
  EXPECT_TRUE(js::object_get(o, "s", s));
  EXPECT_EQ("x", s);

  unsigned long ul = 9;
  EXPECT_FALSE(js::object_get(o, "n", ul));  // negative
  EXPECT_EQ(9u, ul);
  EXPECT_TRUE(js::object_get(o, "big", ul));
  EXPECT_EQ(UINT64_MAX, ul);
  long l = 9;
  EXPECT_FALSE(js::object_get(o, "big", l));
  EXPECT_FALSE(js::object_get(o, "r", l));
  EXPECT_EQ(9, l);
  int i = 9;
  EXPECT_TRUE(js::object_get(o, "n", i));
  EXPECT_EQ(-3, i);
  EXPECT_TRUE(js::object_get(o, "w", i));  // narrower targets keep the low bits
  EXPECT_EQ(5, i);
  unsigned int ui = 9;
  EXPECT_FALSE(js::object_get(o, "n", ui));
  EXPECT_EQ(9u, ui);
  double d = 0;
  EXPECT_TRUE(js::object_get(o, "n", d));
  EXPECT_DOUBLE_EQ(-3.0, d);
  secure_string sec("keep");
  EXPECT_FALSE(js::object_get(o, "s", sec));
  EXPECT_EQ(secure_string("keep"), sec);

  EXPECT_EQ(nullptr, js::object_get_str(o, "n"));
  EXPECT_EQ(nullptr, js::object_get_array(o, "o"));
  ASSERT_NE(nullptr, js::object_get_object(o, "o"));
  js::object_get_object(o, "o")->emplace("added", js::Value(true));
  EXPECT_EQ(2u, o.at("o").get_obj().size());
  EXPECT_EQ(nullptr, js::object_get_value(o, "missing"));
}

}  // namespace
