#include "json/json_generator.h"

#include "json/json_load.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace js = json_spirit;

namespace {

// A record as the host's record classes write themselves: an object, member by member.
class Piece : public JSON_Generator {
 public:
  std::string name;
  js::Value extra;

  yajl_gen_status generate(yajl_gen gen) const override {
    yajl_gen_status st = yajl_gen_map_open(gen);
    if (st == yajl_gen_status_ok) st = key(gen, "name");
    if (st == yajl_gen_status_ok) st = yajl_gen_value(gen, js::Value(name));
    if (st == yajl_gen_status_ok) st = key(gen, "extra");
    if (st == yajl_gen_status_ok) st = yajl_gen_value(gen, extra);
    return st == yajl_gen_status_ok ? yajl_gen_map_close(gen) : st;
  }

 private:
  static yajl_gen_status key(yajl_gen gen, const char* k) {
    return yajl_gen_string(gen, reinterpret_cast<const unsigned char*>(k), std::strlen(k));
  }
};

TEST(JSON_Generator, RecordWritesItselfThroughTheBase) {
  Piece p;
  p.name = "vol-1";
  p.extra = js::JSON_Load("{\"size\":18446744073709551615,\"ok\":[true,null]}");
  const JSON_Generator& base = p;
  EXPECT_EQ("{\"name\":\"vol-1\",\"extra\":{\"ok\":[true,null],\"size\":18446744073709551615}}",
            base.to_json());

  Piece copy = p;  // the base copies nothing, the record its own members
  copy.name = "vol-2";
  EXPECT_EQ("vol-1", p.name);
  EXPECT_EQ(copy.extra, p.extra);

  std::unique_ptr<JSON_Generator> owned(new Piece(copy));
  EXPECT_NE(std::string::npos, owned->to_json(true).find("\"vol-2\""));
}

TEST(JSON_Generator, FailuresReachTheCaller) {
  Piece p;
  p.extra = js::Value(js::Array{js::Value(NAN)});
  EXPECT_EQ("", p.to_json());

  yajl_gen gen = yajl_gen_alloc(nullptr);
  EXPECT_EQ(yajl_gen_invalid_number, yajl_gen_value(gen, js::Value(INFINITY)));
  yajl_gen_free(gen);

  gen = yajl_gen_alloc(nullptr);
  ASSERT_EQ(yajl_gen_status_ok, yajl_gen_map_open(gen));
  EXPECT_EQ(yajl_gen_keys_must_be_strings, yajl_gen_value(gen, js::Value(1)));
  yajl_gen_free(gen);
}

TEST(JSON_Generator, NullValueWritesNull) {
  EXPECT_EQ("null", js::generate_text(false, [](yajl_gen g) {
              return yajl_gen_value(g, js::Value());
            }));
}

}  // namespace
