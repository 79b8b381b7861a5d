#include "json_spirit/extract.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <string>

namespace js = json_spirit;

namespace {

const js::Object& doc() {
  static const js::Object o = js::JSON_Load(
      R"({"host":"cloud.local","port":8443,"ssl":true,"big_port":70000,)"
      R"("neg":-1,"wide":4294967301,"arr":[1,2],"sub":{"k":"v"},"num":5})").get_obj();
  return o;
}

std::string text(const std::string& v) { return v; }
std::string text(const js::Object& v) { return "object of " + std::to_string(v.size()); }
std::string text(const js::Array& v) { return "array of " + std::to_string(v.size()); }
template <typename T> std::string text(const T& v) { return std::to_string(v); }
template <typename T> std::string text(const T* v) { return v == nullptr ? "null" : text(*v); }

// Reads `key` into a target that starts as `start`: what the target holds after, or
// "throws".
template <typename T>
std::string read(const char* key, T start, js::Flags flags) {
  try {
    js::extract(doc()).get(key, start, flags);
  } catch (const js::Error&) {
    return "throws";
  }
  return text(start);
}

// One row per member read into a target type: what a lenient and a strict read leave in
// the target. Lenient reads keep the target of a missing or mistyped member; narrowing
// reads keep the low bits; pointer reads always assign.
TEST(Extract, ReadsByTargetType) {
  const struct { const char* name; std::string (*read)(js::Flags); const char* lenient, *strict; } rows[] = {
      {"string", [](js::Flags f) { return read<std::string>("host", "kept", f); }, "cloud.local", "cloud.local"},
      {"number as string", [](js::Flags f) { return read<std::string>("port", "kept", f); }, "kept", "throws"},
      {"16-bit port", [](js::Flags f) { return read<unsigned short>("port", 443, f); }, "8443", "8443"},
      {"missing", [](js::Flags f) { return read<long>("missing", 7, f); }, "7", "throws"},
      {"bool", [](js::Flags f) { return read<bool>("ssl", false, f); }, "1", "1"},
      {"number as bool", [](js::Flags f) { return read<bool>("port", false, f); }, "0", "throws"},
      {"object", [](js::Flags f) { return read<js::Object>("sub", js::Object(), f); }, "object of 1", "object of 1"},
      {"string as object", [](js::Flags f) { return read<js::Object>("host", js::Object{{"x", js::Value(1)}}, f); }, "object of 1", "throws"},
      {"16-bit from 70000", [](js::Flags f) { return read<unsigned short>("big_port", 0, f); }, "4464", "4464"},
      {"int from 2^32+5", [](js::Flags f) { return read<int>("wide", 0, f); }, "5", "5"},
      {"negative as unsigned long", [](js::Flags f) { return read<unsigned long>("neg", 3, f); }, "3", "throws"},
      {"negative as 16 bits", [](js::Flags f) { return read<unsigned short>("neg", 0, f); }, "65535", "throws"},
      {"string pointer", [](js::Flags f) { return read<const std::string*>("host", nullptr, f); }, "cloud.local", "cloud.local"},
      {"number as string pointer", [](js::Flags f) { return read<const std::string*>("num", &doc().at("host").get_str(), f); }, "null", "throws"},
      {"missing pointer", [](js::Flags f) { return read<const js::Array*>("missing", &doc().at("arr").get_array(), f); }, "null", "throws"},
      {"array pointer", [](js::Flags f) { return read<const js::Array*>("arr", nullptr, f); }, "array of 2", "array of 2"},
      {"object pointer", [](js::Flags f) { return read<const js::Object*>("sub", nullptr, f); }, "object of 1", "object of 1"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.read(js::FG_NOTHROW), row.lenient) << row.name;
    EXPECT_EQ(row.read(js::FG_THROW), row.strict) << row.name;
  }
}

TEST(Extract, ThrowingChainReadsInOrderAndStopsAtTheFirstFailure) {
  std::string a = "a0", b = "b0", c = "c0";
  EXPECT_THROW(js::extract_or_throw(doc())("host", a)("port", b)("sub", c), js::Error);
  EXPECT_EQ(a + b + c, "cloud.localb0c0");  // read before the failure, mistyped, never read
  const js::Object* sub = nullptr;
  js::extract(doc())("missing", a)("sub", sub);
  EXPECT_EQ(&doc().at("sub").get_obj(), sub);  // pointers into the document itself
  EXPECT_EQ(nullptr, js::object_get_any_ptr<const js::Array>(doc(), "sub"));
  EXPECT_EQ(&doc().at("arr").get_array(), js::object_get_any_ptr<const js::Array>(doc(), "arr"));
}

}  // namespace
