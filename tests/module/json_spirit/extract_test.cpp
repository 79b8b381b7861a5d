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

// Reads `key` into a target that starts as `start`, leniently and strictly: what the
// target holds after each read, or "throws", as "lenient/strict".
template <typename T>
std::string read(const char* key, T target, js::Flags flags) {
  try {
    js::extract(doc()).get(key, target, flags);
  } catch (const js::Error&) {
    return "throws";
  }
  return text(target);
}
template <typename T>
std::string read(const char* key, T start) {
  return read(key, start, js::FG_NOTHROW) + "/" + read(key, start, js::FG_THROW);
}

// One row per member read into a target type. Lenient reads keep the target of a missing
// or mistyped member, and of a number the target cannot hold, which strict reads refuse
// alike; pointer reads always assign.
TEST(Extract, ReadsByTargetType) {
  const std::string* host = &doc().at("host").get_str();
  const js::Array* arr = &doc().at("arr").get_array();
  using Ushort = unsigned short;
  const std::pair<std::string, const char*> rows[] = {
      {read<std::string>("host", "kept"), "cloud.local/cloud.local"},
      {read<std::string>("port", "kept"), "kept/throws"},  // a number as a string
      {read<long>("missing", 7), "7/throws"},
      {read<bool>("port", false), "0/throws"},
      {read<js::Object>("host", js::Object{{"x", js::Value(1)}}), "object of 1/throws"},
      {read<Ushort>("port", 0), "8443/8443"},
      {read<Ushort>("big_port", 0), "0/throws"},  // 70000
      {read<int>("wide", 0), "0/throws"},         // 2^32 + 5
      {read<int>("neg", 0), "-1/-1"},
      {read<unsigned long>("neg", 3), "3/throws"},
      {read<Ushort>("neg", 0), "0/throws"},
      {read<const std::string*>("host", nullptr), "cloud.local/cloud.local"},
      {read<const std::string*>("num", host), "null/throws"},
      {read<const js::Array*>("missing", arr), "null/throws"},
  };
  for (size_t i = 0; i < std::size(rows); ++i) EXPECT_EQ(rows[i].first, rows[i].second) << i;
}

TEST(Extract, ThrowingChainReadsInOrderAndStopsAtTheFirstFailure) {
  std::string a = "a0", b = "b0", c = "c0";
  EXPECT_THROW(js::extract_or_throw(doc())("host", a)("port", b)("sub", c), js::Error);
  EXPECT_EQ(a + b + c, "cloud.localb0c0");  // read before the failure, mistyped, never read
  const js::Object* sub = nullptr;
  js::extract(doc())("missing", a)("sub", sub);
  EXPECT_EQ(&doc().at("sub").get_obj(), sub);  // pointers into the document itself
}

}  // namespace
