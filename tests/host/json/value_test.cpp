#include "json/value.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace js = json_spirit;

namespace {

// Pointers to characters never become a bool, wide unsigned never a real.
TEST(Value, ConstructorsPickTheExpectedType) {
  const char* none = nullptr;
  EXPECT_EQ(js::str_type, js::Value(none).type());
  EXPECT_EQ("", js::Value(none).get_str());
  EXPECT_EQ(js::int_type, js::Value(UINT64_MAX).type());
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

// A lenient read reports whether it took the member; on a mismatch the target stays.
TEST(Value, LenientObjectAccessorsLeaveTheTargetOnMismatch) {
  js::Object o{{"s", js::Value("x")}, {"n", js::Value(-3)}, {"big", js::Value(UINT64_MAX)},
               {"r", js::Value(2.5)}, {"w", js::Value(int64_t(4294967301))}};
  auto read = [&o](const char* key, auto target) {
    const bool ok = js::object_get(o, key, target);
    std::ostringstream os;
    os << ok << ":" << target;
    return os.str();
  };
  EXPECT_EQ((std::vector<std::string>{"0:keep", "0:keep", "1:x", "0:9", "1:18446744073709551615",
                                      "0:9", "0:9", "1:-3", "1:5", "0:9", "1:-3"}),
            (std::vector<std::string>{read("n", std::string("keep")), read("missing", std::string("keep")),
                                      read("s", std::string()), read("n", 9ul), read("big", 9ul),
                                      read("big", 9l), read("r", 9l), read("n", 9), read("w", 9),
                                      read("n", 9u), read("n", 0.0)}));
  secure_string sec("keep");
  EXPECT_FALSE(js::object_get(o, "s", sec));
  EXPECT_EQ(secure_string("keep"), sec);
  EXPECT_EQ(nullptr, js::object_get_str(o, "n"));
  EXPECT_EQ(nullptr, js::object_get_value(o, "missing"));
}

}  // namespace
